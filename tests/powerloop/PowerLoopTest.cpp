// The power loop's decisions: the closed-loop set on a fake beam, and the hold's safety rules on a scripted
// meter. No device: the motor is a number and the beam a formula.
#include "powerloop/PowerLoop.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using powerloop::HoldState;
using powerloop::Reason;

// A sine-squared beam on a curve whose true offset the software does not know.
struct Beam {
    double laserW = 1e-3;
    double trueOffsetDeg = 1.0;
    double extinction = 1e-4;
    double noise = 0.0;
    double factor = 1.0; // 0 for a blocked beam
    std::mt19937 random{7};

    double PowerAt(double angleDeg) const {
        const double s = std::sin(M_PI / 2 * (angleDeg - trueOffsetDeg) / 45.0);
        return factor * laserW * (extinction + (1 - extinction) * s * s);
    }
    double Read(double angleDeg) {
        std::normal_distribution<double> gauss(0.0, noise);
        return PowerAt(angleDeg) * (1 + gauss(random));
    }
};

struct FakeMotor : calibration::Motor {
    double angle = 0.0;
    std::vector<double> moves;
    bool lost = false;
    double AngleDeg() override { return angle; }
    void MoveToDeg(double to) override {
        if (lost)
            throw calibration::MotorError(KORVAN::SerialClosed, "COM5: the line was lost");
        moves.push_back(to);
        angle = to;
    }
};

calibration::CurveFit Calibrate(Beam beam) {
    std::vector<calibration::Sample> samples;
    for (double angle = -45; angle <= 45; angle += 2)
        samples.push_back({angle, beam.PowerAt(angle)});
    return calibration::FitCurve(samples, 45.0, 0.0);
}

struct SetCase {
    const char *name;
    bool calibrated;
    double setpointW;
    double noise;
    double rangeMin, maxTransmittance;
    bool meterSilent, meterStuck;
    double startDeg;
    Reason reason;
    int mostMoves;
};

class SetPowerTest : public testing::TestWithParam<SetCase> {};

