// The meter's lines: its pseudo-terminal and its TCP socket, the answer delay and the injected faults.
#include "MeterLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "Line.h"

namespace sim {

namespace {

// A peer that sends this much without a newline is not speaking to a meter.
constexpr std::size_t kMaxLine = 4096;
// What "meter garbage on" answers instead: no number, and bytes no meter sends.
const char kGarbage[] = "#\x7f?E+\x15*~";

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string readLink(const std::string &path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

// "127.0.0.1:PORT" as a loopback or other IPv4 address.
sockaddr_in listenAddress(const std::string &text) {
    const std::size_t colon = text.rfind(':');
    sockaddr_in address{};
    address.sin_family = AF_INET;
    const auto port = colon == std::string::npos ? std::nullopt : parseInteger(text.substr(colon + 1), 0, 65535);
    if (!port || ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &address.sin_addr) != 1)
        throw std::runtime_error("meter socket: expected IPV4:PORT, got '" + text + "'");
    address.sin_port = htons(static_cast<std::uint16_t>(*port));
    return address;
}

} // namespace

// The terminal's name for the meter's users: a COM link in the port folder, or a link at a path of the
// caller's choosing (say, a stand-in for /dev/usbtmc0).
class MeterLine::Link {
public:
    Link(const std::string &name, const std::string &target) {
        if (isPortName(name))
            portLink_ = std::make_unique<PortLink>(name, target);
        else
            path_ = name;
        repoint(target);
    }
    ~Link() {
        if (!path_.empty() && readLink(path_) == target_)
            ::unlink(path_.c_str());
    }
    void repoint(const std::string &target) {
        target_ = target;
        if (portLink_) {
            portLink_->repoint(target);
            return;
        }
        deviceside::ReplaceLink(path_, target);
    }

private:
    std::unique_ptr<PortLink> portLink_;
    std::string path_;
    std::string target_;
};

MeterLine::MeterLine(const MeterOptions &options, Transcript &transcript, Reading reading)
    : options_(options), transcript_(transcript), reading_(std::move(reading)), model_(options.kind) {
    try {
        if (!options_.port.empty()) {
            openTerminal();
            link_ = std::make_unique<Link>(options_.port, slavePath_);
        }
        if (!options_.listen.empty()) {
            listen(listenAddress(options_.listen));
        }
    } catch (...) {
        closeTerminal();
        if (listener_ >= 0)
            ::close(listener_);
        throw;
    }
}

void MeterLine::listen(const sockaddr_in &address) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        fail("socket");
    // The same port again after a hang-up, while the old connections linger in TIME_WAIT.
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listener_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0) {
        const int error = errno;
        ::close(listener_);
        listener_ = -1;
        errno = error;
        fail("meter socket " + options_.listen);
    }
    socklen_t size = sizeof bound_;
    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&bound_), &size);
    char host[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &bound_.sin_addr, host, sizeof host);
    tcpAddress_ = std::string(host) + ":" + std::to_string(ntohs(bound_.sin_port));
}

MeterLine::~MeterLine() {
    link_.reset();
    hangUp();
}

void MeterLine::openTerminal() {
    deviceside::PseudoTerminal pty = deviceside::openPseudoTerminal();
    master_ = pty.master;
    slave_ = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0) {
        const int error = errno;
        closeTerminal();
        errno = error;
        fail("open " + pty.slavePath);
    }
    deviceside::setLine(slave_);
    deviceside::setLine(master_);
    slavePath_ = pty.slavePath;
    terminalInput_.clear();
}

void MeterLine::closeTerminal() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = -1;
    master_ = -1;
}

void MeterLine::hangUp() {
    closeTerminal();
    for (const Client &client : clients_)
        ::close(client.fd);
    clients_.clear();
    // An unplugged meter takes no connections either.
    if (listener_ >= 0)
        ::close(listener_);
    listener_ = -1;
    pending_.clear();
    hangUpNext_ = false;
}

std::string MeterLine::control(const std::string &command, const std::string &argument, TimePoint now) {
    const auto onOff = [&](bool &flag) {
        if (argument != "on" && argument != "off")
            return "error meter " + command + ": expected on or off";
        flag = argument == "on";
        transcript_.meterEvent(command + " " + argument, now);
        return std::string("ok");
    };
    if (command == "silent")
        return onOff(silent_);
    if (command == "garbage")
        return onOff(garbage_);
    if (command == "over")
        return onOff(model_.over);
    if (command == "delay") {
        const auto ms = parseInteger(argument, 0, 60000);
        if (!ms)
            return "error meter delay: expected 0..60000 ms";
        options_.delayMs = static_cast<int>(*ms);
        transcript_.meterEvent("delay " + argument, now);
        return "ok";
    }
    if (command == "hangup" && argument.empty()) {
        transcript_.meterEvent("hangup", now);
        hangUp();
        return "ok";
    }
    if (command == "hangup" && argument == "next") {
        hangUpNext_ = true;
        transcript_.meterEvent("hangup next", now);
        return "ok";
    }
    if (command == "reopen" && argument.empty()) {
        try {
            hangUp();
            if (!options_.port.empty()) {
                openTerminal();
                link_->repoint(slavePath_);
            }
            if (!tcpAddress_.empty())
                listen(bound_);
        } catch (const std::exception &e) {
            return std::string("error meter reopen: ") + e.what();
        }
        // The terminal's new path, or the socket's address, which stays.
        const std::string where = options_.port.empty() ? tcpAddress_ : slavePath_;
        transcript_.meterEvent("reopen " + where, now);
        return "ok " + where;
    }
    return "error unknown meter command: " + command + (argument.empty() ? "" : " " + argument);
}

