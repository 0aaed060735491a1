// The public operations: argument checks first, then the exchange under the handle's lock.
#include <algorithm>
#include <mutex>

#include "Conversion.h"
#include "Member.h"
#include "Reply.h"

namespace KORVAN {

namespace {

// The bound of SetMotorSteps is the default step count of a full turn, whatever the device's scale.
constexpr int kMaxAbsoluteSteps = 143360;
constexpr double kFullTurnDeg = 360.0;

// Written as negations so that a NaN fails the check instead of slipping through both comparisons.
bool CurvePlacementValid(double offsetDeg, double rangeDeg) {
    return offsetDeg > -kFullTurnDeg && offsetDeg + rangeDeg < kFullTurnDeg;
}

} // namespace

Optivane::Optivane() : member(std::make_unique<__Member__>()) {}

Optivane::~Optivane() {
    try {
        Disconnect();
    } catch (...) {
        // Nothing sensible is left to do with a port the platform refuses to close; ~__Member__
        // still releases it before its I/O context.
    }
}

bool Optivane::Connect(const std::string &portName) {
    std::lock_guard<std::mutex> lock(member->mutex);
    return member->__Open_(portName);
}

void Optivane::Disconnect() {
    std::lock_guard<std::mutex> lock(member->mutex);
    member->__Close_();
}

AttenuatorStatus Optivane::GetCurrentStatus(int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    return member->__ExpectStatus_(wire::kGetStatus, timeoutMs);
}

AttenuatorStatus Optivane::GetMotorInfo(MotorInfo *info, int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    const int perExchangeMs = timeoutMs / 2;
    const AttenuatorStatus identity = member->__ExpectInfo_(wire::kGetInfo, info, perExchangeMs);
    int offsetSteps = 0;
    const AttenuatorStatus offset =
        member->__ExpectOffset_(wire::kGetOffset, info ? &offsetSteps : nullptr, perExchangeMs);
    if (info != nullptr) {
        const auto degrees = static_cast<float>(conversion::StepsToDegree(offsetSteps, member->stepsPerDegree));
        info->mechanicalOffset = std::to_string(degrees);
    }
    // The smaller of two results, except that a device status wins over Ok, so that Ok means both answers
    // came; a library error, being negative, wins over everything.
    const AttenuatorStatus smaller = std::min(identity, offset);
    return smaller == Ok ? std::max(identity, offset) : smaller;
}

AttenuatorStatus Optivane::MechanicalCalibration(int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    return member->__ExpectMove_(wire::kHome, timeoutMs);
}

AttenuatorStatus Optivane::SetTransmittance(float transmittance, double offsetDeg, double rangeDeg, int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    if (!(transmittance >= 0 && transmittance <= 1))
        return ParameterOutOfRange;
    if (!CurvePlacementValid(offsetDeg, rangeDeg))
        return ParameterOutOfRange;
    const double angle = conversion::TransmittanceToDegree(transmittance, offsetDeg, rangeDeg);
    return member->__MoveToDegree_(static_cast<float>(angle), timeoutMs);
}

AttenuatorStatus Optivane::GetTransmittance(float *transmittance, double offsetDeg, double rangeDeg, int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    if (transmittance == nullptr || !CurvePlacementValid(offsetDeg, rangeDeg))
        return ParameterOutOfRange;
    float degree = 0;
    const AttenuatorStatus result = member->__ReadDegree_(&degree, timeoutMs);
    *transmittance = static_cast<float>(conversion::DegreeToTransmittance(degree, offsetDeg, rangeDeg));
    return result;
}

AttenuatorStatus Optivane::SetMotorSteps(int steps, int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    if (steps < -kMaxAbsoluteSteps || steps > kMaxAbsoluteSteps)
        return ParameterOutOfRange;
    return member->__ExpectMove_(wire::kMoveAbsolute + wire::DecimalText(steps), timeoutMs);
}

AttenuatorStatus Optivane::GetMotorSteps(int *steps, int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    int position = 0;
    const AttenuatorStatus result = member->__ExpectPosition_(wire::kGetPosition, &position, timeoutMs);
    if (steps != nullptr)
        *steps = position;
    return result;
}

AttenuatorStatus Optivane::SetMotorDegree(float degree, int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    if (!(degree > -kFullTurnDeg && degree < kFullTurnDeg))
        return ParameterOutOfRange;
    return member->__MoveToDegree_(degree, timeoutMs);
}

AttenuatorStatus Optivane::GetMotorDegree(float *degree, int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    return member->__ReadDegree_(degree, timeoutMs);
}

AttenuatorStatus Optivane::StartOptimization(int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    return member->__ExpectStatus_(wire::kOptimize, timeoutMs);
}

AttenuatorStatus Optivane::StartCleaningMechanics(int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    return member->__ExpectStatus_(wire::kCleanMechanics, timeoutMs);
}

AttenuatorStatus Optivane::Stop(int timeoutMs) {
    std::lock_guard<std::mutex> lock(member->mutex);
    return member->__ExpectStatus_(wire::kStop, timeoutMs);
}

} // namespace KORVAN
