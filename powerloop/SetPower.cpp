// The closed-loop set: a first move from what is known, then corrections from the meter's readings.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "Internal.h"

namespace powerloop {

namespace detail {

double PredictedW(const Plan &plan, const BeamModel &model, double angleDeg) {
    return model.fullPowerW * plan.curve.FractionAt(angleDeg - model.shiftDeg);
}

double AngleForPower(const Plan &plan, const BeamModel &model, double powerW) {
    const double angle = plan.curve.AngleForFraction(powerW / model.fullPowerW) + model.shiftDeg;
    return std::clamp(angle, plan.LowDeg(), plan.HighDeg());
}

double FullPowerFrom(const Plan &plan, double shiftDeg, double angleDeg, double powerW) {
    const double fraction = plan.curve.FractionAt(angleDeg - shiftDeg);
    return fraction > 1e-9 && powerW > 0 ? powerW / fraction : 0.0;
}

std::string Watts(double watts) {
    struct Unit {
        double scale;
        const char *name;
    };
    static const Unit units[] = {{1.0, "W"}, {1e-3, "mW"}, {1e-6, "µW"}, {1e-9, "nW"}};
    const Unit *unit = &units[3];
    for (const Unit &candidate : units) {
        if (std::fabs(watts) >= candidate.scale) {
            unit = &candidate;
            break;
        }
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.4g %s", watts / unit->scale, unit->name);
    return text;
}

std::string Figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

std::string Degrees(double angleDeg) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f deg", angleDeg);
    return text;
}

std::string Percent(double relative) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f %%", relative * 100);
    return text;
}

} // namespace detail

const char *ReasonName(Reason reason) {
    switch (reason) {
    case Reason::None:
        return "none";
    case Reason::LaserTooWeak:
        return "laser-too-weak";
    case Reason::BelowFloor:
        return "below-floor";
    case Reason::MeterNotAnswering:
        return "meter-not-answering";
    case Reason::NotFollowing:
        return "not-following";
    case Reason::MovesExhausted:
        return "moves-exhausted";
    case Reason::Cancelled:
        return "cancelled";
    }
    return "unknown";
}

namespace {

using detail::Percent;
using detail::Watts;

// Without a calibration, readings below this fraction of the full beam may owe much to the extinction,
// which the nominal curve does not know.
constexpr double kUsableFraction = 0.003;
// Two readings closer than this in power say too little about where the curve lies.
constexpr double kFitRatio = 0.1; // natural log

struct Point {
    double angleDeg;
    double powerW;
};

// Where the true curve lies against the plan's: the shift that makes the curve's ratio between the two
// angles the ratio read. Empty when no shift within reason explains it.
std::optional<double> FitShift(const Plan &plan, Point a, Point b) {
    if (a.angleDeg > b.angleDeg)
        std::swap(a, b);
    if (b.angleDeg - a.angleDeg < 0.05 || !(a.powerW > 0) || !(b.powerW > 0) ||
        std::fabs(std::log(b.powerW / a.powerW)) < kFitRatio)
        return std::nullopt;
    const double offset = plan.curve.offsetDeg();
    const double span = plan.curve.spanDeg();
    const double target = std::log(b.powerW / a.powerW);
    // Both angles on the rising branch once shifted, and no shift larger than an eighth of the span.
    double low = std::max(b.angleDeg - offset - span, -span / 8);
    double high = std::min(a.angleDeg - offset - 1e-3, span / 8);
    if (!(low < high))
        return std::nullopt;
    // The log ratio rises with the shift: the lower angle comes closer to the curve's minimum.
    const auto g = [&](double shift) {
        const double fa = plan.curve.FractionAt(a.angleDeg - shift);
        const double fb = plan.curve.FractionAt(b.angleDeg - shift);
        return std::log(std::max(fb, 1e-300)) - std::log(std::max(fa, 1e-300)) - target;
    };
    if (g(low) > 0 || g(high) < 0)
        return std::nullopt;
    for (int i = 0; i < 80; ++i) {
        const double middle = (low + high) / 2;
        (g(middle) < 0 ? low : high) = middle;
    }
    return (low + high) / 2;
}

struct Measurement {
    bool ok = false;
    double meanW = 0.0;
    double relativeSd = 0.0;
    std::string error;
};

class Loop {
public:
    Loop(calibration::Motor &motor, const calibration::PowerSource &meter, const Plan &plan, double setpointW,
         const SetOptions &options, const std::function<bool()> &cancelled)
        : motor_(motor), meter_(meter), plan_(plan), setpointW_(setpointW), options_(options), cancelled_(cancelled) {}

