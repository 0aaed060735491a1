// The pseudo-terminal that stands in for the serial cable, and the 9600 baud timing of the bytes
// that cross it in both directions.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

#include "DeviceSide.h"

namespace sim {

class Terminal {
public:
    struct Listener {
        std::function<void(char byte, TimePoint arrival)> received;
        std::function<void(const std::string &bytes)> sent; // one outgoing unit's last bytes are going out
        std::function<void()> hungUp; // the line is about to drop (asked for, or lost); descriptors still open
    };

    // One reply as it goes out: its pieces with a pause between them, not before notBefore.
    struct Outgoing {
        std::vector<std::string> pieces;
        TimePoint notBefore{};
        bool hangUpAfter = false;
    };

    static constexpr std::chrono::milliseconds kPieceGap{15};

    Terminal(bool baudDelay, Listener listener);
    ~Terminal();
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // Opens a fresh pseudo-terminal; throws std::runtime_error.
    void open();
    // Closes both ends, as a pulled cable does; pending bytes in both directions are lost.
    void hangUp();
    bool isOpen() const { return master_ >= 0; }
    const std::string &slavePath() const { return slavePath_; }
    // Replies waiting for the line or going out now; a late one holds those behind it.
    std::size_t unsentReplies() const { return output_.size(); }

    void send(Outgoing unit, TimePoint now);

    void addPollFds(std::vector<pollfd> &fds);
    void handlePoll(const std::vector<pollfd> &fds, TimePoint now);
    std::optional<TimePoint> nextDeadline() const;
    void onTime(TimePoint now);

private:
    struct Arrival {
        char byte;
        TimePoint at;
    };

    void handleMaster(short revents, TimePoint now);
    void onClientClosed();
    void readInput(TimePoint now);
    void deliverInput(TimePoint now);
    void pumpOutput(TimePoint now);
    bool writeBytes(const char *data, std::size_t size);
    void hangUpWhenRead(TimePoint now);
    void dropLine();
    void closeFds();

    bool baudDelay_;
    Listener listener_;
    int master_ = -1;
    // Held so that the master never reads EIO while no client has the port open.
    int slave_ = -1;
    std::string slavePath_;
    // Reports every close of the slave device. A client's TIOCEXCL would otherwise outlive it,
    // because our own descriptor keeps the terminal from being released as a real port is.
    int closeWatch_ = -1;
    int masterIndex_ = -1; // where addPollFds put them, -1 when not
    int watchIndex_ = -1;

    std::deque<Arrival> input_;
    TimePoint inputLineFree_{};

    std::deque<Outgoing> output_;
    bool sending_ = false;     // output_.front() is on the line
    bool frontLogged_ = false; // and has been reported as sent
    std::size_t piece_ = 0;    // piece of the front unit being written
    std::size_t written_ = 0;  // bytes of that piece already written
    TimePoint pieceStart_{};
    TimePoint outputLineFree_{};
    bool waitWritable_ = false; // the master's buffer was full

    // Closing the master throws away what the client has not read yet, so a hang-up after a
    // half-sent reply waits until the client has taken it (or gives up at hangUpBy_).
    std::optional<TimePoint> hangUpBy_;
    TimePoint nextDrainCheck_{};
};

} // namespace sim
