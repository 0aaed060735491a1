// The wire forms of the protocol: move targets written into requests, and replies recognised by
// their length and tag. Pure functions on strings, so they can be checked without a device.
#pragma once

#include <string>

#include "optivane/optivane.h"

namespace KORVAN::wire {

constexpr const char *kGetStatus = "0gs";
constexpr const char *kGetInfo = "0in";
constexpr const char *kGetOffset = "0go";
constexpr const char *kHome = "0ho0";
constexpr const char *kGetPosition = "0gp";
constexpr const char *kMoveAbsolute = "0ma";
constexpr const char *kOptimize = "0om";
constexpr const char *kCleanMechanics = "0cm";
constexpr const char *kStop = "0st";

// Total reply lengths, CR LF included.
constexpr std::size_t kStatusReplyLength = 7;
constexpr std::size_t kPositionReplyLength = 13;
constexpr std::size_t kOffsetReplyLength = 13;
constexpr std::size_t kInfoReplyLength = 35;

enum class ReplyForm { Status, Position, Offset, Info, Unknown };

// What a request asks for. A read must hand back a number, so a status reply of 0 is no answer to it;
// a command, a move or a calibration is confirmed by status 0 as by its data reply.
enum class Purpose { Read, Confirm };

ReplyForm Classify(const std::string &reply);

// An 8-digit upper-case hexadecimal word; negative counts as their 32-bit two's complement.
std::string HexWord(int steps);
// Plain decimal text, with a minus sign for negative counts.
std::string DecimalText(int steps);

// The number in reply[pos, pos + len), read like std::stoul in base 16 and taken as a 32-bit int.
// Throws std::invalid_argument / std::out_of_range as std::stoul does.
int HexField(const std::string &reply, std::size_t pos, std::size_t len);

// What a reply means to a request that expects the given form (Status for plain commands): the device
// status of a status reply, Ok for the expected data reply (its number or record stored where an
// output is given), otherwise SerialUndefinedError. A status reply of 0 to a read gives
// SerialUndefinedError, since it carries no number. Throws as HexField does when a field to be stored
// is unreadable.
AttenuatorStatus Interpret(const std::string &reply, ReplyForm expected, Purpose purpose, int *number, MotorInfo *info);

// Payload readers; each expects a reply of the matching form.
AttenuatorStatus StatusOf(const std::string &statusReply);
int NumberOf(const std::string &positionOrOffsetReply);
void FillInfo(const std::string &infoReply, MotorInfo *info);

} // namespace KORVAN::wire
