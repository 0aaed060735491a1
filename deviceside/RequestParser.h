// Cuts the unterminated byte stream from the host into requests, by each command's length and by
// the 5 ms pause that ends a decimal move target.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Clock.h"

namespace deviceside {

enum class Command { Status, Info, Offset, Position, Move, Home, Optimize, Clean, Stop, Invalid };

struct Request {
    Command command = Command::Invalid;
    std::string text;        // the bytes as received
    std::int32_t target = 0; // Move only
};

// Resynchronisation: a byte that cannot continue the request in progress turns what came so far
// into an Invalid request, and the stream is then scanned for the next '0', which may start a good
// request at once; an Invalid run ends at that '0' or at a 5 ms pause. So a garbage prefix costs one
// status 3 answer and never swallows the request behind it.
class RequestParser {
public:
    using Sink = std::function<void(Request)>;

    static constexpr std::chrono::milliseconds kGap{5};

    explicit RequestParser(Sink sink);

    // Bytes are fed in order with the time the line delivered them.
    void feed(char byte, TimePoint arrival);
    std::optional<TimePoint> nextDeadline() const;
    void onTime(TimePoint now);
    // Forgets a half-received request (the line was dropped).
    void reset();

private:
    enum class State { Idle, Command, Argument, Garbage };

    void onGap();
    void reject(char byte);
    void emit(Command command, std::int32_t target = 0);
    void restartAtZero();
    void deliver(Command command, std::string text, std::int32_t target);
    void startGarbage(std::string text);

    Sink sink_;
    State state_ = State::Idle;
    std::string pending_;
    TimePoint lastArrival_{};
};

} // namespace deviceside
