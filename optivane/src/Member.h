// The private record behind one Optivane handle: the port, its I/O context, the step scale, and the
// routines that every public operation is built from.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include <asio/io_context.hpp>
#include <asio/serial_port.hpp>

#include "Reply.h"
#include "optivane/optivane.h"

// A nested class takes the visibility of the exported class around it; the private record is no part of
// the library's interface, so its routines stay inside the library.
#if defined(_WIN32)
#define OPTIVANE_PRIVATE
#else
#define OPTIVANE_PRIVATE __attribute__((visibility("hidden")))
#endif

namespace KORVAN {

class OPTIVANE_PRIVATE Optivane::__Member__ {
public:
    // Default step scale of the device family; also the fixed bound of SetMotorSteps.
    static constexpr int kDefaultTd = 360;
    static constexpr int kDefaultPpd = 143360;

    std::mutex mutex;
    // Bound to ioContext's service, so it must be released first; ~__Member__ sees to that even when
    // closing failed.
    std::unique_ptr<asio::serial_port> port;
    asio::io_context ioContext;
    int td = kDefaultTd;
    int ppd = kDefaultPpd;
    double stepsPerDegree = static_cast<double>(kDefaultPpd) / kDefaultTd;

    ~__Member__();

    // Connection (Member.cpp).
    bool __Open_(const std::string &portName);
    void __Close_();

    // One request and its reply line within timeoutMs (Exchange.cpp).
    AttenuatorStatus __SendAndListen_(const std::string &request, std::string *reply, int timeoutMs);

    // One routine per expected reply form, all through __Expect_ (Protocol.cpp).
    AttenuatorStatus __Expect_(const std::string &request, wire::ReplyForm expected, wire::Purpose purpose, int *number,
                               MotorInfo *info, int timeoutMs);
    AttenuatorStatus __ExpectStatus_(const std::string &request, int timeoutMs);
    AttenuatorStatus __ExpectPosition_(const std::string &request, int *position, int timeoutMs);
    // A move or calibration: its position reply is discarded, and a status reply of 0 also confirms it.
    AttenuatorStatus __ExpectMove_(const std::string &request, int timeoutMs);
    AttenuatorStatus __ExpectOffset_(const std::string &request, int *offset, int timeoutMs);
    AttenuatorStatus __ExpectInfo_(const std::string &request, MotorInfo *info, int timeoutMs);

    // Angle moves and reads through the step scale (Conversion.cpp).
    AttenuatorStatus __MoveToDegree_(float degree, int timeoutMs);
    AttenuatorStatus __ReadDegree_(float *degree, int timeoutMs);
};

} // namespace KORVAN
