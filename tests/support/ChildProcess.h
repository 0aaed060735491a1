// A program run as a child process for one test: its output read on a thread of its own, so that it
// never blocks on a full pipe, and its end made sure of, also when the test fails.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

class ChildProcess {
public:
    // Starts args[0] with args, this process's environment and standard input from /dev/null.
    // Throws std::runtime_error when it cannot be started.
    explicit ChildProcess(std::vector<std::string> args);
    // Ends it as stop() does; never throws.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return pid_; }
    // Waits until the output so far satisfies done, or the program has closed its output, or the time
    // is up; returns whether done was satisfied.
    bool waitForOutput(const std::function<bool(const std::string &output)> &done, std::chrono::milliseconds limit);
    // Waits for a complete line of output that contains text.
    bool waitForLine(const std::string &text, std::chrono::milliseconds limit);
    std::string output() const;
    std::string errors() const;

    // SIGTERM, then waits (SIGKILL after 5 s). Safe to call more than once.
    void stop();
    // After stop(): the exit code, 128 + signal when killed by one, -1 before.
    int exitStatus() const;

private:
    void readOutput(int out, int err);

    pid_t pid_ = -1;
    std::optional<int> waitStatus_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable outputChanged_;
    std::string stdout_;
    std::string stderr_;
    bool outputClosed_ = false;
};
