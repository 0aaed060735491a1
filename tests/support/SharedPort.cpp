// Runs optivane-share as a child process for one test: a device's port offered under COM names of
// the test's port folder, with a link log in a private temporary folder that goes away with the object.
#include "SharedPort.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

std::string SharedPort::program() {
    return OPTIVANE_SHARE_PATH;
}

SharedPort::SharedPort(const std::string &device, const std::vector<std::string> &names) {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/optivane-share-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    folder_ = pattern;
    logPath_ = folder_ + "/link.log";
    std::vector<std::string> args = {program(), device, "--log", logPath_};
    for (const std::string &name : names) {
        args.push_back("--as");
        args.push_back(name);
    }
    try {
        process_ = std::make_unique<ChildProcess>(args);
        if (process_->waitForLine("Sharing ", std::chrono::seconds(5)))
            return;
        process_->stop();
        throw std::runtime_error("optivane-share did not start: " + process_->errors());
    } catch (...) {
        process_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        throw;
    }
}

SharedPort::~SharedPort() {
    process_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string SharedPort::log() const {
    std::ifstream file(logPath_, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool SharedPort::waitForLog(const std::string &text, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (log().find(text) != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
