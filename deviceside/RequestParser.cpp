// Cuts the unterminated byte stream from the host into requests, by each command's length and by
// the 5 ms pause that ends a decimal move target.
#include "RequestParser.h"

#include <cstdlib>
#include <string_view>
#include <utility>

#include "Text.h"

namespace deviceside {

namespace {

// Garbage is kept only for the transcript; a host that streams noise must not grow memory.
constexpr std::size_t kMaxGarbageBytes = 4096;
// "0ma" then either 8 hexadecimal digits or up to 7 characters of decimal text.
constexpr std::size_t kMoveHeader = 3;
constexpr std::size_t kHexTargetDigits = 8;
constexpr std::size_t kMaxDecimalTarget = 7;

std::optional<Command> fixedCommand(std::string_view letters) {
    if (letters == "gs")
        return Command::Status;
    if (letters == "in")
        return Command::Info;
    if (letters == "go")
        return Command::Offset;
    if (letters == "gp")
        return Command::Position;
    if (letters == "om")
        return Command::Optimize;
    if (letters == "cm")
        return Command::Clean;
    if (letters == "st")
        return Command::Stop;
    return std::nullopt;
}

bool startsCommand(char c) {
    return std::string_view("gioscmh").find(c) != std::string_view::npos;
}

bool isDecimalTarget(std::string_view arg) {
    if (!arg.empty() && arg.front() == '-')
        arg.remove_prefix(1);
    if (arg.empty())
        return false;
    for (char c : arg) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::int32_t hexTarget(std::string_view digits) {
    const auto bits = static_cast<std::uint32_t>(std::strtoul(std::string(digits).c_str(), nullptr, 16));
    // 32-bit two's complement: FFFFFFFB is -5.
    return bits >= 0x80000000u ? static_cast<std::int32_t>(static_cast<std::int64_t>(bits) - 0x100000000LL)
                               : static_cast<std::int32_t>(bits);
}

} // namespace

RequestParser::RequestParser(Sink sink) : sink_(std::move(sink)) {}

void RequestParser::feed(char byte, TimePoint arrival) {
    if (state_ != State::Idle && arrival - lastArrival_ >= kGap)
        onGap();
    lastArrival_ = arrival;

    switch (state_) {
    case State::Idle:
        if (byte == '0') {
            pending_ = "0";
            state_ = State::Command;
        } else {
            startGarbage(std::string(1, byte));
        }
        return;

    case State::Garbage:
        if (byte == '0') {
            restartAtZero();
        } else if (pending_.size() < kMaxGarbageBytes) {
            pending_ += byte;
        }
        return;

    case State::Command:
        if (pending_.size() == 1) {
            if (!startsCommand(byte))
                return reject(byte);
            pending_ += byte;
            return;
        }
        if (pending_.size() == 2) {
            const std::string letters = pending_.substr(1) + byte;
            if (auto command = fixedCommand(letters)) {
                pending_ += byte;
                return emit(*command);
            }
            if (letters == "ma") {
                pending_ += byte;
                state_ = State::Argument;
                return;
            }
            if (letters == "ho") {
                pending_ += byte;
                return;
            }
            return reject(byte);
        }
        // Only "0ho" is still waiting: its fixed text ends in '0'.
        if (byte != '0')
            return reject(byte);
        pending_ += byte;
        return emit(Command::Home);

    case State::Argument: {
        const std::string_view arg = std::string_view(pending_).substr(kMoveHeader);
        const bool negative = !arg.empty() && arg.front() == '-';
        const bool fits =
            (byte == '-' && arg.empty()) || (byte >= '0' && byte <= '9') || (isHexDigit(byte) && !negative);
        if (!fits)
            return reject(byte);
        pending_ += byte;
        const std::string_view full = std::string_view(pending_).substr(kMoveHeader);
        if (!negative && full.size() == kHexTargetDigits)
            return emit(Command::Move, hexTarget(full));
        // A signed target cannot grow into the hexadecimal form, so at its longest it is complete.
        if (negative && full.size() == kMaxDecimalTarget)
            return emit(Command::Move, static_cast<std::int32_t>(std::strtol(std::string(full).c_str(), nullptr, 10)));
        return;
    }
    }
}

std::optional<TimePoint> RequestParser::nextDeadline() const {
    if (state_ == State::Idle)
        return std::nullopt;
    return lastArrival_ + kGap;
}

void RequestParser::onTime(TimePoint now) {
    if (state_ != State::Idle && now - lastArrival_ >= kGap)
        onGap();
}

void RequestParser::reset() {
    state_ = State::Idle;
    pending_.clear();
}

void RequestParser::onGap() {
    if (state_ == State::Argument) {
        const std::string_view arg = std::string_view(pending_).substr(kMoveHeader);
        if (isDecimalTarget(arg) && arg.size() <= kMaxDecimalTarget)
            return emit(Command::Move, static_cast<std::int32_t>(std::strtol(std::string(arg).c_str(), nullptr, 10)));
    }
    // A request cut short by a pause, or a garbage run, is answered as a command error.
    emit(Command::Invalid);
}

void RequestParser::reject(char byte) {
    if (byte == '0')
        return restartAtZero();
    std::string text = std::move(pending_);
    text += byte;
    startGarbage(std::move(text));
}

void RequestParser::emit(Command command, std::int32_t target) {
    std::string text = std::move(pending_);
    reset();
    deliver(command, std::move(text), target);
}

void RequestParser::restartAtZero() {
    std::string text = std::move(pending_);
    // The new state is set before delivery, so that a sink that resets the parser is obeyed.
    pending_ = "0";
    state_ = State::Command;
    deliver(Command::Invalid, std::move(text), 0);
}

void RequestParser::deliver(Command command, std::string text, std::int32_t target) {
    Request request;
    request.command = command;
    request.text = std::move(text);
    request.target = target;
    sink_(std::move(request));
}

void RequestParser::startGarbage(std::string text) {
    pending_ = std::move(text);
    state_ = State::Garbage;
}

} // namespace deviceside
