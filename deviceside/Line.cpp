// Serial line settings and pseudo-terminals, for the programs that stand on the device's side of a
// line: the simulator's terminal, the real port that is shared and the terminals that share it.
#include "Line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace deviceside {

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

void setLine(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        fail("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | CRTSCTS);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        fail("tcsetattr");
}

PseudoTerminal openPseudoTerminal() {
    PseudoTerminal pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0)
        fail("posix_openpt");
    char name[256];
    const int flags = fcntl(pty.master, F_GETFL);
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 || ptsname_r(pty.master, name, sizeof name) != 0 ||
        flags < 0 || fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        fcntl(pty.master, F_SETFD, FD_CLOEXEC) != 0) {
        const int error = errno;
        ::close(pty.master);
        errno = error;
        fail("pseudo-terminal");
    }
    pty.slavePath = name;
    return pty;
}

} // namespace deviceside
