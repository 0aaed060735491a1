// The attenuator itself: its identity, position, motion over time, maintenance routines, and the
// answer it gives to each request.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "DeviceSide.h"

namespace sim {

struct DeviceConfig {
    std::uint32_t td = 360;     // degree span of the step scale
    std::uint32_t ppd = 143360; // steps in that span
    std::string serial = "OV240117";
    std::string year = "2024";
    std::string fr = "01";
    std::string hr = "02";
    std::int32_t offsetSteps = 0;
    std::int32_t position = 0;
    std::uint8_t status = 0;    // answered to "0gs"
    double speedDegPerS = 90.0; // 0 or less: moves end at once
    double maintenanceSeconds = 120.0;
};

constexpr std::uint8_t kStatusOk = 0x00;
constexpr std::uint8_t kStatusCommandError = 0x03;
constexpr std::uint8_t kStatusBusy = 0x09;

std::string statusReply(std::uint8_t status);
std::string positionReply(std::int32_t steps);
std::string offsetReply(std::int32_t steps);
std::string infoReply(const DeviceConfig &config);

class Device {
public:
    // Every reply names the request it answers, so that faults can target one request's answer.
    using ReplySink = std::function<void(const std::string &reply, std::uint64_t requestId)>;

    Device(DeviceConfig config, ReplySink sink);

    void handle(const Request &request, std::uint64_t requestId, TimePoint now);
    std::optional<TimePoint> nextDeadline() const;
    void onTime(TimePoint now);

    std::int32_t position(TimePoint now) const;
    void setPosition(std::int32_t steps, TimePoint now);
    void setStatus(std::uint8_t status) { config_.status = status; }
    bool moving() const { return move_.has_value(); }
    bool inMaintenance(TimePoint now) const;

private:
    struct Move {
        std::int32_t from;
        std::int32_t to;
        TimePoint start;
        TimePoint end;
        std::uint64_t requestId;
    };
    struct Queued {
        Request request;
        std::uint64_t requestId;
    };

    void advance(TimePoint now);
    void execute(const Request &request, std::uint64_t requestId, TimePoint now);
    void startMove(std::int32_t from, std::int32_t to, std::uint64_t requestId, TimePoint now);
    void stop(std::uint64_t requestId, TimePoint now);
    void drainQueue(TimePoint now);
    Duration travelTime(std::int32_t from, std::int32_t to) const;

    DeviceConfig config_;
    ReplySink sink_;
    std::int32_t position_;
    std::optional<Move> move_;
    std::optional<TimePoint> maintenanceEnd_;
    // Requests that came during a move, answered in order once it ends.
    std::deque<Queued> queue_;
};

} // namespace sim
