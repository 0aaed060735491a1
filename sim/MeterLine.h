// The meter's lines: a second pseudo-terminal (standing in for a serial line or a usbtmc device) and a TCP
// socket, both answering the same meter, with a small answer delay and the faults a test injects.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "DeviceSide.h"
#include "MeterModel.h"
#include "Transcript.h"

namespace sim {

struct MeterOptions {
    bool enabled() const { return !port.empty() || !listen.empty(); }

    std::string port; // COMn in the port folder, or a path for a link to the terminal; empty: no terminal
    MeterKind kind = MeterKind::Thorlabs;
    std::string listen; // "127.0.0.1:PORT" (0: a free port); empty: no socket
    int delayMs = 3;    // from a request's end to its reply
};

class MeterLine {
public:
    // The power at the sensor at that moment, as a reading averaged over samples gives it, W.
    using Reading = std::function<double(TimePoint at, int samples)>;

    // Opens the terminal (and its link) and the socket; throws std::runtime_error.
    MeterLine(const MeterOptions &options, Transcript &transcript, Reading reading);
    ~MeterLine();
    MeterLine(const MeterLine &) = delete;
    MeterLine &operator=(const MeterLine &) = delete;

    // Empty when there is none, or after a hang-up.
    std::string ptyPath() const { return master_ >= 0 ? slavePath_ : std::string(); }
    // "127.0.0.1:NNNNN", empty without a socket; it stays across a hang-up.
    std::string tcpAddress() const { return tcpAddress_; }
    std::size_t queries() const { return queries_; }

    // "silent on|off", "garbage on|off", "over on|off", "delay MS", "hangup", "hangup next", "reopen";
    // answers "ok [value]" or "error <text>".
    std::string control(const std::string &command, const std::string &argument, TimePoint now);

    void addPollFds(std::vector<pollfd> &fds);
    void handlePoll(const std::vector<pollfd> &fds, TimePoint now);
    std::optional<TimePoint> nextDeadline() const;
    void onTime(TimePoint now);

private:
    class Link;
    struct Client {
        int fd;
        std::string input;
    };
    struct Pending {
        TimePoint due;
        int client; // -1: the terminal; else the socket client's fd
        std::string bytes;
        bool hangUpAfter;
    };

    void openTerminal();
    // Throws std::runtime_error.
    void listen(const sockaddr_in &address);
    void closeTerminal();
    void hangUp();
    void readFrom(int fd, std::string &input, int client, TimePoint now);
    void onQuery(const std::string &line, int client, TimePoint now);
    void write(int client, const std::string &bytes);
    void closeClient(int fd);

    MeterOptions options_;
    Transcript &transcript_;
    Reading reading_;
    MeterModel model_;
    int master_ = -1;
    int slave_ = -1; // held open, so that the master never sees a hang-up of its own
    std::string slavePath_;
    std::string terminalInput_;
    std::unique_ptr<Link> link_;
    int listener_ = -1;   // closed while hung up
    sockaddr_in bound_{}; // where it listens, a port taken at start kept across a hang-up
    std::string tcpAddress_;
    std::vector<Client> clients_;
    std::vector<Pending> pending_;
    std::vector<pollfd> polled_; // what addPollFds asked for, to find the answers in handlePoll
    std::size_t firstIndex_ = 0;
    std::size_t queries_ = 0;
    bool silent_ = false;
    bool garbage_ = false;
    bool hangUpNext_ = false;
};

} // namespace sim