    SetResult Run();

private:
    bool Cancelled() const { return cancelled_ && cancelled_(); }
    bool Settle() const;
    Measurement Measure();
    double Noise() const;
    double Tolerance() const;
    SetResult End(Reason reason, const std::string &message);

    calibration::Motor &motor_;
    const calibration::PowerSource &meter_;
    const Plan &plan_;
    double setpointW_;
    SetOptions options_;
    const std::function<bool()> &cancelled_;

    double angle_ = 0.0;
    int moves_ = 0;
    double powerW_ = std::nan("");
    std::vector<double> noise_; // relative standard deviations of the last measurements
    BeamModel model_;
};

bool Loop::Settle() const {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(options_.settleSeconds));
    // Cancelling is asked in short slices, so that a stop does not wait out the settling.
    while (Clock::now() < end) {
        if (Cancelled())
            return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(20), end - Clock::now()));
    }
    return !Cancelled();
}

Measurement Loop::Measure() {
    Measurement result;
    std::vector<double> values;
    int failures = 0;
    // A single garbled reply is read again; a meter that fails three times in one measurement is not answering.
    while (static_cast<int>(values.size()) < options_.average) {
        if (Cancelled()) {
            result.error = "cancelled";
            return result;
        }
        try {
            const double watts = meter_();
            if (!std::isfinite(watts) || watts < 0)
                throw std::runtime_error("the reading " + std::to_string(watts) + " is no power");
            values.push_back(watts);
        } catch (const std::exception &error) {
            result.error = error.what();
            if (++failures >= 3)
                return result;
        }
    }
    double sum = 0;
    for (double value : values)
        sum += value;
    result.meanW = sum / static_cast<double>(values.size());
    if (values.size() >= 2 && result.meanW > 0) {
        double squares = 0;
        for (double value : values)
            squares += (value - result.meanW) * (value - result.meanW);
        result.relativeSd = std::sqrt(squares / static_cast<double>(values.size() - 1)) / result.meanW;
        noise_.push_back(result.relativeSd);
        if (noise_.size() > 4)
            noise_.erase(noise_.begin());
    }
    result.ok = true;
    powerW_ = result.meanW;
    return result;
}

double Loop::Noise() const {
    double squares = 0;
    for (double sd : noise_)
        squares += sd * sd;
    return noise_.empty() ? 0.0 : std::sqrt(squares / static_cast<double>(noise_.size()));
}

double Loop::Tolerance() const {
    return std::max(options_.tolerance, 2 * Noise());
}

SetResult Loop::End(Reason reason, const std::string &message) {
    SetResult result;
    result.reached = reason == Reason::None;
    result.setpointW = setpointW_;
    result.powerW = powerW_;
    result.relativeError = (powerW_ - setpointW_) / setpointW_;
    result.tolerance = Tolerance();
    result.noise = Noise();
    result.moves = moves_;
    result.angleDeg = angle_;
    result.reason = reason;
    result.message = message;
    result.model = model_;
    return result;
}