void MeterLine::addPollFds(std::vector<pollfd> &fds) {
    firstIndex_ = fds.size();
    polled_.clear();
    if (master_ >= 0)
        polled_.push_back({master_, POLLIN, 0});
    if (listener_ >= 0)
        polled_.push_back({listener_, POLLIN, 0});
    for (const Client &client : clients_)
        polled_.push_back({client.fd, POLLIN, 0});
    fds.insert(fds.end(), polled_.begin(), polled_.end());
}

void MeterLine::handlePoll(const std::vector<pollfd> &fds, TimePoint now) {
    // What was polled stays as it was asked for, even when a hang-up below closes descriptors.
    const std::vector<pollfd> polled = polled_;
    for (std::size_t i = 0; i < polled.size(); ++i) {
        const short revents = fds[firstIndex_ + i].revents;
        if (revents == 0)
            continue;
        const int fd = polled[i].fd;
        if (fd == master_ && master_ >= 0) {
            readFrom(fd, terminalInput_, -1, now);
        } else if (fd == listener_) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client >= 0) {
                clients_.push_back({client, {}});
                transcript_.meterEvent("tcp connected", now);
            }
        } else {
            const auto found =
                std::find_if(clients_.begin(), clients_.end(), [fd](const Client &client) { return client.fd == fd; });
            if (found != clients_.end())
                readFrom(fd, found->input, fd, now);
        }
    }
}

void MeterLine::readFrom(int fd, std::string &input, int client, TimePoint now) {
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        // The terminal's master cannot see an end while its own slave is open; a socket client left.
        if (client >= 0)
            closeClient(fd);
        return;
    }
    input.append(buffer, static_cast<std::size_t>(n));
    // Each query may hang up the line and so clear the buffer under this loop.
    for (std::size_t end; (end = input.find('\n')) != std::string::npos;) {
        std::string line = input.substr(0, end);
        input.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        onQuery(line, client, now);
        if (client < 0 ? master_ < 0
                       : std::none_of(clients_.begin(), clients_.end(), [fd](const Client &c) { return c.fd == fd; }))
            return;
    }
    if (input.size() > kMaxLine) {
        transcript_.meterEvent("dropped " + std::to_string(input.size()) + " bytes without a line end", now);
        input.clear();
    }
}

void MeterLine::onQuery(const std::string &line, int client, TimePoint now) {
    transcript_.meterQuery(line, now);
    ++queries_;
    // The reading belongs to the moment the query ended, as the meter samples when asked.
    const std::optional<std::string> answer =
        model_.answer(line, [this, now](int samples) { return reading_(now, samples); });
    if (!answer)
        return;
    if (silent_) {
        transcript_.meterEvent("silent " + *answer, now);
        return;
    }
    std::string bytes = (garbage_ ? std::string(kGarbage) : *answer) + model_.terminator();
    const bool hangUpAfter = hangUpNext_;
    if (hangUpAfter) {
        hangUpNext_ = false;
        bytes.resize(bytes.size() / 2);
    }
    pending_.push_back({now + std::chrono::milliseconds(options_.delayMs), client, std::move(bytes), hangUpAfter});
}

std::optional<TimePoint> MeterLine::nextDeadline() const {
    std::optional<TimePoint> next;
    for (const Pending &pending : pending_) {
        if (!next || pending.due < *next)
            next = pending.due;
    }
    return next;
}

void MeterLine::onTime(TimePoint now) {
    // In the order they fell due; a hang-up empties the list.
    for (;;) {
        const auto due = std::min_element(pending_.begin(), pending_.end(),
                                          [](const Pending &a, const Pending &b) { return a.due < b.due; });
        if (due == pending_.end() || due->due > now)
            return;
        const Pending pending = *due;
        pending_.erase(due);
        transcript_.meterReply(pending.bytes, now);
        write(pending.client, pending.bytes);
        if (pending.hangUpAfter) {
            transcript_.meterEvent("hangup", now);
            hangUp();
        }
    }
}

void MeterLine::write(int client, const std::string &bytes) {
    if (client < 0) {
        // A short reply fits in the terminal's buffer; one that does not is lost, as on a full line.
        if (master_ >= 0 && ::write(master_, bytes.data(), bytes.size()) < 0)
            transcript_.meterEvent(std::string("write failed: ") + std::strerror(errno), Clock::now());
        return;
    }
    if (::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0)
        closeClient(client);
}

void MeterLine::closeClient(int fd) {
    const auto found =
        std::find_if(clients_.begin(), clients_.end(), [fd](const Client &client) { return client.fd == fd; });
    if (found == clients_.end())
        return;
    ::close(fd);
    clients_.erase(found);
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [fd](const Pending &p) { return p.client == fd; }),
                   pending_.end());
}

} // namespace sim
