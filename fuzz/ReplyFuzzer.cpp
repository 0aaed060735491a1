// Any bytes as a reply: the first byte picks the request kind, the rest is what the device sent.
// Parsing may refuse a reply only through the exceptions the interface names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "Reply.h"

using namespace KORVAN;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    static constexpr wire::ReplyForm kExpected[] = {wire::ReplyForm::Status, wire::ReplyForm::Position,
                                                    wire::ReplyForm::Offset, wire::ReplyForm::Info};
    const wire::ReplyForm expected = kExpected[data[0] % 4];
    const wire::Purpose purpose = data[0] & 4 ? wire::Purpose::Confirm : wire::Purpose::Read;
    const std::string reply(reinterpret_cast<const char *>(data + 1), size - 1);
    int number = 0;
    MotorInfo info;
    try {
        const AttenuatorStatus result = wire::Interpret(reply, expected, purpose, &number, &info);
        // Ok is only ever the expected data reply, or status 0 to a request that it confirms.
        const wire::ReplyForm form = wire::Classify(reply);
        if (result == Ok && form != expected && !(form == wire::ReplyForm::Status && purpose == wire::Purpose::Confirm))
            std::abort();
        // A device status is a byte.
        if (result > 255 || result < SerialUndefinedError)
            std::abort();
    } catch (const std::invalid_argument &) {
    } catch (const std::out_of_range &) {
    }
    return 0;
}
