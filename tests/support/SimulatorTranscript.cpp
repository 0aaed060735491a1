// The parts of Simulator that read the transcript file; the same wherever the test process runs.
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "Simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

std::string Simulator::transcript() const {
    std::ifstream file(transcriptPath_, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Simulator::transcriptLines(char direction) const {
    // "<seconds> <direction> <bytes>"; the bytes may hold spaces of their own.
    std::vector<std::string> lines;
    std::istringstream text(transcript());
    for (std::string line; std::getline(text, line);) {
        const std::size_t space = line.find(' ');
        if (space != std::string::npos && line.size() >= space + 3 && line[space + 1] == direction &&
            line[space + 2] == ' ')
            lines.push_back(line.substr(space + 3));
    }
    return lines;
}

std::vector<std::string> Simulator::transcriptLines(const std::string &mark) const {
    // "<seconds> <mark> <bytes>" with a mark of more than one character (the meter's "M>", "M<").
    std::vector<std::string> lines;
    std::istringstream text(transcript());
    for (std::string line; std::getline(text, line);) {
        const std::size_t space = line.find(' ');
        if (space != std::string::npos && line.compare(space + 1, mark.size() + 1, mark + " ") == 0)
            lines.push_back(line.substr(space + mark.size() + 2));
    }
    return lines;
}

#if !defined(_WIN32)
std::vector<std::string> Simulator::meterQueries() const {
    return transcriptLines(std::string("M>"));
}

std::vector<std::string> Simulator::meterReplies() const {
    return transcriptLines(std::string("M<"));
}
#endif

std::vector<std::string> Simulator::requests() const {
    return transcriptLines('>');
}

std::vector<std::string> Simulator::replies() const {
    return transcriptLines('<');
}

namespace {

bool PollUntil(const std::function<bool()> &condition, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

bool Simulator::waitForRequests(std::size_t count, int timeoutMs) const {
    return PollUntil([&] { return requests().size() >= count; }, timeoutMs);
}

bool Simulator::waitForReplies(std::size_t count, int timeoutMs) const {
    return PollUntil([&] { return replies().size() >= count; }, timeoutMs);
}
