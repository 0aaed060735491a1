// POSIX side of the platform layer: COM names live as links in a per-user port folder.
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include "Platform.h"
#include "optivane/optivane.h"

namespace KORVAN::platform {

bool IsSerialDevice(asio::serial_port &port) {
    struct stat info {};
    return ::fstat(port.native_handle(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool ClaimExclusive(asio::serial_port &port) {
    const int fd = port.native_handle();
    // A child process (the updater, a simulator started by a test) must not inherit the port and, with
    // it, the lock below.
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    // TIOCEXCL keeps other users out but not root; the advisory lock makes the rule hold for everyone
    // who opens ports through this library.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return false;
    ::ioctl(fd, TIOCEXCL);
    return true;
}

void ReleaseExclusive(asio::serial_port &port) {
    // The exclusive flag belongs to the terminal, not to this descriptor: it outlives the close while
    // another party (a simulator) keeps the terminal open, and would lock out the next open.
    ::ioctl(port.native_handle(), TIOCNXCL);
}

void DiscardInput(asio::serial_port &port) {
    ::tcflush(port.native_handle(), TCIFLUSH);
}

std::string PortFolder() {
    const char *dataHome = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (dataHome != nullptr && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char *home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    return base + "/optivane/ports";
}

std::string DevicePath(const std::string &portName) {
    if (Ports::ComNumber(portName) < 0)
        return portName;
    return PortFolder() + "/" + portName;
}

bool PortExists(const std::string &portName) {
    struct stat info {};
    return ::stat(DevicePath(portName).c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

} // namespace KORVAN::platform
