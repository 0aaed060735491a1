// A meter on Linux's USB test-and-measurement driver: one write() per message, one read() per reply, the
// driver's own time limit set to each read's. A terminal may stand in for the device (the simulator's).
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <linux/usb/tmc.h>
#include <sys/ioctl.h>

#include "powermeter/Transports.h"

namespace powermeter {

namespace {

// The driver refuses shorter limits.
constexpr unsigned kDriverShortestMs = 100;

class UsbtmcTransport : public Transport {
public:
    UsbtmcTransport(std::string address, int fd, bool terminal)
        : address_(std::move(address)), lines_(fd, address_), terminal_(terminal) {}

    void Write(const std::string &request) override {
        if (terminal_) {
            lines_.WriteRequest(request, std::chrono::seconds(1));
            return;
        }
        const std::string bytes = request + "\n";
        const ssize_t n = ::write(lines_.fd(), bytes.data(), bytes.size());
        if (n != static_cast<ssize_t>(bytes.size()))
            lines_.Fail(n < 0 ? std::string("write failed (") + std::strerror(errno) + ")" : "request cut short");
    }

    std::string ReadLine(std::chrono::milliseconds limit) override {
        if (terminal_)
            return lines_.ReadLine(limit);
        // The driver's read cannot be polled; its own time limit bounds it instead.
        const auto ms = static_cast<unsigned>(std::max<long long>(limit.count(), kDriverShortestMs));
        __u32 timeout = ms;
        if (::ioctl(lines_.fd(), USBTMC_IOCTL_SET_TIMEOUT, &timeout) != 0)
            lines_.Fail(std::string("cannot set the read's time limit (") + std::strerror(errno) + ")");
        char buffer[4096];
        const ssize_t n = ::read(lines_.fd(), buffer, sizeof buffer);
        if (n > 0)
            return WithoutTerminator(std::string(buffer, static_cast<std::size_t>(n)));
        if (n < 0 && errno == ETIMEDOUT)
            lines_.Fail("no reply within " + std::to_string(limit.count()) + " ms");
        if (n == 0)
            lines_.Fail("empty reply");
        lines_.Fail(std::string("read failed (") + std::strerror(errno) + "); the meter was unplugged or hung up");
    }

    std::string Address() const override { return address_; }

private:
    std::string address_;
    FdLines lines_;
    bool terminal_;
};

} // namespace

std::unique_ptr<Transport> OpenUsbtmc(const std::string &address, const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw MeterError(address + ": cannot open " + path + " (" + std::strerror(errno) + ")");
    const bool terminal = ::isatty(fd) != 0;
    auto transport = std::make_unique<UsbtmcTransport>(address, fd, terminal);
    if (terminal) {
        // A terminal standing in for the device: raw bytes, and waits bounded by poll().
        termios tio{};
        if (::tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return transport;
}

} // namespace powermeter
