// Monotonic time for every schedule of the simulator, and the byte time of its serial line.
#pragma once

#include <chrono>

namespace sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;

// 9600 baud 8N1 carries 10 bits per byte (start, 8 data, stop).
constexpr std::chrono::nanoseconds kByteTime{10'000'000'000LL / 9600};

inline Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

} // namespace sim
