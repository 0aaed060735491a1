// The control socket: a Unix stream socket through which tests steer the simulator at run time,
// one command per line, one answer line each, for any number of clients at once.
#include "Control.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unistd.h>
#include <utility>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace sim {

namespace {

// A client that sends this much without a newline is not speaking the protocol.
constexpr std::size_t kMaxLine = 4096;

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

Control::Control(const std::string &path, Handler handler) : path_(path), handler_(std::move(handler)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        throw std::runtime_error("control socket path is empty or too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    // Only a socket left behind by an earlier run is removed; any other file is the user's.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            throw std::runtime_error("control path exists and is not a socket: " + path);
        ::unlink(path.c_str());
    }

    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        fail("socket");
    if (::bind(listener_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
        const int error = errno;
        ::close(listener_);
        errno = error;
        fail("control socket " + path);
    }
}

Control::~Control() {
    for (const Client &client : clients_)
        ::close(client.fd);
    ::close(listener_);
    ::unlink(path_.c_str());
}

void Control::addPollFds(std::vector<pollfd> &fds) {
    firstIndex_ = fds.size();
    fds.push_back({listener_, POLLIN, 0});
    for (const Client &client : clients_) {
        short events = client.closing ? 0 : POLLIN;
        if (!client.output.empty())
            events |= POLLOUT;
        fds.push_back({client.fd, events, 0});
    }
}

void Control::handlePoll(const std::vector<pollfd> &fds) {
    // Clients accepted below are polled from the next round on; only those polled now are served.
    const std::size_t polled = std::min(clients_.size(), fds.size() - firstIndex_ - 1);
    std::vector<Client> kept;
    kept.reserve(clients_.size());
    for (std::size_t i = 0; i < clients_.size(); ++i) {
        Client &client = clients_[i];
        const short revents = i < polled ? fds[firstIndex_ + 1 + i].revents : 0;
        if (serve(client, revents))
            kept.push_back(std::move(client));
        else
            ::close(client.fd);
    }
    clients_ = std::move(kept);
    if (fds[firstIndex_].revents & POLLIN)
        accept();
}

void Control::accept() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        clients_.push_back({fd, {}, {}, false});
    }
}

bool Control::serve(Client &client, short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[1024];
        const ssize_t n = ::read(client.fd, buffer, sizeof buffer);
        if (n > 0)
            client.input.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            client.closing = true;
    }
    for (std::size_t end; (end = client.input.find('\n')) != std::string::npos;) {
        std::string line = client.input.substr(0, end);
        client.input.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        client.output += handler_(line) + "\n";
    }
    if (client.input.size() > kMaxLine) {
        client.output += "error line too long\n";
        client.input.clear();
        client.closing = true;
    }
    if (!flush(client))
        return false;
    return !(client.closing && client.output.empty());
}

bool Control::flush(Client &client) {
    while (!client.output.empty()) {
        const ssize_t n = ::send(client.fd, client.output.data(), client.output.size(), MSG_NOSIGNAL);
        if (n > 0) {
            client.output.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace sim
