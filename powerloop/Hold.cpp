// The hold's decisions: one reading in, at most one move out, and the safety rules before any move.
#include <algorithm>
#include <cmath>

#include "Internal.h"

namespace powerloop {

using detail::Percent;
using detail::Watts;

const char *StateName(HoldState state) {
    switch (state) {
    case HoldState::Holding:
        return "holding";
    case HoldState::Frozen:
        return "frozen";
    case HoldState::AtCeiling:
        return "at-ceiling";
    case HoldState::AtFloor:
        return "at-floor";
    case HoldState::Stopped:
        return "stopped";
    }
    return "unknown";
}

HoldCore::HoldCore(const Plan &plan, double setpointW, const HoldOptions &options, double angleDeg,
                   const BeamModel &model)
    : plan_(plan), setpointW_(setpointW), options_(options), angleDeg_(angleDeg), model_(model) {
    if (!(std::isfinite(setpointW) && setpointW > 0))
        throw Refused("a power set-point must be a positive number of watts");
    if (!(options.tolerance > 0 && options.tolerance < 1) || !(options.deadBand > 0 && options.deadBand <= 1) ||
        !(options.maxStepRatio > 1) || !(options.blockedFraction > 0 && options.blockedFraction < 1) ||
        !(options.resumeFraction > 0 && options.resumeFraction <= 1) || options.noiseReadings < 2 ||
        !(options.intervalSeconds >= 0) || !(options.backlashDeg >= 0))
        throw Refused("hold options out of range");
}

double HoldCore::tolerance() const {
    if (recent_.size() < 3)
        return options_.tolerance;
    double sum = 0;
    for (double value : recent_)
        sum += value;
    const double mean = sum / static_cast<double>(recent_.size());
    double squares = 0;
    for (double value : recent_)
        squares += (value - mean) * (value - mean);
    const double noise = mean > 0 ? std::sqrt(squares / static_cast<double>(recent_.size() - 1)) / mean : 0.0;
    return std::max(options_.tolerance, 2 * noise);
}

Step HoldCore::Enter(HoldState state, const std::string &message) {
    Step step;
    step.stateChanged = state != state_;
    state_ = state;
    message_ = message;
    step.state = state;
    step.message = message;
    return step;
}

Step HoldCore::OnFailedReading(const std::string &reason) {
    if (state_ == HoldState::Stopped || state_ == HoldState::Frozen) {
        Step step;
        step.state = state_;
        return step;
    }
    beforeFreezeW_ = lastGood_ ? *lastGood_ : detail::PredictedW(plan_, model_, angleDeg_);
    return Enter(HoldState::Frozen, "the meter gives no reading (" + reason +
                                        "): frozen, nothing moves until "
                                        "readings return");
}

Step HoldCore::OnReading(double watts) {
    if (!std::isfinite(watts) || watts < 0)
        return OnFailedReading("the reading " + std::to_string(watts) + " is no power");
    Step step;
    step.state = state_;
    if (state_ == HoldState::Stopped)
        return step;

    if (state_ == HoldState::Frozen) {
        // Nothing moved while frozen, so a beam that is back gives about what it gave before.
        const double reference = beforeFreezeW_ > 0 ? beforeFreezeW_ : setpointW_;
        if (watts < options_.resumeFraction * std::min(reference, setpointW_))
            return step;
        lastGood_ = watts;
        recent_.clear();
        step = Enter(HoldState::Holding, "readings back (" + Watts(watts) + "): holding again");
        const Step decision = Decide(watts);
        step.move = decision.move;
        step.angleDeg = decision.angleDeg;
        if (!decision.message.empty()) {
            step.state = decision.state;
            step.message += "; " + decision.message;
        }
        return step;
    }

    // A reading far below the one before it, at once, is a blocked beam or a moved detector rather than the
    // laser: chasing it would open the attenuator fully for the moment the beam returns.
    const double reference = lastGood_ ? *lastGood_ : detail::PredictedW(plan_, model_, angleDeg_);
    const double fifth = options_.blockedFraction;
    if (reference > 0 && (watts < fifth * std::min(reference, setpointW_) ||
                          (watts < fifth * setpointW_ && reference >= fifth * setpointW_))) {
        beforeFreezeW_ = reference;
        return Enter(HoldState::Frozen, "the reading fell from " + Watts(reference) + " to " + Watts(watts) +
                                            " at once (beam blocked?): frozen, nothing moves until it comes back");
    }
    lastGood_ = watts;
    return Decide(watts);
}

Step HoldCore::Decide(double watts) {
    Step step;
    step.state = state_;
    recent_.push_back(watts);
    if (static_cast<int>(recent_.size()) > options_.noiseReadings)
        recent_.erase(recent_.begin());
    const double tolerance = this->tolerance();
    const double error = (watts - setpointW_) / setpointW_;
    if (const double full = detail::FullPowerFrom(plan_, model_.shiftDeg, angleDeg_, watts); full > 0)
        model_.fullPowerW = full;

    // Left outside the window by someone else: back inside first, whatever the reading.
    if (angleDeg_ > plan_.HighDeg() + 1e-3 || angleDeg_ < plan_.LowDeg() - 1e-3) {
        step.move = true;
        step.angleDeg = std::clamp(angleDeg_, plan_.LowDeg(), plan_.HighDeg());
        return step;
    }
    const bool atCeiling = angleDeg_ >= plan_.HighDeg() - 1e-3;
    const bool atFloor = angleDeg_ <= plan_.LowDeg() + 1e-3;
    // Back inside the dead band: a limit state ends (said once); nothing moves.
    if (std::fabs(error) <= options_.deadBand * tolerance) {
        if (state_ == HoldState::AtCeiling || state_ == HoldState::AtFloor)
            return Enter(HoldState::Holding, "at the set-point again (" + Watts(watts) + "): holding");
        return step;
    }
    if (model_.fullPowerW <= 0)
        return step;

    // Upward by at most the step limit; downward, the safe way, at once.
    const double aimW = error < 0 ? std::min(setpointW_, watts * options_.maxStepRatio) : setpointW_;
    const double target = detail::AngleForPower(plan_, model_, aimW);
    if (error < 0 && atCeiling) {
        // Outside the tolerance with nothing left to open: said once, then held there.
        if (error < -tolerance && state_ != HoldState::AtCeiling)
            return Enter(HoldState::AtCeiling, "cannot reach " + Watts(setpointW_) +
                                                   ": at the ceiling of the permitted "
                                                   "range the meter reads " +
                                                   Watts(watts) + " (" + Percent(error) + "); holding there");
        return step;
    }
    if (error > 0 && atFloor) {
        if (error > tolerance && state_ != HoldState::AtFloor)
            return Enter(HoldState::AtFloor, "cannot reach " + Watts(setpointW_) +
                                                 ": at the least permitted "
                                                 "transmittance the meter reads " +
                                                 Watts(watts) + " (" + Percent(error) + "); holding there");
        return step;
    }
    // Below a motor step: nothing to do.
    if (std::fabs(target - angleDeg_) < 0.003)
        return step;
    if (state_ != HoldState::Holding && !(state_ == HoldState::AtCeiling && error < 0) &&
        !(state_ == HoldState::AtFloor && error > 0))
        step = Enter(HoldState::Holding, "holding again");
    step.move = true;
    step.angleDeg = target;
    return step;
}

void HoldCore::Moved(double angleDeg) {
    angleDeg_ = angleDeg;
    // The noise is that of the readings at one angle.
    recent_.clear();
}

Step HoldCore::Stop(const std::string &reason) {
    if (state_ == HoldState::Stopped) {
        Step step;
        step.state = state_;
        return step;
    }
    return Enter(HoldState::Stopped, reason);
}

} // namespace powerloop
