// The least-squares fit of the measured curve and what follows from it.
#include "calibration/Curve.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace calibration {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Fewer points leave too few degrees of freedom to judge the fit by its residuals.
constexpr std::size_t kMinPoints = 8;
// A swing (Pmax − Pmin) below this share of the mean power is no attenuator turning in the beam:
// even a 0.5 dB attenuator swings by more than 10 %.
constexpr double kMinModulation = 0.05;
// The swing must also stand clear of its own uncertainty, so that noise on a dark meter is no curve.
constexpr double kMinModulationSigmas = 10.0;
// Residuals beyond this share of Pmax mean the readings follow something else: the laser changed, the
// beam wandered off the sensor, the meter changed range in the middle of the sweep.
constexpr double kMaxResidualRms = 0.03;
// The weighted passes, and the floor of the weights' noise model as a share of Pmax.
constexpr int kReweightings = 2;
constexpr double kWeightFloor = 0.01;

std::string Percent(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2g %%", 100.0 * fraction);
    return text;
}

// Solves the symmetric 3×3 system m·x = v by Gaussian elimination with partial pivoting; false when it
// is singular (every angle at the same phase). inverse receives m⁻¹.
bool Solve3(const double m[3][3], const double v[3], double x[3], double inverse[3][3]) {
    double a[3][7];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            a[i][j] = m[i][j];
            a[i][3 + j] = i == j ? 1.0 : 0.0;
        }
        a[i][6] = v[i];
    }
    double scale = 0.0;
    for (int i = 0; i < 3; ++i)
        scale = std::max(scale, std::fabs(m[i][i]));
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int row = col + 1; row < 3; ++row) {
            if (std::fabs(a[row][col]) > std::fabs(a[pivot][col]))
                pivot = row;
        }
        if (!(std::fabs(a[pivot][col]) > 1e-12 * scale))
            return false;
        if (pivot != col)
            std::swap(a[pivot], a[col]);
        for (int row = 0; row < 3; ++row) {
            if (row == col)
                continue;
            const double factor = a[row][col] / a[col][col];
            for (int k = col; k < 7; ++k)
                a[row][k] -= factor * a[col][k];
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            inverse[i][j] = a[i][3 + j] / a[i][i];
        x[i] = a[i][6] / a[i][i];
    }
    return true;
}

double Evaluate(const double (&coefficients)[3], double angleDeg, double spanDeg) {
    const double x = kPi * angleDeg / spanDeg;
    return coefficients[0] + coefficients[1] * std::cos(x) + coefficients[2] * std::sin(x);
}

struct LinearFit {
    bool solved = false;
    double coefficients[3] = {};
    double inverse[3][3] = {}; // (XᵀWX)⁻¹
};

// Weighted least squares on the columns 1, cos x, sin x through the normal equations.
LinearFit Solve(const std::vector<Sample> &samples, double spanDeg, const std::vector<double> &weights) {
    double m[3][3] = {};
    double v[3] = {};
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double x = kPi * samples[i].angleDeg / spanDeg;
        const double row[3] = {1.0, std::cos(x), std::sin(x)};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                m[r][c] += weights[i] * row[r] * row[c];
            v[r] += weights[i] * row[r] * samples[i].powerW;
        }
    }
    LinearFit fit;
    fit.solved = Solve3(m, v, fit.coefficients, fit.inverse);
    return fit;
}

} // namespace

double CurveFit::PowerAt(double angleDeg) const {
    const double x = kPi * angleDeg / spanDeg;
    return a + b * std::cos(x) + c * std::sin(x);
}

double CurveFit::FractionAt(double angleDeg) const {
    return PowerAt(angleDeg) / pmaxW;
}

double CurveFit::MinFraction() const {
    return pminW / pmaxW;
}

double CurveFit::AngleForFraction(double fraction) const {
    const double low = MinFraction();
    // Rounding at the ends of the curve is no reason to refuse them.
    constexpr double kSlack = 1e-12;
    if (!(fraction >= low - kSlack && fraction <= 1.0 + kSlack))
        throw std::domain_error("a fraction of " + std::to_string(fraction) + " of the fullest beam is outside what " +
                                "the attenuator passes (" + std::to_string(low) + " to 1)");
    // P(θ) = a − R·cos(π(θ − θmin)/span) on the branch that rises from the minimum.
    const double r = (pmaxW - pminW) / 2.0;
    const double cosine = std::clamp((a - fraction * pmaxW) / r, -1.0, 1.0);
    return offsetDeg + spanDeg * std::acos(cosine) / kPi;
}

