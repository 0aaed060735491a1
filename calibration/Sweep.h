// The calibration sweep: one full period of the curve, every point approached from below (the motor's
// backlash), each point settled and averaged; the motor goes back to where it started, also after an
// error or a cancel.
#pragma once

#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "calibration/Bench.h"
#include "calibration/Curve.h"

namespace calibration {

struct SweepOptions {
    int points = 46;
    double settleSeconds = 0.2;
    int average = 5;
    double spanDeg = 45.0;
    double centreDeg = 0.0;   // where the minimum is expected (the port's offset); the sweep spans ±span
    double backlashDeg = 1.0; // a move down first goes this far below its target, then up to it
};

struct SweepCancelled : std::runtime_error {
    SweepCancelled() : std::runtime_error("calibration cancelled") {}
};

// A fit refused after a complete sweep: the readings are kept, for a plot or a CSV that shows why.
struct SweepRefused : CalibrationRefused {
    SweepRefused(const CalibrationRefused &refusal, std::vector<Sample> samples)
        : CalibrationRefused(refusal), samples(std::move(samples)) {}
    std::vector<Sample> samples;
};

// The angles of the points: evenly spaced from centre − span to centre + span, both ends included.
std::vector<double> SweepAngles(const SweepOptions &options);

// progress(done, total) after each point; cancelled() is asked between exchanges, and when it says true
// the sweep returns the motor to its start and throws SweepCancelled. Throws MotorError, the source's
// exception, SweepRefused when the fit refuses the readings, std::invalid_argument for options that make no sweep.
struct SweepResult {
    std::vector<Sample> samples;
    CurveFit fit;
};
SweepResult Sweep(Motor &motor, const PowerSource &source, const SweepOptions &options,
                  const std::function<void(int done, int total)> &progress = {},
                  const std::function<bool()> &cancelled = {});

} // namespace calibration
