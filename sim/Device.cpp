// The attenuator itself: its identity, position, motion over time, maintenance routines, and the
// answer it gives to each request.
#include "Device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace sim {

namespace {

// A silly scale (huge td, tiny ppd) must not overflow the clock; no move outlasts this.
constexpr double kLongestMoveSeconds = 1e7;

std::string hex(std::uint32_t value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
    return buffer;
}

std::string wordReply(const char *tag, std::int32_t steps) {
    return std::string("0") + tag + hex(static_cast<std::uint32_t>(steps), 8) + "\r\n";
}

} // namespace

std::string statusReply(std::uint8_t status) {
    return "0GS" + hex(status, 2) + "\r\n";
}

std::string positionReply(std::int32_t steps) {
    return wordReply("PO", steps);
}

std::string offsetReply(std::int32_t steps) {
    return wordReply("HO", steps);
}

std::string infoReply(const DeviceConfig &config) {
    // The host does not read characters 3-4; any two characters serve.
    return "0IN0E" + config.serial + config.year + config.fr + config.hr + hex(config.td, 4) + hex(config.ppd, 8) +
           "\r\n";
}

Device::Device(DeviceConfig config, ReplySink sink)
    : config_(std::move(config)), sink_(std::move(sink)), position_(config_.position) {}

void Device::handle(const Request &request, std::uint64_t requestId, TimePoint now) {
    advance(now);
    if (request.command == Command::Stop)
        return stop(requestId, now);
    if (move_) {
        queue_.push_back({request, requestId});
        return;
    }
    execute(request, requestId, now);
}

std::optional<TimePoint> Device::nextDeadline() const {
    std::optional<TimePoint> next;
    if (move_)
        next = move_->end;
    if (maintenanceEnd_ && (!next || *maintenanceEnd_ < *next))
        next = maintenanceEnd_;
    return next;
}

void Device::onTime(TimePoint now) {
    advance(now);
}

std::int32_t Device::position(TimePoint now) const {
    if (!move_)
        return position_;
    if (now >= move_->end)
        return move_->to;
    const double done = std::chrono::duration<double>(now - move_->start).count() /
                        std::chrono::duration<double>(move_->end - move_->start).count();
    const double travelled = std::trunc((static_cast<double>(move_->to) - move_->from) * std::max(0.0, done));
    return static_cast<std::int32_t>(move_->from + static_cast<std::int64_t>(travelled));
}

void Device::setPosition(std::int32_t steps, TimePoint now) {
    if (move_) {
        // The motor carries on towards its target from the new count.
        const Move move = *move_;
        move_.reset();
        startMove(steps, move.to, move.requestId, now);
    } else {
        position_ = steps;
    }
}

bool Device::inMaintenance(TimePoint now) const {
    return maintenanceEnd_ && now < *maintenanceEnd_;
}

void Device::advance(TimePoint now) {
    if (maintenanceEnd_ && now >= *maintenanceEnd_)
        maintenanceEnd_.reset();
    // Queued requests are taken at the moment the move ended, so a chain of moves keeps its pace
    // even when the loop wakes late.
    while (move_ && now >= move_->end) {
        const Move move = *move_;
        move_.reset();
        position_ = move.to;
        sink_(positionReply(position_), move.requestId);
        drainQueue(move.end);
        if (maintenanceEnd_ && now >= *maintenanceEnd_)
            maintenanceEnd_.reset();
    }
}

void Device::execute(const Request &request, std::uint64_t requestId, TimePoint now) {
    if (inMaintenance(now))
        return sink_(statusReply(kStatusBusy), requestId);

    switch (request.command) {
    case Command::Status:
        return sink_(statusReply(config_.status), requestId);
    case Command::Info:
        return sink_(infoReply(config_), requestId);
    case Command::Offset:
        return sink_(offsetReply(config_.offsetSteps), requestId);
    case Command::Position:
        return sink_(positionReply(position_), requestId);
    case Command::Move:
        return startMove(position_, request.target, requestId, now);
    case Command::Home:
        return startMove(position_, 0, requestId, now);
    case Command::Optimize:
    case Command::Clean:
        // The routine is running from this moment, so the start is already answered Busy; the host
        // takes that as its cue to wait for the routine or stop it.
        if (config_.maintenanceSeconds > 0) {
            maintenanceEnd_ = now + seconds(config_.maintenanceSeconds);
            return sink_(statusReply(kStatusBusy), requestId);
        }
        return sink_(statusReply(kStatusOk), requestId);
    case Command::Stop:
        return stop(requestId, now);
    case Command::Invalid:
        return sink_(statusReply(kStatusCommandError), requestId);
    }
}

void Device::startMove(std::int32_t from, std::int32_t to, std::uint64_t requestId, TimePoint now) {
    const Duration travel = travelTime(from, to);
    if (travel <= Duration::zero()) {
        position_ = to;
        return sink_(positionReply(position_), requestId);
    }
    position_ = from;
    move_ = Move{from, to, now, now + travel, requestId};
}

void Device::stop(std::uint64_t requestId, TimePoint now) {
    if (move_) {
        position_ = position(now);
        const std::uint64_t moveId = move_->requestId;
        move_.reset();
        sink_(positionReply(position_), moveId);
    }
    maintenanceEnd_.reset();
    sink_(statusReply(kStatusOk), requestId);
    drainQueue(now);
}

void Device::drainQueue(TimePoint now) {
    while (!move_ && !queue_.empty()) {
        Queued next = std::move(queue_.front());
        queue_.pop_front();
        execute(next.request, next.requestId, now);
    }
}

Duration Device::travelTime(std::int32_t from, std::int32_t to) const {
    if (config_.speedDegPerS <= 0 || config_.ppd == 0)
        return Duration::zero();
    const double steps = std::fabs(static_cast<double>(to) - static_cast<double>(from));
    const double degrees = steps * config_.td / config_.ppd;
    return seconds(std::min(degrees / config_.speedDegPerS, kLongestMoveSeconds));
}

} // namespace sim