CurveFit FitCurve(const std::vector<Sample> &samples, double spanDeg, double nearDeg) {
    if (!(spanDeg > 0.0) || !std::isfinite(spanDeg))
        throw CalibrationRefused("the curve's span must be a positive angle");
    if (samples.size() < kMinPoints)
        throw CalibrationRefused("too few points for a calibration: " + std::to_string(samples.size()) + ", at least " +
                                 std::to_string(kMinPoints) + " are needed");
    for (const Sample &sample : samples) {
        if (!std::isfinite(sample.angleDeg) || !std::isfinite(sample.powerW))
            throw CalibrationRefused("a reading is not a number; nothing was fitted");
    }

    double peak = 0.0;
    for (const Sample &sample : samples)
        peak = std::max(peak, std::fabs(sample.powerW));
    // A meter's noise grows with the reading, so the points near the minimum say most about the floor and
    // the offset: after a first plain fit, each point is weighted by the inverse square of its fitted power
    // plus a floor (a meter's own noise at the bottom of its range), and the fit repeated.
    std::vector<double> weights(samples.size(), 1.0);
    LinearFit linear = Solve(samples, spanDeg, weights);
    for (int pass = 0; pass < kReweightings && linear.solved; ++pass) {
        const double pmax = linear.coefficients[0] + std::hypot(linear.coefficients[1], linear.coefficients[2]);
        if (!(pmax > 0.0))
            break;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double fitted = std::max(0.0, Evaluate(linear.coefficients, samples[i].angleDeg, spanDeg));
            weights[i] = 1.0 / std::pow(fitted + kWeightFloor * pmax, 2) * pmax * pmax;
        }
        linear = Solve(samples, spanDeg, weights);
    }
    if (!linear.solved)
        throw CalibrationRefused("the points do not cover the curve: sweep over a whole period of two spans");
    const double(&coefficients)[3] = linear.coefficients;
    const double(&inverse)[3][3] = linear.inverse;

    CurveFit fit;
    fit.spanDeg = spanDeg;
    fit.a = coefficients[0];
    fit.b = coefficients[1];
    fit.c = coefficients[2];
    fit.points = samples.size();

    double squares = 0.0;
    double weightedSquares = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double residual = samples[i].powerW - fit.PowerAt(samples[i].angleDeg);
        squares += residual * residual;
        weightedSquares += weights[i] * residual * residual;
    }
    // The scale of the weights' noise model, from the residuals: the covariance is variance·(XᵀWX)⁻¹.
    const double variance = weightedSquares / static_cast<double>(samples.size() - 3);
    const double r = std::hypot(fit.b, fit.c);
    fit.pminW = fit.a - r;
    fit.pmaxW = fit.a + r;

    if (peak == 0.0)
        throw CalibrationRefused(
            "no modulation: the meter read 0 W at every point; is the laser on and the beam on the meter?");
    // The uncertainty of R along the direction (b, c)/R.
    const double ub = r > 0.0 ? fit.b / r : 1.0;
    const double uc = r > 0.0 ? fit.c / r : 0.0;
    const double sigmaR = std::sqrt(
        std::max(0.0, variance * (ub * ub * inverse[1][1] + 2.0 * ub * uc * inverse[1][2] + uc * uc * inverse[2][2])));
    if (!(fit.a > 0.0) || 2.0 * r < kMinModulation * fit.a || r < kMinModulationSigmas * sigmaR)
        throw CalibrationRefused(
            "no modulation: the power changed by " + Percent(fit.a > 0.0 ? 2.0 * r / fit.a : 0.0) +
            " of its mean over a whole period of the curve; is the beam on, and does it pass the attenuator "
            "onto the meter?");

    fit.residualRmsRelative = std::sqrt(squares / static_cast<double>(samples.size())) / fit.pmaxW;
    if (fit.residualRmsRelative > kMaxResidualRms)
        throw CalibrationRefused("the readings do not follow the attenuator's curve: the residuals' RMS is " +
                                 Percent(fit.residualRmsRelative) + " of Pmax, more than " + Percent(kMaxResidualRms) +
                                 "; did the laser, the beam or the meter's range change during the sweep?");

    // b·cos x + c·sin x = R·cos(x − φ) is least where x = φ + π; the period is two spans.
    const double phase = std::atan2(fit.c, fit.b);
    const double period = 2.0 * spanDeg;
    const double minimum = spanDeg * (phase + kPi) / kPi;
    fit.offsetDeg = minimum + period * std::round((nearDeg - minimum) / period);
    // dφ/db = −c/R², dφ/dc = b/R², through the covariance of b and c.
    const double db = -fit.c / (r * r);
    const double dc = fit.b / (r * r);
    const double phaseVariance =
        variance * (db * db * inverse[1][1] + 2.0 * db * dc * inverse[1][2] + dc * dc * inverse[2][2]);
    fit.offsetUncertaintyDeg = spanDeg / kPi * std::sqrt(std::max(0.0, phaseVariance));
    fit.extinctionDb =
        fit.pminW > 0.0 ? 10.0 * std::log10(fit.pmaxW / fit.pminW) : std::numeric_limits<double>::infinity();
    return fit;
}

} // namespace calibration
