// One name under which the device is offered: a pseudo-terminal registered as COMn in the port folder.
// A program connects by opening it as it would open the device; the requests it writes are cut as the
// device reads them.
#include "VirtualPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

#include <sys/inotify.h>
#include <sys/ioctl.h>

#include "Line.h"

namespace share {

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void drain(int fd) {
    char buffer[4096];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

VirtualPort::VirtualPort(std::string name, Listener listener)
    : name_(std::move(name)), listener_(std::move(listener)),
      parser_([this](deviceside::Request request) { listener_.request(*this, std::move(request)); }) {}

VirtualPort::~VirtualPort() {
    closeFds();
}

void VirtualPort::offer() {
    withdraw();
    const deviceside::PseudoTerminal pty = deviceside::openPseudoTerminal();
    master_ = pty.master;
    try {
        // Opened and closed once: before its first open the master reports no hang-up, so an unused
        // terminal would look connected; and the raw settings stay with the terminal for the program.
        const int slave = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave < 0)
            fail("open " + pty.slavePath);
        try {
            deviceside::setLine(slave);
        } catch (...) {
            ::close(slave);
            throw;
        }
        ::close(slave);
        watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch_ < 0 || inotify_add_watch(watch_, pty.slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0)
            fail("inotify " + pty.slavePath);
        slavePath_ = pty.slavePath;
        if (link_)
            link_->repoint(slavePath_);
        else
            link_ = std::make_unique<deviceside::PortLink>(name_, slavePath_);
    } catch (...) {
        closeFds();
        throw;
    }
}

void VirtualPort::withdraw() {
    closeFds();
    connected_ = false;
    parser_.reset();
}

bool VirtualPort::reply(const std::string &bytes) {
    std::size_t done = 0;
    while (connected_ && master_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        // A program that leaves 4 KiB of replies unread has no use for more.
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return connected_ && done == bytes.size();
}

void VirtualPort::addPollFds(std::vector<pollfd> &fds) {
    masterIndex_ = -1;
    watchIndex_ = -1;
    if (master_ < 0)
        return;
    // Without a program the master reports a hang-up for as long as that lasts: polled then, it would spin.
    if (connected_) {
        masterIndex_ = static_cast<int>(fds.size());
        fds.push_back({master_, POLLIN, 0});
    }
    watchIndex_ = static_cast<int>(fds.size());
    fds.push_back({watch_, POLLIN, 0});
}

void VirtualPort::handlePoll(const std::vector<pollfd> &fds, deviceside::TimePoint now) {
    const int masterIndex = masterIndex_;
    const int watchIndex = watchIndex_;
    if (masterIndex >= 0) {
        const short revents = fds[static_cast<std::size_t>(masterIndex)].revents;
        if (revents & POLLIN)
            readRequests(now);
        if (connected_ && master_ >= 0 && (revents & (POLLHUP | POLLERR)))
            onHangUp();
    }
    if (watchIndex >= 0 && watch_ >= 0 && (fds[static_cast<std::size_t>(watchIndex)].revents & POLLIN)) {
        drain(watch_);
        if (!connected_)
            checkConnected();
    }
}

void VirtualPort::checkConnected() {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR)))
        return;
    connected_ = true;
    ++connection_;
    parser_.reset();
    listener_.connected(*this);
}

void VirtualPort::onHangUp() {
    connected_ = false;
    parser_.reset();
    // What the program wrote and did not see answered goes with it.
    ::tcflush(master_, TCIFLUSH);
    // A program that ended without closing its port leaves the terminal exclusive, which would keep the
    // next one out, as no real port does. Clear it; where that is refused, give the name a new terminal.
    const int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave >= 0) {
        ::ioctl(slave, TIOCNXCL);
        ::close(slave);
    } else {
        try {
            offer();
        } catch (const std::exception &) {
            withdraw();
        }
    }
    listener_.disconnected(*this);
}

void VirtualPort::readRequests(deviceside::TimePoint now) {
    char buffer[256];
    while (connected_ && master_ >= 0) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0)
            return onHangUp();
        // A request may make the device hang up, which withdraws this port under the loop.
        for (ssize_t i = 0; i < n && connected_; ++i)
            parser_.feed(buffer[i], now);
    }
}

void VirtualPort::closeFds() {
    if (watch_ >= 0)
        ::close(watch_);
    if (master_ >= 0)
        ::close(master_);
    watch_ = -1;
    master_ = -1;
    masterIndex_ = -1;
    watchIndex_ = -1;
}

} // namespace share
