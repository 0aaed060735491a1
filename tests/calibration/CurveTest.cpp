// The fit on synthetic curves: where it finds the minimum, how sure it says it is, and what it refuses.
#include "calibration/Curve.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

namespace {

using calibration::CalibrationRefused;
using calibration::FitCurve;
using calibration::Sample;

constexpr double kPi = 3.14159265358979323846;

struct Bench {
    double offsetDeg = -3.7;
    double pmaxW = 1e-3;
    double extinctionDb = 30.0;
    double noise = 0.0;         // relative, per reading
    double stepAtFraction = -1; // the laser drops by a third from this share of the sweep on
};

std::vector<Sample> Sweep(const Bench &bench, int points, double centreDeg, double spanDeg = 45.0) {
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double pmin = bench.pmaxW * std::pow(10.0, -bench.extinctionDb / 10.0);
    std::vector<Sample> samples;
    for (int i = 0; i < points; ++i) {
        const double angle = centreDeg - spanDeg + 2.0 * spanDeg * i / (points - 1);
        const double s = std::sin(kPi * (angle - bench.offsetDeg) / (2.0 * spanDeg));
        double power = pmin + (bench.pmaxW - pmin) * s * s;
        if (bench.stepAtFraction >= 0 && i >= bench.stepAtFraction * points)
            power *= 0.66;
        samples.push_back({angle, power * (1.0 + bench.noise * gauss(random))});
    }
    return samples;
}

struct FitCase {
    const char *name;
    Bench bench;
    int points;
    double centreDeg;
    double offsetToleranceDeg;
    double extinctionToleranceDb; // 0: the noise on Pmin is beyond it
};

class Fit : public testing::TestWithParam<FitCase> {};

TEST_P(Fit, FindsTheMinimumPmaxAndExtinction) {
    const FitCase &c = GetParam();
    const calibration::CurveFit fit = FitCurve(Sweep(c.bench, c.points, c.centreDeg), 45.0, c.centreDeg);
    EXPECT_NEAR(fit.offsetDeg, c.bench.offsetDeg, c.offsetToleranceDeg);
    EXPECT_NEAR(fit.pmaxW / c.bench.pmaxW, 1.0, 0.005);
    if (c.extinctionToleranceDb > 0) {
        EXPECT_NEAR(fit.extinctionDb, c.bench.extinctionDb, c.extinctionToleranceDb);
    }
    EXPECT_EQ(fit.points, static_cast<std::size_t>(c.points));
    if (c.bench.noise > 0) {
        // The uncertainty is that of the noise: neither zero nor far from the error it describes.
        EXPECT_GT(fit.offsetUncertaintyDeg, 0.0);
        EXPECT_LT(std::fabs(fit.offsetDeg - c.bench.offsetDeg), 5.0 * fit.offsetUncertaintyDeg);
        EXPECT_LT(fit.offsetUncertaintyDeg, 20.0 * c.bench.noise);
        EXPECT_NEAR(fit.residualRmsRelative, c.bench.noise / std::sqrt(2.0), c.bench.noise);
    } else {
        EXPECT_LT(fit.offsetUncertaintyDeg, 1e-6);
        EXPECT_LT(fit.residualRmsRelative, 1e-9);
    }
    // The power loop's inverse: the angle for a fraction lies on the rising branch and gives it back.
    for (const double fraction : {fit.MinFraction(), 0.1, 0.5, 1.0}) {
        const double angle = fit.AngleForFraction(fraction);
        EXPECT_NEAR(fit.FractionAt(angle), fraction, 1e-9) << fraction;
        EXPECT_GE(angle, fit.offsetDeg - 1e-9);
        EXPECT_LE(angle, fit.offsetDeg + 45.0 + 1e-9);
    }
    EXPECT_THROW(fit.AngleForFraction(fit.MinFraction() / 2), std::domain_error);
    EXPECT_THROW(fit.AngleForFraction(1.01), std::domain_error);
}

INSTANTIATE_TEST_SUITE_P(
    SyntheticCurves, Fit,
    testing::Values(FitCase{"exact", {}, 46, 0.0, 1e-9, 1e-6},
                    FitCase{"noise_0_2_percent", {-3.7, 1e-3, 30.0, 0.002}, 46, 0.0, 0.05, 1.0},
                    FitCase{"noise_1_percent", {-3.7, 1e-3, 30.0, 0.01}, 46, 0.0, 0.2, 0},
                    FitCase{"few_points", {12.0, 2e-3, 20.0, 0.002}, 8, 10.0, 0.2, 1.0},
                    // The minimum nearest the expected one, also a period away from the origin.
                    FitCase{"offset_beyond_the_span", {97.3, 5e-3, 25.0, 0.002}, 46, 95.0, 0.05, 1.0},
                    FitCase{"negative_offset_beyond_the_span", {-61.25, 1e-4, 35.0, 0.002}, 61, -60.0, 0.05, 1.0}),
    [](const testing::TestParamInfo<FitCase> &info) { return info.param.name; });

TEST(Fit, NearDegPicksTheMinimumOfThePeriod) {
    const std::vector<Sample> samples = Sweep({}, 46, 0.0);
    EXPECT_NEAR(FitCurve(samples, 45.0, 80.0).offsetDeg, -3.7 + 90.0, 1e-9);
    EXPECT_NEAR(FitCurve(samples, 45.0, -100.0).offsetDeg, -3.7 - 90.0, 1e-9);
}

struct RefusalCase {
    const char *name;
    std::vector<Sample> samples;
    const char *reason;
};

class Refusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, SaysWhy) {
    try {
        FitCurve(GetParam().samples, 45.0, 0.0);
        FAIL() << "fitted";
    } catch (const CalibrationRefused &refusal) {
        EXPECT_NE(std::string(refusal.what()).find(GetParam().reason), std::string::npos) << refusal.what();
    }
}

std::vector<Sample> Flat(double watts, double noise) {
    Bench bench;
    bench.extinctionDb = 0.0;
    bench.noise = noise;
    bench.pmaxW = watts;
    return Sweep(bench, 46, 0.0);
}

std::vector<Sample> Dark() {
    // A meter in the dark reads its own noise around zero.
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0.0, 1e-9);
    std::vector<Sample> samples;
    for (int i = 0; i < 46; ++i)
        samples.push_back({-45.0 + 2.0 * i, gauss(random)});
    return samples;
}

INSTANTIATE_TEST_SUITE_P(
    Readings, Refusal,
    testing::Values(RefusalCase{"seven_points", Sweep({}, 7, 0.0), "too few points"},
                    RefusalCase{"all_zero", Flat(0.0, 0.0), "0 W at every point"},
                    RefusalCase{"dark_meter", Dark(), "no modulation"},
                    RefusalCase{"beam_past_the_attenuator", Flat(1e-3, 0.002), "no modulation"},
                    RefusalCase{"laser_dropped_half_way", Sweep({-3.7, 1e-3, 30.0, 0.002, 0.5}, 46, 0.0),
                                "do not follow the attenuator's curve"},
                    RefusalCase{"one_angle", std::vector<Sample>(46, Sample{3.0, 1e-3}), "do not cover the curve"},
                    RefusalCase{"not_a_number", {8, Sample{1.0, std::nan("")}}, "not a number"}),
    [](const testing::TestParamInfo<RefusalCase> &info) { return info.param.name; });

} // namespace
