// The four exchange routines, one per reply form that a request expects.
#include "Member.h"
#include "Reply.h"

namespace KORVAN {

namespace {

// A status reply that answers a data request carries no number. Status 0 would otherwise read as Ok
// with nothing in the output, so for data requests it counts as an unexpected reply.
AttenuatorStatus StatusInsteadOfData(const std::string &reply) {
    if (wire::Classify(reply) != wire::ReplyForm::Status)
        return SerialUndefinedError;
    const AttenuatorStatus status = wire::StatusOf(reply);
    return status == Ok ? SerialUndefinedError : status;
}

} // namespace

AttenuatorStatus Optivane::__Member__::__ExpectStatus_(const std::string &request, int timeoutMs) {
    std::string reply;
    const AttenuatorStatus result = __SendAndListen_(request, &reply, timeoutMs);
    if (result != Ok)
        return result;
    if (wire::Classify(reply) != wire::ReplyForm::Status)
        return SerialUndefinedError;
    return wire::StatusOf(reply);
}

AttenuatorStatus Optivane::__Member__::__ExpectPosition_(const std::string &request, int *position,
                                                          int timeoutMs) {
    std::string reply;
    const AttenuatorStatus result = __SendAndListen_(request, &reply, timeoutMs);
    if (result != Ok)
        return result;
    if (wire::Classify(reply) != wire::ReplyForm::Position)
        return StatusInsteadOfData(reply);
    if (position != nullptr)
        *position = wire::NumberOf(reply);
    return Ok;
}

AttenuatorStatus Optivane::__Member__::__ExpectOffset_(const std::string &request, int *offset, int timeoutMs) {
    std::string reply;
    const AttenuatorStatus result = __SendAndListen_(request, &reply, timeoutMs);
    if (result != Ok)
        return result;
    if (wire::Classify(reply) != wire::ReplyForm::Offset)
        return StatusInsteadOfData(reply);
    if (offset != nullptr)
        *offset = wire::NumberOf(reply);
    return Ok;
}

AttenuatorStatus Optivane::__Member__::__ExpectInfo_(const std::string &request, MotorInfo *info, int timeoutMs) {
    std::string reply;
    const AttenuatorStatus result = __SendAndListen_(request, &reply, timeoutMs);
    if (result != Ok)
        return result;
    if (wire::Classify(reply) != wire::ReplyForm::Info)
        return StatusInsteadOfData(reply);
    if (info != nullptr)
        wire::FillInfo(reply, info);
    return Ok;
}

} // namespace KORVAN
