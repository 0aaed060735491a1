// Reply recognition and payload parsing, and the two ways a move target is written.
#include "Reply.h"

#include <cstdint>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace KORVAN::wire {

ReplyForm Classify(const std::string &reply) {
    if (reply.size() < 3)
        return ReplyForm::Unknown;
    const std::string tag = reply.substr(1, 2);
    if (reply.size() == kStatusReplyLength && tag == "GS")
        return ReplyForm::Status;
    if (reply.size() == kPositionReplyLength && tag == "PO")
        return ReplyForm::Position;
    if (reply.size() == kOffsetReplyLength && tag == "HO")
        return ReplyForm::Offset;
    if (reply.size() == kInfoReplyLength && tag == "IN")
        return ReplyForm::Info;
    return ReplyForm::Unknown;
}

std::string HexWord(int steps) {
    std::ostringstream out;
    out << std::uppercase << std::hex << std::setfill('0') << std::setw(8) << static_cast<std::uint32_t>(steps);
    return out.str();
}

std::string DecimalText(int steps) {
    return std::to_string(steps);
}

int HexField(const std::string &reply, std::size_t pos, std::size_t len) {
    const std::string field = reply.substr(pos, len);
    unsigned long long value = 0;
    try {
        value = std::stoull(field, nullptr, 16);
    } catch (const std::invalid_argument &) {
        throw std::invalid_argument("invalid stoul argument");
    } catch (const std::out_of_range &) {
        throw std::out_of_range("stoul argument out of range");
    }
    // The device's words are 32 bits wide. Read the field as a 32-bit unsigned conversion would, so the
    // result does not depend on the width of unsigned long: a leading minus negates modulo 2^32.
    const auto sign = field.find_first_not_of(" \t\n\v\f\r");
    const bool negative = sign != std::string::npos && field[sign] == '-';
    const unsigned long long magnitude = negative ? 0ull - value : value;
    if (magnitude > 0xFFFFFFFFull)
        throw std::out_of_range("stoul argument out of range");
    const auto word = static_cast<std::uint32_t>(magnitude);
    return static_cast<int>(negative ? 0u - word : word);
}

AttenuatorStatus StatusOf(const std::string &statusReply) {
    return static_cast<AttenuatorStatus>(HexField(statusReply, 3, 2));
}

int NumberOf(const std::string &reply) {
    return HexField(reply, 3, 8);
}

void FillInfo(const std::string &reply, MotorInfo *info) {
    // Read both numbers before assigning anything, so an unreadable reply leaves the record as it was.
    const int td = HexField(reply, 21, 4);
    const int ppd = HexField(reply, 25, 8);
    info->serialNumber = reply.substr(5, 8);
    info->yearOfManufacture = reply.substr(13, 4);
    info->fr = reply.substr(17, 2);
    info->hr = reply.substr(19, 2);
    info->td = std::to_string(td);
    info->ppd = std::to_string(ppd);
}

AttenuatorStatus Interpret(const std::string &reply, ReplyForm expected, Purpose purpose, int *number,
                           MotorInfo *info) {
    const ReplyForm form = Classify(reply);
    if (expected != ReplyForm::Status && form == expected) {
        if (expected == ReplyForm::Info) {
            if (info != nullptr)
                FillInfo(reply, info);
        } else if (number != nullptr) {
            *number = NumberOf(reply);
        }
        return Ok;
    }
    if (form != ReplyForm::Status)
        return SerialUndefinedError;
    const AttenuatorStatus status = StatusOf(reply);
    // The field is one byte. A sign would let a damaged reply pose as a library code such as SerialClosed.
    if (status < 0 || status > 255)
        return SerialUndefinedError;
    return status == Ok && purpose == Purpose::Read ? SerialUndefinedError : status;
}

} // namespace KORVAN::wire
