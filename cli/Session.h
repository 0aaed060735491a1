// One open device for one command: the port's profile, the handle, and the translation of every
// outcome into output or a Failure with its exit status.
#pragma once

#include <string>

#include "Arguments.h"
#include "frontend/PortProfile.h"
#include "optivane/optivane.h"

namespace cli {

struct Reading {
    int steps = 0;
    float degree = 0.0f;
    float transmittance = 0.0f;
};

class Session {
public:
    // Reads the port's profile and applies --offset and --span; no I/O.
    Session(const std::string &port, const Options &options);
    // Connects. Throws Failure (kExitLink, with the reason) when the port does not open.
    void Open();

    const std::string &port() const { return port_; }
    const frontend::PortProfile &profile() const { return profile_; }
    int timeoutMs() const { return timeoutMs_; }
    KORVAN::Optivane &handle() { return handle_; }

    // Throws Failure unless status is Ok: what names the operation for the message.
    void Check(KORVAN::AttenuatorStatus status, const std::string &what) const;
    // Runs one library call, turning the exceptions it documents into a Failure of the link.
    template <typename Call> KORVAN::AttenuatorStatus Guarded(Call &&call) const {
        try {
            return call();
        } catch (const std::exception &error) {
            throw Failure(kExitLink, port_ + ": unreadable reply from the device (" + error.what() + ")");
        }
    }

    // Steps, angle and transmittance, each read from the device. Throws Failure.
    Reading Read();
    // The same, returning the first result that is not Ok instead of throwing it.
    KORVAN::AttenuatorStatus TryRead(Reading *reading);
    // Closes the port and opens it again; false while it does not open.
    bool Reconnect();

private:
    bool Connect();

    std::string port_;
    frontend::PortProfile profile_;
    int timeoutMs_;
    KORVAN::Optivane handle_;
};

// The exit status for a device operation's result.
int ExitStatusOf(KORVAN::AttenuatorStatus status);

} // namespace cli
