// Shares one device among the programs on its virtual ports: their requests go to the device whole, one
// exchange at a time and in the order they came, a stop ahead of the rest; each reply goes back to the
// port that asked, and only while it still waits for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Clock.h"
#include "DevicePort.h"
#include "LinkLog.h"
#include "RequestParser.h"
#include "StopSignals.h"
#include "VirtualPort.h"

namespace share {

// How long the device may take over one exchange before the line goes to the next request. A query is
// answered at once (the longest reply, the identity, is 37 ms on a 9600 baud line); a move is answered
// when the motor arrives, which the project's programs wait 3500 ms for.
constexpr std::chrono::milliseconds kQueryReplyLimit{1000};
constexpr std::chrono::milliseconds kMoveReplyLimit{3500};
// How often a device that hung up is looked for again.
constexpr std::chrono::milliseconds kDeviceRetry{200};

class Switchboard {
public:
    struct Options {
        std::string device;             // COMn or a path
        std::vector<std::string> names; // COMn under which it is offered
        std::string log;                // link log, empty for none
    };

    // Opens the device and offers it under every name; throws std::runtime_error.
    explicit Switchboard(const Options &options);
    ~Switchboard();
    Switchboard(const Switchboard &) = delete;
    Switchboard &operator=(const Switchboard &) = delete;

    // Until SIGINT, SIGTERM or SIGHUP; returns the exit code.
    int run();

private:
    struct Exchange {
        VirtualPort *port;
        std::uint64_t connection;
        std::string request;
        bool stop;
        std::chrono::milliseconds limit;
    };

    void onRequest(VirtualPort &port, deviceside::Request request);
    void onConnected(VirtualPort &port);
    void onDisconnected(VirtualPort &port);
    void forget(VirtualPort &port, const char *why);
    void sendNext();
    void readDevice();
    void finish(const std::string &reply);
    void deviceHungUp();
    void lookForDevice();
    std::string names() const;
    void say(const std::string &line);

    deviceside::StopSignals signals_;
    deviceside::TimePoint now_;
    LinkLog log_;
    DevicePort device_;
    std::vector<std::unique_ptr<VirtualPort>> ports_;

    std::deque<Exchange> queue_;
    std::optional<Exchange> onLine_;
    bool abandoned_ = false; // the port of onLine_ has given up on it
    deviceside::TimePoint replyBy_{};
    std::string reply_;
    std::optional<deviceside::TimePoint> lookAt_; // while the device is away
};

} // namespace share