TEST_P(SetPowerTest, ReachesOrSaysWhyWithinTheWindowAndFromBelow) {
    const SetCase &c = GetParam();
    Beam beam;
    beam.noise = c.noise;
    calibration::Entry entry;
    entry.fit = Calibrate(beam);
    beam.laserW *= 0.9; // the laser has weakened since the calibration
    frontend::PortProfile profile;
    profile.rangeMin = c.rangeMin;
    const powerloop::Plan plan = powerloop::MakePlan(profile, c.calibrated ? &entry : nullptr, c.maxTransmittance);
    FakeMotor motor;
    motor.angle = c.startDeg;
    const calibration::PowerSource meter = [&]() -> double {
        if (c.meterSilent)
            throw std::runtime_error("no reply within 1000 ms");
        return c.meterStuck ? 0.5e-3 : beam.Read(motor.angle);
    };
    powerloop::SetOptions options;
    options.settleSeconds = 0;
    const powerloop::SetResult result = powerloop::SetPower(motor, meter, plan, c.setpointW, options);

    EXPECT_EQ(result.reason, c.reason) << result.message;
    EXPECT_EQ(result.reached, c.reason == Reason::None);
    EXPECT_EQ(result.reached, result.message.empty()) << result.message;
    EXPECT_LE(result.moves, c.mostMoves);
    // A meter noisier than the tolerance widens it; a quiet one leaves it as given.
    if (c.noise >= 0.01) {
        EXPECT_GT(result.tolerance, 0.012);
    } else {
        EXPECT_DOUBLE_EQ(result.tolerance, 0.01);
    }
    if (result.reached) {
        EXPECT_LE(std::fabs(beam.PowerAt(motor.angle) / c.setpointW - 1), result.tolerance + 3 * c.noise);
    }
    // Never outside the window, and never brighter than it was or than the set-point.
    const double brightest = std::max(beam.PowerAt(c.startDeg), c.setpointW * (1 + result.tolerance + 3 * c.noise));
    for (double move : motor.moves) {
        EXPECT_GE(move, plan.window.lowDeg - 1e-9);
        EXPECT_LE(move, plan.window.highDeg + 1e-9);
        if (!c.meterStuck) {
            EXPECT_LE(beam.PowerAt(move), brightest) << move;
        }
    }
    // The last stretch runs upward: from the start, or from a pass below the target.
    if (motor.moves.size() >= 2) {
        EXPECT_GT(motor.moves.back(), motor.moves[motor.moves.size() - 2]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetPowerTest,
    testing::Values(
        // name, calibrated, set-point, noise, range min, max T, silent, stuck, start, reason, most moves
        SetCase{"CalibratedHigh", true, 0.5e-3, 0.002, 0, 1, false, false, 5, Reason::None, 2},
        SetCase{"CalibratedLow", true, 1e-6, 0.002, 0, 1, false, false, 30, Reason::None, 2},
        SetCase{"NominalHigh", false, 0.5e-3, 0.002, 0, 1, false, false, 5, Reason::None, 5},
        SetCase{"NominalLow", false, 2e-6, 0.002, 0, 1, false, false, 30, Reason::None, 5},
        SetCase{"NoisyMeterWidensTheTolerance", true, 0.2e-3, 0.02, 0, 1, false, false, 30, Reason::None, 6},
        SetCase{"TooWeakBelowTheMaximum", true, 0.5e-3, 0.002, 0, 0.3, false, false, 30, Reason::LaserTooWeak, 6},
        SetCase{"BelowTheLeastPermitted", false, 1e-6, 0.002, 0.2, 1, false, false, 30, Reason::BelowFloor, 6},
        SetCase{"SilentMeter", true, 0.5e-3, 0, 0, 1, true, false, 30, Reason::MeterNotAnswering, 0},
        SetCase{"ReadingNotFollowing", true, 0.1e-3, 0, 0, 1, false, true, 30, Reason::NotFollowing, 2}),
    [](const testing::TestParamInfo<SetCase> &info) { return std::string(info.param.name); });

// The hold, one reading at a time: what the meter gives (a factor on the beam, or no reading) and what
// the hold must do.
enum Meter { Ok, Silent, Garbage };
struct Tick {
    double beam; // factor on the beam: 0.01 is a blocked beam, 0.6 a weakened laser
    Meter meter;
    HoldState state;
    bool mayMove;
};

struct HoldCase {
    const char *name;
    double maxTransmittance;
    std::vector<Tick> ticks;
    int messages; // state messages over the whole run, each said once
};

class HoldTest : public testing::TestWithParam<HoldCase> {};

TEST_P(HoldTest, FreezesHoldsAtTheCeilingAndResumes) {
    const HoldCase &c = GetParam();
    Beam beam;
    calibration::Entry entry;
    entry.fit = Calibrate(beam);
    const powerloop::Plan plan = powerloop::MakePlan({}, &entry, c.maxTransmittance);
    const double setpointW = 0.2e-3;
    FakeMotor motor;
    motor.angle = plan.curve.AngleForFraction(0.2);
    powerloop::HoldCore core(plan, setpointW, {}, motor.angle, {beam.laserW, 0.0});
    int messages = 0;
    for (std::size_t i = 0; i < c.ticks.size(); ++i) {
        const Tick &tick = c.ticks[i];
        beam.factor = tick.beam;
        const double before = motor.angle;
        const powerloop::Step step = tick.meter == Silent    ? core.OnFailedReading("no reply within 1000 ms")
                                     : tick.meter == Garbage ? core.OnReading(std::nan(""))
                                                             : core.OnReading(beam.Read(motor.angle));
        messages += step.message.empty() ? 0 : 1;
        EXPECT_EQ(step.state, tick.state) << "tick " << i << ": " << step.message;
        if (step.move) {
            EXPECT_TRUE(tick.mayMove) << "tick " << i;
            EXPECT_LE(step.angleDeg, plan.window.highDeg + 1e-9);
            // One correction raises the power by at most the step limit.
            EXPECT_LE(beam.PowerAt(step.angleDeg), 1.25 * beam.PowerAt(before) * 1.001);
            motor.MoveToDeg(step.angleDeg);
            core.Moved(step.angleDeg);
        }
    }
    EXPECT_EQ(messages, c.messages);
}

constexpr HoldState H = HoldState::Holding, F = HoldState::Frozen, C = HoldState::AtCeiling;

INSTANTIATE_TEST_SUITE_P(
    Rules, HoldTest,
    testing::Values(
        HoldCase{"BlockedBeam",
                 1,
                 {{1, Ok, H, false},
                  {0.01, Ok, F, false},
                  {0.01, Ok, F, false},
                  {0, Ok, F, false},
                  {1, Ok, H, false},
                  {1, Ok, H, false}},
                 2},
        HoldCase{
            "SilentMeter",
            1,
            {{1, Ok, H, false}, {1, Silent, F, false}, {1, Silent, F, false}, {0.01, Ok, F, false}, {1, Ok, H, false}},
            2},
        HoldCase{
            "Garbage", 1, {{1, Ok, H, false}, {1, Garbage, F, false}, {1, Garbage, F, false}, {1, Ok, H, false}}, 2},
        HoldCase{"DriftIsFollowed",
                 1,
                 {{1, Ok, H, false},
                  {0.9, Ok, H, true},
                  {0.9, Ok, H, true},
                  {0.8, Ok, H, true},
                  {0.8, Ok, H, true},
                  {0.8, Ok, H, false}},
                 0},
        // A maximum of 0.25 leaves a little room above 20 %; a laser at 60 % cannot be followed there.
        HoldCase{"CeilingSaidOnce",
                 0.25,
                 {{1, Ok, H, false},
                  {0.6, Ok, H, true},
                  {0.6, Ok, C, false},
                  {0.6, Ok, C, false},
                  {0.6, Ok, C, false},
                  {1, Ok, H, true},
                  {1, Ok, H, true},
                  {1, Ok, H, false}},
                 2}),
    [](const testing::TestParamInfo<HoldCase> &info) { return std::string(info.param.name); });

// The runner on its thread: a lost line stops the hold with the reason, and a stop ends the wait at once.
TEST(HoldRunnerTest, StopsOnALostLineAndOnRequest) {
    Beam beam;
    const powerloop::Plan plan = powerloop::MakePlan({}, nullptr);
    FakeMotor motor;
    motor.angle = 20;
    std::atomic<int> readings{0};
    powerloop::HoldCallbacks callbacks;
    callbacks.reading = [&](const powerloop::HoldReading &) { ++readings; };
    {
        powerloop::HoldOptions options;
        options.intervalSeconds = 0.01;
        motor.lost = true;
        powerloop::HoldRunner runner(
            motor, [&] { return beam.Read(motor.angle); }, plan, 0.1e-3, options, callbacks, std::nullopt);
        runner.Start();
        runner.Wait();
        EXPECT_EQ(runner.state(), HoldState::Stopped);
        EXPECT_NE(runner.message().find("the line was lost"), std::string::npos) << runner.message();
    }
    motor.lost = false;
    powerloop::HoldOptions slow;
    slow.intervalSeconds = 3600;
    powerloop::HoldRunner runner(
        motor, [&] { return beam.Read(motor.angle); }, plan, beam.PowerAt(20), slow, callbacks, std::nullopt);
    readings = 0;
    runner.Start();
    while (readings == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    runner.Stop("interrupted");
    runner.Wait(); // an hour's interval: this returns only because the stop cuts the wait short
    EXPECT_EQ(runner.state(), HoldState::Stopped);
    EXPECT_EQ(runner.message(), "interrupted");
    EXPECT_EQ(motor.moves.size(), 0u);
}

} // namespace
