// Monotonic time for the schedules of the programs on the device's side of the line, and the byte
// time of a 9600 baud line.
#pragma once

#include <chrono>

namespace deviceside {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;

// 9600 baud 8N1 carries 10 bits per byte (start, 8 data, stop).
constexpr std::chrono::nanoseconds kByteTime{10'000'000'000LL / 9600};

inline Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

} // namespace deviceside
