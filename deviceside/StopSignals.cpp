// Turns SIGINT, SIGTERM and SIGHUP into a readable descriptor for the event loop (a signalfd), so
// that a program ends through its normal clean-up; SIGPIPE is ignored.
#include "StopSignals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include <sys/signalfd.h>

namespace deviceside {

// Blocked signals are never delivered asynchronously, so no handler runs at an awkward moment;
// they wait in the descriptor until the loop reads them.
StopSignals::StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        throw std::runtime_error(std::string("sigprocmask: ") + std::strerror(errno));
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0)
        throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    std::signal(SIGPIPE, SIG_IGN);
}

StopSignals::~StopSignals() {
    ::close(fd_);
}

int StopSignals::take() {
    signalfd_siginfo info{};
    if (::read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return 0;
    return static_cast<int>(info.ssi_signo);
}

} // namespace deviceside
