// The pseudo-terminal that stands in for the serial cable, and the 9600 baud timing of the bytes
// that cross it in both directions.
#include "Terminal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>
#include <utility>

#include <sys/inotify.h>
#include <sys/ioctl.h>

#include "Line.h"

namespace sim {

namespace {

// Bytes read ahead of their arrival time. Reading no further makes a host that floods the line
// wait in its own write, as it would behind a real 9600 baud cable.
constexpr std::size_t kInputBacklog = 64;
// How long a client may take to read the last bytes before a requested hang-up.
constexpr std::chrono::milliseconds kHangUpGrace{500};
constexpr std::chrono::milliseconds kDrainCheck{1};
// The kernel passes written bytes on to the client's side from a worker of its own, which a busy machine
// can hold back for several milliseconds; until then FIONREAD counts nothing and a hang-up would flush them.
constexpr std::chrono::milliseconds kFirstDrainCheck{20};

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

Terminal::Terminal(bool baudDelay, Listener listener) : baudDelay_(baudDelay), listener_(std::move(listener)) {}

Terminal::~Terminal() {
    closeFds();
}

void Terminal::open() {
    hangUp();
    deviceside::PseudoTerminal pty = deviceside::openPseudoTerminal();
    master_ = pty.master;
    try {
        const char *name = pty.slavePath.c_str();
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave_ < 0)
            fail(std::string("open ") + name);
        deviceside::setLine(slave_);
        deviceside::setLine(master_);
        closeWatch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (closeWatch_ < 0 || inotify_add_watch(closeWatch_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
            fail("inotify");
        slavePath_ = pty.slavePath;
    } catch (...) {
        closeFds();
        throw;
    }
    inputLineFree_ = TimePoint{};
    outputLineFree_ = TimePoint{};
}

void Terminal::hangUp() {
    closeFds();
    input_.clear();
    output_.clear();
    sending_ = false;
    waitWritable_ = false;
    hangUpBy_.reset();
}

void Terminal::send(Outgoing unit, TimePoint now) {
    if (!isOpen())
        return;
    output_.push_back(std::move(unit));
    pumpOutput(now);
}

void Terminal::addPollFds(std::vector<pollfd> &fds) {
    masterIndex_ = -1;
    watchIndex_ = -1;
    if (!isOpen())
        return;
    short events = 0;
    if (input_.size() < kInputBacklog)
        events |= POLLIN;
    if (waitWritable_)
        events |= POLLOUT;
    if (events != 0) {
        masterIndex_ = static_cast<int>(fds.size());
        fds.push_back({master_, events, 0});
    }
    if (closeWatch_ >= 0) {
        watchIndex_ = static_cast<int>(fds.size());
        fds.push_back({closeWatch_, POLLIN, 0});
    }
}

void Terminal::handlePoll(const std::vector<pollfd> &fds, TimePoint now) {
    const int watchIndex = watchIndex_;
    if (masterIndex_ >= 0)
        handleMaster(fds[static_cast<std::size_t>(masterIndex_)].revents, now);
    if (watchIndex >= 0 && isOpen() && (fds[static_cast<std::size_t>(watchIndex)].revents & POLLIN))
        onClientClosed();
}

void Terminal::handleMaster(short revents, TimePoint now) {
    if (!isOpen())
        return;
    if (revents & POLLOUT) {
        waitWritable_ = false;
        pumpOutput(now);
    }
    if (!isOpen())
        return;
    if (revents & POLLIN) {
        readInput(now);
    } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // Cannot happen while our own slave descriptor is open; if it does, polling again would spin.
        dropLine();
    }
}

void Terminal::onClientClosed() {
    char events[4096];
    while (::read(closeWatch_, events, sizeof events) > 0) {
    }
    // As the last close of a real port does; a client that still holds the port keeps its flock.
    ::ioctl(slave_, TIOCNXCL);
}

std::optional<TimePoint> Terminal::nextDeadline() const {
    std::optional<TimePoint> next;
    if (!input_.empty())
        next = input_.front().at;
    if (isOpen() && !output_.empty() && !waitWritable_) {
        TimePoint due;
        if (!sending_)
            due = std::max(output_.front().notBefore, outputLineFree_);
        else if (baudDelay_)
            due = pieceStart_ + kByteTime * static_cast<long>(written_ + 1);
        else
            due = pieceStart_;
        if (!next || due < *next)
            next = due;
    }
    if (hangUpBy_ && (!next || nextDrainCheck_ < *next))
        next = nextDrainCheck_;
    return next;
}

void Terminal::onTime(TimePoint now) {
    deliverInput(now);
    if (hangUpBy_ && now >= nextDrainCheck_)
        hangUpWhenRead(now);
    pumpOutput(now);
}

void Terminal::hangUpWhenRead(TimePoint now) {
    // The first check comes a while after the write, once the kernel has passed the bytes on to the
    // client's side, where FIONREAD counts them.
    int unread = 0;
    if (::ioctl(slave_, FIONREAD, &unread) != 0 || unread == 0 || now >= *hangUpBy_) {
        dropLine();
        return;
    }
    nextDrainCheck_ = now + kDrainCheck;
}

void Terminal::readInput(TimePoint now) {
    char buffer[kInputBacklog];
    const std::size_t room = kInputBacklog - std::min(kInputBacklog, input_.size());
    if (room == 0)
        return;
    const ssize_t n = ::read(master_, buffer, room);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        dropLine();
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        // Bytes written at once still come down the line one byte time apart.
        const TimePoint at = baudDelay_ ? std::max(now, inputLineFree_) + kByteTime : now;
        inputLineFree_ = at;
        input_.push_back({buffer[i], at});
    }
    deliverInput(now);
}

void Terminal::deliverInput(TimePoint now) {
    // The listener may hang up the line, which empties the queue under this loop.
    while (!input_.empty() && input_.front().at <= now) {
        const Arrival next = input_.front();
        input_.pop_front();
        listener_.received(next.byte, next.at);
    }
}

void Terminal::pumpOutput(TimePoint now) {
    while (isOpen() && !output_.empty() && !waitWritable_ && !hangUpBy_) {
        Outgoing &unit = output_.front();
        if (!sending_) {
            sending_ = true;
            frontLogged_ = false;
            piece_ = 0;
            written_ = 0;
            pieceStart_ = std::max(unit.notBefore, outputLineFree_);
        }
        if (now < pieceStart_)
            return;
        const std::string &bytes = unit.pieces[piece_];
        // Byte k is on the wire once its ten bits are, at pieceStart_ + (k + 1) byte times; catching up
        // after a late wake-up keeps the schedule instead of stretching it.
        std::size_t due = bytes.size();
        if (baudDelay_)
            due = std::min<std::size_t>(bytes.size(), static_cast<std::size_t>((now - pieceStart_) / kByteTime));
        // Logged just before the last bytes go out, so that a client holding the whole reply always
        // finds it in the transcript.
        if (due == bytes.size() && piece_ + 1 == unit.pieces.size() && !frontLogged_) {
            frontLogged_ = true;
            std::string all;
            for (const std::string &piece : unit.pieces)
                all += piece;
            listener_.sent(all);
        }
        if (due > written_ && !writeBytes(bytes.data() + written_, due - written_))
            return;
        if (written_ < bytes.size())
            return;

        outputLineFree_ = baudDelay_ ? pieceStart_ + kByteTime * static_cast<long>(bytes.size()) : now;
        if (++piece_ < unit.pieces.size()) {
            pieceStart_ = outputLineFree_ + kPieceGap;
            written_ = 0;
            continue;
        }
        const bool hangUpAfter = unit.hangUpAfter;
        output_.pop_front();
        sending_ = false;
        if (hangUpAfter) {
            hangUpBy_ = now + kHangUpGrace;
            nextDrainCheck_ = now + kFirstDrainCheck;
            return;
        }
    }
}

bool Terminal::writeBytes(const char *data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::write(master_, data, size);
        if (n >= 0) {
            written_ += static_cast<std::size_t>(n);
            if (static_cast<std::size_t>(n) < size) {
                waitWritable_ = true;
                return false;
            }
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            waitWritable_ = true;
            return false;
        }
        // The bytes cannot go anywhere; skip them rather than retry for ever.
        written_ += size;
        return true;
    }
}

void Terminal::dropLine() {
    // Reported first, so that the transcript has the event before the client can see it.
    listener_.hungUp();
    hangUp();
}

void Terminal::closeFds() {
    if (closeWatch_ >= 0)
        ::close(closeWatch_);
    closeWatch_ = -1;
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = -1;
    master_ = -1;
}

} // namespace sim
