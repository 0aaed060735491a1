// Line reading with a time limit on every wait, shared by the transports that see a byte stream.
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include <sys/socket.h>

#include "powermeter/Transports.h"

namespace powermeter {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

FdLines::~FdLines() {
    ::close(fd_);
}

void FdLines::Fail(const std::string &reason) const {
    throw MeterError(address_ + ": " + reason);
}

std::string WithoutTerminator(std::string line) {
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void FdLines::WriteRequest(const std::string &request, std::chrono::milliseconds limit) {
    pending_.clear();
    char scrap[256];
    while (::read(fd_, scrap, sizeof scrap) > 0) {
        // A late reply to an earlier request: not this one's.
    }
    const std::string bytes = request + "\n";
    const auto deadline = Clock::now() + limit;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = socket_ ? ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                                  : ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            Fail(std::string("write failed (") + std::strerror(errno) + "); the meter hung up or was unplugged");
        pollfd entry{fd_, POLLOUT, 0};
        if (::poll(&entry, 1, RemainingMs(deadline)) == 0)
            Fail("request not sent within " + std::to_string(limit.count()) + " ms");
    }
}

std::string FdLines::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end + 1);
            pending_.erase(0, end + 1);
            return WithoutTerminator(std::move(line));
        }
        pollfd entry{fd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            if (pending_.empty())
                Fail("no reply within " + std::to_string(limit.count()) + " ms");
            Fail("reply not ended within " + std::to_string(limit.count()) + " ms (" + std::to_string(pending_.size()) +
                 " bytes came)");
        }
        char buffer[512];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            pending_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        Fail(n == 0 || errno == EIO ? "the line closed during a read (the meter hung up or was unplugged)"
                                    : std::string("read failed (") + std::strerror(errno) + ")");
    }
}

} // namespace powermeter
