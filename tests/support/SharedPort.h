// Runs optivane-share as a child process for one test: a device's port offered under COM names of
// the test's port folder, with a link log in a private temporary folder that goes away with the object.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"

class SharedPort {
public:
    static std::string program();

    // Shares device under names and waits up to 5 s until it says so; throws std::runtime_error with
    // its error output when it does not.
    SharedPort(const std::string &device, const std::vector<std::string> &names);
    // Ends it (SIGTERM, SIGKILL if it lingers) and removes its folder; never throws.
    ~SharedPort();
    SharedPort(const SharedPort &) = delete;
    SharedPort &operator=(const SharedPort &) = delete;

    ChildProcess &process() { return *process_; }
    // Waits for a line of its output that contains text.
    bool waitForLine(const std::string &text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return process_->waitForLine(text, limit);
    }
    std::string log() const;
    // Polls the link log until it holds text.
    bool waitForLog(const std::string &text, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    std::string folder_;
    std::string logPath_;
    std::unique_ptr<ChildProcess> process_;
};
