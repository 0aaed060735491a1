// The exchange routines, one per reply form that a request expects, and one for moves and calibration.
#include "Member.h"
#include "Reply.h"

namespace KORVAN {

AttenuatorStatus Optivane::__Member__::__Expect_(const std::string &request, wire::ReplyForm expected,
                                                 wire::Purpose purpose, int *number, MotorInfo *info, int timeoutMs) {
    std::string reply;
    const AttenuatorStatus result = __SendAndListen_(request, &reply, timeoutMs);
    if (result != Ok)
        return result;
    return wire::Interpret(reply, expected, purpose, number, info);
}

AttenuatorStatus Optivane::__Member__::__ExpectStatus_(const std::string &request, int timeoutMs) {
    return __Expect_(request, wire::ReplyForm::Status, wire::Purpose::Confirm, nullptr, nullptr, timeoutMs);
}

AttenuatorStatus Optivane::__Member__::__ExpectPosition_(const std::string &request, int *position, int timeoutMs) {
    return __Expect_(request, wire::ReplyForm::Position, wire::Purpose::Read, position, nullptr, timeoutMs);
}

AttenuatorStatus Optivane::__Member__::__ExpectMove_(const std::string &request, int timeoutMs) {
    return __Expect_(request, wire::ReplyForm::Position, wire::Purpose::Confirm, nullptr, nullptr, timeoutMs);
}

AttenuatorStatus Optivane::__Member__::__ExpectOffset_(const std::string &request, int *offset, int timeoutMs) {
    return __Expect_(request, wire::ReplyForm::Offset, wire::Purpose::Read, offset, nullptr, timeoutMs);
}

AttenuatorStatus Optivane::__Member__::__ExpectInfo_(const std::string &request, MotorInfo *info, int timeoutMs) {
    return __Expect_(request, wire::ReplyForm::Info, wire::Purpose::Read, nullptr, info, timeoutMs);
}

} // namespace KORVAN
