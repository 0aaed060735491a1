// Shares one device among the programs on its virtual ports: their requests go to the device whole, one
// exchange at a time and in the order they came, a stop ahead of the rest; each reply goes back to the
// port that asked, and only while it still waits for it.
#include "Switchboard.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

#include "Text.h"

namespace share {

namespace {

// The longest reply is 35 bytes; a line that grows past this without its end is not a reply.
constexpr std::size_t kMaxReplyBytes = 64;
const std::string kLineEnd = "\r\n";

void earliest(std::optional<deviceside::TimePoint> &next, std::optional<deviceside::TimePoint> candidate) {
    if (candidate && (!next || *candidate < *next))
        next = candidate;
}

std::chrono::milliseconds replyLimit(deviceside::Command command) {
    return command == deviceside::Command::Move || command == deviceside::Command::Home ? kMoveReplyLimit
                                                                                        : kQueryReplyLimit;
}

} // namespace

Switchboard::Switchboard(const Options &options) : now_(deviceside::Clock::now()), device_(options.device) {
    if (!options.log.empty())
        log_.open(options.log);
    if (const std::string error = device_.open(); !error.empty())
        throw std::runtime_error("cannot open " + options.device + ": " + error);
    VirtualPort::Listener listener{
        [this](VirtualPort &port, deviceside::Request request) { onRequest(port, std::move(request)); },
        [this](VirtualPort &port) { onConnected(port); },
        [this](VirtualPort &port) { onDisconnected(port); },
    };
    for (const std::string &name : options.names) {
        ports_.push_back(std::make_unique<VirtualPort>(name, listener));
        ports_.back()->offer();
    }
    log_.event(device_.name(), "shared as " + names());
}

Switchboard::~Switchboard() = default;

int Switchboard::run() {
    say("Sharing " + device_.name() + " as " + names());
    std::vector<pollfd> fds;
    for (;;) {
        std::optional<deviceside::TimePoint> next = lookAt_;
        if (onLine_)
            earliest(next, replyBy_);
        for (const auto &port : ports_)
            earliest(next, port->nextDeadline());

        fds.clear();
        fds.push_back({signals_.fd(), POLLIN, 0});
        const std::size_t deviceIndex = fds.size();
        if (device_.isOpen())
            fds.push_back({device_.fd(), POLLIN, 0});
        for (const auto &port : ports_)
            port->addPollFds(fds);

        timespec timeout{};
        if (next) {
            const auto wait =
                std::max<deviceside::Duration>(deviceside::Duration::zero(), *next - deviceside::Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }
        if (::ppoll(fds.data(), fds.size(), next ? &timeout : nullptr, nullptr) < 0 && errno != EINTR)
            throw std::runtime_error(std::string("ppoll: ") + std::strerror(errno));
        now_ = deviceside::Clock::now();

        if (fds[0].revents & POLLIN) {
            log_.event(device_.name(), "signal " + std::to_string(signals_.take()) + ", sharing ends");
            return 0;
        }
        // The device first: a reply that came is delivered before its time limit is looked at.
        if (device_.isOpen() && deviceIndex < fds.size() && fds[deviceIndex].fd == device_.fd() &&
            fds[deviceIndex].revents != 0)
            readDevice();
        for (const auto &port : ports_)
            port->handlePoll(fds, now_);
        for (const auto &port : ports_)
            port->onTime(now_);
        if (onLine_ && now_ >= replyBy_) {
            log_.event(onLine_->port->name(), "no reply within " + std::to_string(onLine_->limit.count()) + " ms to " +
                                                  deviceside::escapeBytes(onLine_->request));
            onLine_.reset();
            reply_.clear();
            sendNext();
        }
        if (lookAt_ && now_ >= *lookAt_)
            lookForDevice();
    }
}

void Switchboard::onRequest(VirtualPort &port, deviceside::Request request) {
    // Not forwarded: the device's answer to garbage is its own guess, and half a request would run
    // into the next port's.
    if (request.command == deviceside::Command::Invalid) {
        log_.event(port.name(), "not a request, dropped: " + deviceside::escapeBytes(request.text));
        return;
    }
    // A port that asks again has given up on what it asked before.
    forget(port, "superseded");
    const bool stop = request.command == deviceside::Command::Stop;
    Exchange exchange{&port, port.connection(), std::move(request.text), stop, replyLimit(request.command)};
    auto at = queue_.end();
    if (stop) {
        // Ahead of everything queued, behind the stops already there.
        at = std::find_if(queue_.begin(), queue_.end(), [](const Exchange &queued) { return !queued.stop; });
    }
    const std::size_t ahead = static_cast<std::size_t>(at - queue_.begin()) + (onLine_ ? 1 : 0);
    if (ahead > 0 || !device_.isOpen())
        log_.event(port.name(),
                   "queued " + deviceside::escapeBytes(exchange.request) + ", " + std::to_string(ahead) + " ahead");
    queue_.insert(at, std::move(exchange));
    sendNext();
}

void Switchboard::forget(VirtualPort &port, const char *why) {
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (it->port == &port) {
            log_.event(port.name(), std::string(why) + ", not sent: " + deviceside::escapeBytes(it->request));
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
    if (onLine_ && onLine_->port == &port)
        abandoned_ = true;
}

void Switchboard::onConnected(VirtualPort &port) {
    say(port.name() + ": a program connected");
    log_.event(port.name(), "connected");
}

void Switchboard::onDisconnected(VirtualPort &port) {
    forget(port, "disconnected");
    say(port.name() + ": the program disconnected");
    log_.event(port.name(), "disconnected");
}

void Switchboard::sendNext() {
    if (!device_.isOpen() || onLine_ || queue_.empty())
        return;
    Exchange exchange = std::move(queue_.front());
    queue_.pop_front();
    // Whatever the device sent since the last exchange answers no one.
    device_.discardInput();
    reply_.clear();
    log_.request(exchange.port->name(), exchange.request);
    if (!device_.write(exchange.request))
        return deviceHungUp();
    replyBy_ = now_ + exchange.limit;
    abandoned_ = false;
    onLine_ = std::move(exchange);
}

void Switchboard::readDevice() {
    char buffer[256];
    while (device_.isOpen()) {
        const ssize_t n = ::read(device_.fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0)
            return deviceHungUp();
        const std::string bytes(buffer, static_cast<std::size_t>(n));
        if (!onLine_) {
            log_.event(device_.name(), "unrequested, dropped: " + deviceside::escapeBytes(bytes));
            continue;
        }
        reply_ += bytes;
        const std::size_t end = reply_.find(kLineEnd);
        if (end != std::string::npos) {
            // What follows the line answers nothing that was asked; it goes before the next request does.
            const std::string line = reply_.substr(0, end + kLineEnd.size());
            const std::string rest = reply_.substr(line.size());
            reply_.clear();
            if (!rest.empty())
                log_.event(device_.name(), "unrequested, dropped: " + deviceside::escapeBytes(rest));
            finish(line);
        } else if (reply_.size() > kMaxReplyBytes) {
            log_.event(onLine_->port->name(), "reply without a line end, dropped: " + deviceside::escapeBytes(reply_));
            reply_.clear();
            onLine_.reset();
            sendNext();
        }
    }
}

void Switchboard::finish(const std::string &reply) {
    const Exchange exchange = std::move(*onLine_);
    onLine_.reset();
    VirtualPort &port = *exchange.port;
    if (abandoned_ || port.connection() != exchange.connection || !port.connected())
        log_.event(port.name(), "late reply, dropped: " + deviceside::escapeBytes(reply));
    else if (port.reply(reply))
        log_.reply(port.name(), reply);
    else
        log_.event(port.name(), "reply not taken: " + deviceside::escapeBytes(reply));
    sendNext();
}

void Switchboard::deviceHungUp() {
    device_.close();
    queue_.clear();
    onLine_.reset();
    reply_.clear();
    // Every program sees its line drop as it would with the device's own cable.
    for (const auto &port : ports_)
        port->withdraw();
    say(device_.name() + " hung up; so did " + names());
    log_.event(device_.name(), "hung up");
    lookAt_ = now_ + kDeviceRetry;
}

void Switchboard::lookForDevice() {
    if (!device_.open().empty()) {
        lookAt_ = now_ + kDeviceRetry;
        return;
    }
    lookAt_.reset();
    for (const auto &port : ports_)
        port->offer();
    say(device_.name() + " is back; offered again as " + names());
    log_.event(device_.name(), "back");
}

std::string Switchboard::names() const {
    std::string joined;
    for (const auto &port : ports_)
        joined += (joined.empty() ? "" : ", ") + port->name();
    return joined;
}

void Switchboard::say(const std::string &line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace share
