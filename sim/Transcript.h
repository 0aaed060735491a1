// The wire log: every request received, every reply sent and every injected event, one line each,
// written through at once so that a test can read it while the simulator runs.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "DeviceSide.h"

namespace sim {

class Transcript {
public:
    // Without open() every call does nothing.
    explicit Transcript(TimePoint start) : start_(start) {}
    ~Transcript();
    Transcript(const Transcript &) = delete;
    Transcript &operator=(const Transcript &) = delete;

    // Throws std::runtime_error.
    void open(const std::string &path);

    void request(std::string_view bytes, TimePoint at) { write('>', bytes, at); }
    void reply(std::string_view bytes, TimePoint at) { write('<', bytes, at); }
    void event(std::string_view text, TimePoint at) { write('!', text, at); }
    // The meter's lines, marked "M>", "M<" and "M!" so that readers of the device's lines pass them by.
    void meterQuery(std::string_view bytes, TimePoint at) { write("M>", bytes, at); }
    void meterReply(std::string_view bytes, TimePoint at) { write("M<", bytes, at); }
    void meterEvent(std::string_view text, TimePoint at) { write("M!", text, at); }

private:
    void write(char direction, std::string_view bytes, TimePoint at) {
        write(std::string_view(&direction, 1), bytes, at);
    }
    void write(std::string_view mark, std::string_view bytes, TimePoint at);

    TimePoint start_;
    std::FILE *file_ = nullptr;
};

} // namespace sim
