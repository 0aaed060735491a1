// One name under which the device is offered: a pseudo-terminal registered as COMn in the port folder.
// A program connects by opening it as it would open the device; the requests it writes are cut as the
// device reads them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

#include "Clock.h"
#include "PortLink.h"
#include "RequestParser.h"

namespace share {

class VirtualPort {
public:
    struct Listener {
        std::function<void(VirtualPort &, deviceside::Request)> request;
        std::function<void(VirtualPort &)> connected;
        std::function<void(VirtualPort &)> disconnected;
    };

    VirtualPort(std::string name, Listener listener);
    ~VirtualPort();
    VirtualPort(const VirtualPort &) = delete;
    VirtualPort &operator=(const VirtualPort &) = delete;

    // A fresh terminal under the name; throws std::runtime_error.
    void offer();
    // Closes the terminal, so that a connected program sees its line drop as with a pulled cable. The
    // name stays in the port folder, pointing nowhere, until the next offer().
    void withdraw();

    const std::string &name() const { return name_; }
    bool connected() const { return connected_; }
    // Counts connections, so that a reply never reaches a later program on the same name.
    std::uint64_t connection() const { return connection_; }
    // Writes a reply to the connected program; false when none is connected.
    bool reply(const std::string &bytes);

    void addPollFds(std::vector<pollfd> &fds);
    void handlePoll(const std::vector<pollfd> &fds, deviceside::TimePoint now);
    std::optional<deviceside::TimePoint> nextDeadline() const { return parser_.nextDeadline(); }
    void onTime(deviceside::TimePoint now) { parser_.onTime(now); }

private:
    void checkConnected();
    void onHangUp();
    void readRequests(deviceside::TimePoint now);
    void closeFds();

    std::string name_;
    Listener listener_;
    deviceside::RequestParser parser_;
    std::unique_ptr<deviceside::PortLink> link_;
    int master_ = -1;
    std::string slavePath_;
    // Opens and closes of the terminal. The master reports a hang-up while no program holds the
    // terminal open; that state cannot be polled for its end, so these events wake the loop to look.
    int watch_ = -1;
    int masterIndex_ = -1;
    int watchIndex_ = -1;
    bool connected_ = false;
    std::uint64_t connection_ = 0;
};

} // namespace share