SetResult Loop::Run() {
    angle_ = motor_.AngleDeg();
    const auto meterFailed = [&](const Measurement &m) {
        return m.error == "cancelled" ? End(Reason::Cancelled, "cancelled")
                                      : End(Reason::MeterNotAnswering, "the meter gives no reading: " + m.error);
    };
    Measurement m = Measure();
    if (!m.ok)
        return meterFailed(m);
    std::vector<Point> points{{angle_, m.meanW}};

    // The full beam: the calibration's, corrected by this reading when it stands high enough on the curve to
    // say (the laser may have changed since); without one, this reading's estimate.
    const double here = plan_.curve.FractionAt(angle_);
    bool placed = plan_.curve.measured();
    if (plan_.curve.measured())
        model_.fullPowerW = here >= 0.01 && m.meanW > 0 ? m.meanW / here : plan_.curve.fullPowerW();
    else if (m.meanW > 0)
        // Low on the curve the estimate comes out too large rather than too small (the extinction adds
        // light), which aims the first move low: the safe side.
        model_.fullPowerW = m.meanW / std::max(here, 1e-4);

    for (;;) {
        const double tolerance = Tolerance();
        const double error = (m.meanW - setpointW_) / setpointW_;
        if (std::fabs(error) <= tolerance)
            return End(Reason::None, "");

        // Aimed a little below the set-point, so that what is left of the error is more likely below than
        // above. Until the readings have placed the nominal curve (its true offset is unknown, and low on the
        // curve that puts the estimate of the full beam off several times either way) an upward move aims at
        // half the set-point (or half-way there) with at most a tenfold rise, and from there closes 70 % of
        // what is left.
        double aimW = setpointW_ * (1 - tolerance / 2);
        if (!placed && error < 0) {
            if (!(m.meanW > 0))
                aimW = 0.5 * setpointW_;
            else if (m.meanW < 0.5 * setpointW_)
                aimW = std::min(10 * m.meanW, std::max(0.5 * setpointW_, m.meanW + 0.5 * (aimW - m.meanW)));
            else
                aimW = m.meanW + 0.7 * (aimW - m.meanW);
        }
        // Down towards a set-point low on an unplaced curve, where a wrong offset misses most: first to about
        // 1 % of the estimated full beam, where a reading owes little to the extinction and places the curve.
        const double placeable = 3 * kUsableFraction * model_.fullPowerW;
        if (!placed && error > 0 && aimW < placeable && m.meanW > placeable * 1.5 &&
            plan_.curve.FractionAt(angle_ - model_.shiftDeg) >= kUsableFraction)
            aimW = placeable;
        double target;
        if (model_.fullPowerW > 0) {
            target = detail::AngleForPower(plan_, model_, aimW);
        } else {
            // No light seen yet: climb a step at a time (four times the fraction), never beyond the window.
            const double fraction = std::max(4 * plan_.curve.FractionAt(angle_), 1e-4);
            target = std::clamp(plan_.curve.AngleForFraction(fraction), plan_.LowDeg(), plan_.HighDeg());
        }
        // Where the curve is not placed, readings on both sides of the set-point (the higher angle the
        // brighter) bracket it better than any model: the angle in between where the square root of the power,
        // nearly straight in the angle, passes the aim. Near the extinction it bends upward, so this lands
        // below rather than above.
        if (!placed) {
            const Point *below = nullptr, *above = nullptr;
            for (const Point &point : points) {
                if (point.powerW < setpointW_ && (!below || point.angleDeg > below->angleDeg))
                    below = &point;
                if (point.powerW > setpointW_ && (!above || point.angleDeg < above->angleDeg))
                    above = &point;
            }
            if (below && above && below->angleDeg < above->angleDeg && below->powerW > 0) {
                const double share = (std::sqrt(setpointW_ * (1 - tolerance / 2)) - std::sqrt(below->powerW)) /
                                     (std::sqrt(above->powerW) - std::sqrt(below->powerW));
                target = below->angleDeg + std::clamp(share, 0.0, 1.0) * (above->angleDeg - below->angleDeg);
            }
        }
        // At an end of the window, not beyond it: a motor left outside by someone else is brought inside.
        const bool atCeiling = std::fabs(angle_ - plan_.HighDeg()) <= 1e-3;
        const bool atFloor = std::fabs(angle_ - plan_.LowDeg()) <= 1e-3;
        if (error < 0 && atCeiling && target >= plan_.HighDeg() - 1e-3)
            return End(Reason::LaserTooWeak, "the laser is too weak for " + Watts(setpointW_) +
                                                 " within the permitted range: at its ceiling (" +
                                                 detail::Degrees(plan_.window.highDeg) + ", transmittance " +
                                                 detail::Figure(plan_.window.highTransmittance) + ") the meter reads " +
                                                 Watts(m.meanW) + " (" + Percent(error) + ")");
        if (error > 0 && atFloor && target <= plan_.LowDeg() + 1e-3)
            return End(Reason::BelowFloor, "even the least permitted transmittance passes more than " +
                                               Watts(setpointW_) + ": the meter reads " + Watts(m.meanW) + " (" +
                                               Percent(error) + ")");
        if (moves_ >= options_.maxMoves)
            return End(Reason::MovesExhausted, "not within " + Percent(tolerance).substr(1) + " after " +
                                                   std::to_string(moves_) + " moves: the meter reads " +
                                                   Watts(m.meanW) + " (" + Percent(error) + ")");
        if (Cancelled())
            return End(Reason::Cancelled, "cancelled");

        const Point before = points.back();
        const double predictedRatio = model_.fullPowerW > 0 ? detail::PredictedW(plan_, model_, target) /
                                                                  detail::PredictedW(plan_, model_, before.angleDeg)
                                                            : 0.0;
        detail::Approach(motor_, plan_, angle_, target, options_.backlashDeg);
        ++moves_;
        angle_ = target;
        if (!Settle())
            return End(Reason::Cancelled, "cancelled");
        m = Measure();
        if (!m.ok)
            return meterFailed(m);
        points.push_back({angle_, m.meanW});

        // Low on the nominal curve, a move that brightens downward or darkens upward shows the motor below the
        // curve's true minimum (its offset is unknown). The higher angle is the darker, so it lies nearer the
        // minimum, which is therefore above the middle of the two: the curve is placed there and the loop goes
        // on. With a calibration, which knows the minimum, a downward move that brightens says that less than
        // this the attenuator does not pass.
        const double lower = std::min(target, before.angleDeg);
        const double middle = (target + before.angleDeg) / 2;
        const bool wrongWay = std::fabs(target - before.angleDeg) >= 0.01 && m.meanW > 0 && before.powerW > 0 &&
                              (target < before.angleDeg ? m.meanW > before.powerW * (1 + tolerance / 2)
                                                        : m.meanW < before.powerW * (1 - tolerance / 2));
        if (wrongWay && !plan_.curve.measured() && plan_.curve.FractionAt(lower - model_.shiftDeg) < 0.01 &&
            middle + 0.02 - plan_.curve.offsetDeg() > model_.shiftDeg) {
            model_.shiftDeg = middle + 0.02 - plan_.curve.offsetDeg();
            if (const double full = detail::FullPowerFrom(plan_, model_.shiftDeg, angle_, m.meanW); full > 0)
                model_.fullPowerW = full;
            placed = false;
            continue;
        }
        if (wrongWay && target < before.angleDeg && error > 0)
            return End(Reason::BelowFloor, "less than " + Watts(setpointW_) +
                                               " is below what the attenuator passes "
                                               "at its least: the power rises again below " +
                                               detail::Degrees(before.angleDeg) + " (" + Watts(m.meanW) + ")");
        // A move that the curve says changes the power a lot must show in the readings.
        if (std::fabs(target - before.angleDeg) >= 0.2 && std::isfinite(predictedRatio) && predictedRatio > 0 &&
            std::fabs(std::log(predictedRatio)) > 0.5) {
            const double readRatio = before.powerW > 0 && m.meanW > 0 ? m.meanW / before.powerW : 1.0;
            const double expected = std::log(predictedRatio), seen = std::log(readRatio);
            if (seen * expected <= 0 || std::fabs(seen) < 0.1 * std::fabs(expected))
                return End(Reason::NotFollowing, "the readings do not follow the moves (" + Watts(before.powerW) +
                                                     " at " + detail::Degrees(before.angleDeg) + ", " + Watts(m.meanW) +
                                                     " at " + detail::Degrees(angle_) +
                                                     "): is the meter in this beam?");
        }

        // Learn where the curve lies from the last two readings far enough apart, then the full beam.
        // Without a calibration the curve knows no extinction: readings near it would place the curve wrongly.
        const auto usable = [&](const Point &point) {
            return plan_.curve.measured() ||
                   plan_.curve.FractionAt(point.angleDeg - model_.shiftDeg) >= kUsableFraction;
        };
        for (std::size_t i = points.size() - 1; usable(points.back()) && i-- > 0;) {
            if (!usable(points[i]))
                continue;
            if (const std::optional<double> shift = FitShift(plan_, points[i], points.back())) {
                model_.shiftDeg = *shift;
                placed = true;
                break;
            }
        }
        if (const double full = detail::FullPowerFrom(plan_, model_.shiftDeg, angle_, m.meanW); full > 0)
            model_.fullPowerW = full;
    }
}

} // namespace

SetResult SetPower(calibration::Motor &motor, const calibration::PowerSource &meter, const Plan &plan, double setpointW,
                   const SetOptions &options, const std::function<bool()> &cancelled) {
    if (!(std::isfinite(setpointW) && setpointW > 0))
        throw Refused("a power set-point must be a positive number of watts, got " + std::to_string(setpointW));
    if (!(options.tolerance > 0 && options.tolerance < 1))
        throw Refused("the tolerance must lie between 0 and 100 %");
    if (options.maxMoves < 1 || options.average < 1 || !(options.settleSeconds >= 0) || !(options.backlashDeg >= 0))
        throw Refused("moves and readings must be 1 or more, settling and backlash not negative");
    return Loop(motor, meter, plan, setpointW, options, cancelled).Run();
}

} // namespace powerloop
