// A meter that speaks raw SCPI on a socket (port 5025 by convention): a connection within a time limit,
// then lines.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "powermeter/Transports.h"

namespace powermeter {

namespace {

class TcpTransport : public Transport {
public:
    TcpTransport(std::string address, int fd) : lines_(fd, address, true), address_(std::move(address)) {}

    void Write(const std::string &request) override { lines_.WriteRequest(request, std::chrono::seconds(1)); }
    std::string ReadLine(std::chrono::milliseconds limit) override { return lines_.ReadLine(limit); }
    std::string Address() const override { return address_; }

private:
    FdLines lines_;
    std::string address_;
};

// A connected, non-blocking socket, or -1 with the reason in `why`.
int Connect(const addrinfo &entry, std::chrono::milliseconds limit, std::string &why) {
    const int fd = ::socket(entry.ai_family, entry.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, entry.ai_protocol);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (::connect(fd, entry.ai_addr, entry.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            why = std::strerror(errno);
            ::close(fd);
            return -1;
        }
        pollfd wait{fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&wait, 1, static_cast<int>(limit.count()));
        } while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t size = sizeof error;
        if (ready == 0) {
            why = "no connection within " + std::to_string(limit.count()) + " ms";
            ::close(fd);
            return -1;
        }
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            why = std::strerror(error != 0 ? error : errno);
            ::close(fd);
            return -1;
        }
    }
    // Requests are short and each waits for its reply.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

std::unique_ptr<Transport> OpenTcp(const std::string &address, const std::string &host, int port,
                                   std::chrono::milliseconds connectLimit) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0)
        throw MeterError(address + ": cannot resolve " + host + " (" + ::gai_strerror(status) + ")");
    std::string why = "no address";
    int fd = -1;
    for (const addrinfo *entry = found; entry != nullptr && fd < 0; entry = entry->ai_next)
        fd = Connect(*entry, connectLimit, why);
    ::freeaddrinfo(found);
    if (fd < 0)
        throw MeterError(address + ": cannot connect (" + why + ")");
    return std::make_unique<TcpTransport>(address, fd);
}

} // namespace powermeter
