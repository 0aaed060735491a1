// The real port that is shared: opened for exclusive use at 9600 8N1, as the library opens it, so that
// no other program reaches the device past the sharer.
#include "DevicePort.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include "Line.h"
#include "optivane/optivane.h"

namespace share {

namespace {

// A request is at most 11 bytes, which a serial driver always takes at once; the wait only covers a
// driver whose buffer is full of a previous request that the device did not read.
constexpr int kWriteWaitMs = 100;

} // namespace

std::string DevicePort::open() {
    close();
    const std::string path = KORVAN::Ports::DevicePath(name_);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return path + ": " + std::strerror(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        ::close(fd);
        return path + ": not a serial device";
    }
    // The same claim as the library's: TIOCEXCL keeps other users out, the lock also root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return path + ": in use by another program";
    }
    ::ioctl(fd, TIOCEXCL);
    try {
        deviceside::setLine(fd);
    } catch (const std::exception &e) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return path + ": " + e.what();
    }
    ::tcflush(fd, TCIOFLUSH);
    fd_ = fd;
    return {};
}

void DevicePort::close() {
    if (fd_ < 0)
        return;
    // The exclusive flag belongs to the terminal and would outlive this descriptor.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

void DevicePort::discardInput() {
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

bool DevicePort::write(const std::string &bytes) {
    std::size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteWaitMs);
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd_, POLLOUT, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0 || (p.revents & (POLLERR | POLLHUP)))
            return false;
    }
    return fd_ >= 0;
}

} // namespace share
