// A meter on a serial line (or behind a USB adapter): raw 8N1 at the address's baud rate.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/ioctl.h>

#include "optivane/optivane.h"
#include "powermeter/Transports.h"

namespace powermeter {

namespace {

speed_t Speed(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B115200;
    }
}

class SerialTransport : public Transport {
public:
    SerialTransport(std::string address, int fd) : lines_(fd, address), address_(std::move(address)) {}
    ~SerialTransport() override {
        // The exclusive flag belongs to the terminal and would outlive this descriptor.
        if (claimed_)
            ::ioctl(lines_.fd(), TIOCNXCL);
    }

    void Claim() {
        ::ioctl(lines_.fd(), TIOCEXCL);
        claimed_ = true;
    }

    void Write(const std::string &request) override { lines_.WriteRequest(request, std::chrono::seconds(1)); }
    std::string ReadLine(std::chrono::milliseconds limit) override { return lines_.ReadLine(limit); }
    std::string Address() const override { return address_; }

private:
    FdLines lines_;
    std::string address_;
    bool claimed_ = false;
};

} // namespace

std::unique_ptr<Transport> OpenSerial(const std::string &address, const std::string &port, int baud) {
    const std::string path = KORVAN::Ports::DevicePath(port);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw MeterError(address + ": cannot open " + path + " (" + std::strerror(errno) + ")");
    auto transport = std::make_unique<SerialTransport>(address, fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        throw MeterError(address + ": " + path + " is in use by another program");
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        throw MeterError(address + ": " + path + " is no serial line (" + std::strerror(errno) + ")");
    transport->Claim();
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | CRTSCTS | PARENB);
    cfsetispeed(&tio, Speed(baud));
    cfsetospeed(&tio, Speed(baud));
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        throw MeterError(address + ": cannot set " + path + " to " + std::to_string(baud) + " baud (" +
                         std::strerror(errno) + ")");
    ::tcflush(fd, TCIOFLUSH);
    return transport;
}

} // namespace powermeter
