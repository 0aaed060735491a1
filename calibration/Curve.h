// The attenuator's measured curve: power against motor angle, fitted as
// P(θ) = a + b·cos(πθ/span) + c·sin(πθ/span), which is a sine-squared curve of period two spans with an
// unknown offset, floor (extinction) and height (insertion loss), and linear in a, b and c.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace calibration {

struct Sample {
    double angleDeg = 0.0;
    double powerW = 0.0;
};

// A sweep or fit that cannot stand as a calibration; what() gives the reason for the user.
struct CalibrationRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CurveFit {
    double spanDeg = 45.0;
    double a = 0.0, b = 0.0, c = 0.0;
    double offsetDeg = 0.0;            // angle of minimum transmittance: the curve's true offset
    double offsetUncertaintyDeg = 0.0; // its standard uncertainty, from the residuals
    double pminW = 0.0;
    double pmaxW = 0.0;
    double extinctionDb = 0.0;        // 10·log10(Pmax/Pmin); infinite for Pmin <= 0
    double residualRmsRelative = 0.0; // RMS of the residuals over Pmax
    std::size_t points = 0;

    double PowerAt(double angleDeg) const;
    // P(θ)/Pmax: the measured fraction of the fullest beam the calibration saw.
    double FractionAt(double angleDeg) const;
    // Pmin/Pmax: the least fraction the attenuator passes.
    double MinFraction() const;
    // The angle on the rising branch [offsetDeg, offsetDeg + span] at which FractionAt gives fraction.
    // Throws std::domain_error outside [MinFraction(), 1].
    double AngleForFraction(double fraction) const;
};

// Least-squares fit of the samples (angles anywhere; the period is two spans). The reported offset is
// the minimum nearest to nearDeg. Throws CalibrationRefused for too few points (fewer than 8), a curve
// with no modulation (beam off or not on the meter) and residuals that say it is not this curve.
CurveFit FitCurve(const std::vector<Sample> &samples, double spanDeg, double nearDeg);

} // namespace calibration
