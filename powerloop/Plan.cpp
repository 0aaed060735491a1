// The angles a loop may use, and the curve it predicts with.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frontend/Units.h"
#include "powerloop/PowerLoop.h"

namespace powerloop {

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

std::string PercentAndDb(double fraction) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4g %% (%.2f dB)", frontend::PercentFromTransmittance(fraction),
                  frontend::DecibelsFromTransmittance(fraction));
    return text;
}

} // namespace

double NominalTransmittanceAt(const frontend::PortProfile &profile, double angleDeg) {
    const double s = std::sin(kPi / 2 * (angleDeg - profile.offsetDeg) / profile.spanDeg);
    return s * s;
}

double NominalAngleFor(const frontend::PortProfile &profile, double transmittance) {
    const double t = std::clamp(transmittance, 0.0, 1.0);
    return profile.offsetDeg + profile.spanDeg * (2 / kPi) * std::asin(std::sqrt(t));
}

Window PermittedWindow(const frontend::PortProfile &profile, std::optional<double> maxTransmittance) {
    if (!(profile.spanDeg > 0) || !std::isfinite(profile.offsetDeg))
        throw Refused("the port's curve has no span (offset " + Figure(profile.offsetDeg) + " deg, span " +
                      Figure(profile.spanDeg) + " deg)");
    const double low = std::clamp(profile.rangeMin, 0.0, 1.0);
    double high = std::clamp(profile.rangeMax, 0.0, 1.0);
    if (maxTransmittance) {
        if (!(*maxTransmittance > 0 && *maxTransmittance <= 1))
            throw Refused("the maximum transmittance must be a fraction above 0, at most 1, got " +
                          Figure(*maxTransmittance));
        high = std::min(high, *maxTransmittance);
    }
    if (!(high > low))
        throw Refused("no transmittance is permitted: the range is " + Figure(low) + " to " + Figure(high) +
                      (maxTransmittance ? " with the maximum transmittance " + Figure(*maxTransmittance) : ""));
    return {NominalAngleFor(profile, low), NominalAngleFor(profile, high), low, high};
}

Curve Curve::Nominal(const frontend::PortProfile &profile) {
    Curve curve;
    curve.profile_ = profile;
    return curve;
}

Curve Curve::Measured(const calibration::CurveFit &fit) {
    Curve curve;
    curve.measured_ = true;
    curve.fit_ = fit;
    return curve;
}

double Curve::offsetDeg() const {
    return measured_ ? fit_.offsetDeg : profile_.offsetDeg;
}

double Curve::spanDeg() const {
    return measured_ ? fit_.spanDeg : profile_.spanDeg;
}

double Curve::fullPowerW() const {
    return measured_ ? fit_.pmaxW : 0.0;
}

double Curve::FractionAt(double angleDeg) const {
    return measured_ ? fit_.FractionAt(angleDeg) : NominalTransmittanceAt(profile_, angleDeg);
}

double Curve::MinFraction() const {
    return measured_ ? fit_.MinFraction() : 0.0;
}

double Curve::AngleForFraction(double fraction) const {
    if (!measured_)
        return NominalAngleFor(profile_, fraction);
    const double least = fit_.MinFraction();
    if (!(fraction > least))
        return fit_.offsetDeg;
    if (!(fraction < 1.0))
        return fit_.offsetDeg + fit_.spanDeg;
    return fit_.AngleForFraction(fraction);
}

double Plan::LowDeg() const {
    return std::max(window.lowDeg, curve.offsetDeg());
}

double Plan::HighDeg() const {
    return std::min(window.highDeg, curve.offsetDeg() + curve.spanDeg());
}

Plan MakePlan(const frontend::PortProfile &profile, const calibration::Entry *entry,
              std::optional<double> maxTransmittance) {
    Plan plan;
    plan.window = PermittedWindow(profile, maxTransmittance);
    plan.curve = entry ? Curve::Measured(entry->fit) : Curve::Nominal(profile);
    if (!(plan.HighDeg() > plan.LowDeg()))
        throw Refused("the calibration's curve (rising from " + Figure(plan.curve.offsetDeg()) + " to " +
                      Figure(plan.curve.offsetDeg() + plan.curve.spanDeg()) +
                      " deg) lies outside the permitted angles (" + Figure(plan.window.lowDeg) + " to " +
                      Figure(plan.window.highDeg) + " deg)");
    return plan;
}

Span ReachableSpan(const Plan &plan) {
    return {plan.curve.FractionAt(plan.LowDeg()), plan.curve.FractionAt(plan.HighDeg())};
}

std::string DescribeSpan(const Span &span) {
    return PercentAndDb(span.lowFraction) + " to " + PercentAndDb(span.highFraction);
}

double AngleForMeasuredFraction(const Plan &plan, double fraction, bool clamp) {
    if (!plan.curve.measured())
        throw Refused("no calibration: the measured curve is unknown");
    if (!std::isfinite(fraction) || fraction < 0)
        throw Refused("a measured fraction must be a number from 0 to 1, got " + Figure(fraction));
    const Span span = ReachableSpan(plan);
    // Rounding of the fraction printed and read back is no reason to refuse the end of the span itself.
    const double slack = 1e-9;
    if (fraction < span.lowFraction * (1 - slack) || fraction > span.highFraction * (1 + slack)) {
        if (!clamp) {
            std::string why;
            if (fraction < plan.curve.MinFraction())
                why = "below the attenuator's extinction";
            else if (fraction > 1.0)
                why = "above the largest power the calibration saw";
            else
                why = "outside the permitted range";
            throw Refused(PercentAndDb(fraction) + " of the measured full beam is " + why +
                          "; reachable: " + DescribeSpan(span) + " (see --clamp)");
        }
        fraction = std::clamp(fraction, span.lowFraction, span.highFraction);
    }
    return std::clamp(plan.curve.AngleForFraction(fraction), plan.LowDeg(), plan.HighDeg());
}

double MeasuredFractionAt(const Plan &plan, double angleDeg) {
    return plan.curve.FractionAt(angleDeg);
}

namespace detail {

// The approach itself, from a known angle; the window is checked first.
void Approach(calibration::Motor &motor, const Plan &plan, double fromDeg, double angleDeg, double backlashDeg) {
    // A thousandth of a degree is below the motor's step; such a miss is rounding, not a request outside.
    const double slack = 1e-3;
    if (!(angleDeg >= plan.window.lowDeg - slack && angleDeg <= plan.window.highDeg + slack))
        throw Refused(Figure(angleDeg) + " deg lies outside the permitted angles (" + Figure(plan.window.lowDeg) +
                      " to " + Figure(plan.window.highDeg) + " deg); nothing moved");
    angleDeg = std::clamp(angleDeg, plan.window.lowDeg, plan.window.highDeg);
    // Above the target by more than a step: down past it first, so that the last stretch runs upward.
    if (fromDeg > angleDeg + 0.005) {
        const double via = std::max(angleDeg - backlashDeg, plan.window.lowDeg);
        if (via < angleDeg - 1e-6)
            motor.MoveToDeg(via);
    }
    motor.MoveToDeg(angleDeg);
}

} // namespace detail

void ApproachFromBelow(calibration::Motor &motor, const Plan &plan, double angleDeg, double backlashDeg) {
    detail::Approach(motor, plan, motor.AngleDeg(), angleDeg, backlashDeg);
}

} // namespace powerloop
