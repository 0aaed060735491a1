// Runs optivane-sim as a child process for one test: its pseudo-terminal path, its control socket
// and its transcript, in a private temporary folder that goes away with the object.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

class Simulator {
public:
    // Starts the simulator with a control socket and a transcript of its own, without line timing
    // unless baudDelay, plus extraArgs; it inherits this process's environment (and so the port
    // folder of a TempXdg). Waits up to 5 s for it to report its terminal; throws std::runtime_error
    // with its error output when it does not.
    explicit Simulator(std::vector<std::string> extraArgs = {}, bool baudDelay = false);
    // Ends the simulator (SIGTERM, SIGKILL if it lingers) and removes its folder; never throws.
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    std::string ptyPath() const { return ptyPath_; }
    pid_t pid() const { return pid_; }
    const std::string &controlPath() const { return controlPath_; }
    const std::string &transcriptPath() const { return transcriptPath_; }

    // One control command; returns the answer line without its newline. Throws std::runtime_error
    // when the socket cannot be reached or does not answer within 5 s.
    std::string control(const std::string &line);

    // The transcript's request lines (garbage included) and reply lines, escaped as logged, in order.
    std::vector<std::string> requests() const;
    std::vector<std::string> replies() const;
    std::string transcript() const;
    // Polls the transcript until it holds at least count request lines.
    bool waitForRequests(std::size_t count, int timeoutMs) const;

    // SIGTERM, then waits (SIGKILL after 5 s). Safe to call more than once.
    void terminate();
    // After terminate(): the exit code, 128 + signal when killed by one, -1 before.
    int exitStatus() const;

private:
    void readOutput(int out, int err);
    void stop();
    std::vector<std::string> transcriptLines(char direction) const;

    std::string folder_;
    std::string controlPath_;
    std::string transcriptPath_;
    std::string ptyPath_;
    pid_t pid_ = -1;
    std::optional<int> waitStatus_;

    // The simulator's output is read on a thread of its own, so that it never blocks on a full pipe.
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable outputChanged_;
    std::string stdout_;
    std::string stderr_;
    bool outputClosed_ = false;
};
