// The sweep against a fake motor that records its moves: the direction every point is reached from, and
// the way back to the start however the sweep ends.
#include "calibration/Sweep.h"

#include <cmath>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

using calibration::SweepOptions;

constexpr double kPi = 3.14159265358979323846;

class FakeMotor : public calibration::Motor {
public:
    explicit FakeMotor(double start) : angle(start) {}
    double AngleDeg() override { return angle; }
    void MoveToDeg(double target) override {
        if (failAtMove >= 0 && static_cast<int>(moves.size()) == failAtMove) {
            failAtMove = -1; // the line comes back for the way home
            throw calibration::MotorError(KORVAN::SerialTimeout, "no answer");
        }
        moves.push_back(target);
        angle = target;
    }
    double angle;
    std::vector<double> moves;
    int failAtMove = -1;
};

// A sine-squared beam that follows the fake motor, zero at −3.7°.
struct Beam {
    explicit Beam(FakeMotor &motor) : motor(motor) {}
    double operator()() {
        if (++readings == failAtReading)
            throw std::runtime_error("meter unplugged");
        const double s = std::sin(kPi * (motor.angle + 3.7) / 90.0);
        return 1e-6 + 1e-3 * s * s;
    }
    FakeMotor &motor;
    int readings = 0;
    int failAtReading = -1;
};

SweepOptions Quick() {
    SweepOptions options;
    options.points = 10;
    options.settleSeconds = 0.0;
    options.average = 2;
    return options;
}

TEST(Sweep, ReachesEveryPointFromBelowAndReturns) {
    for (const double start : {30.0, -80.0}) {
        FakeMotor motor(start);
        Beam beam(motor);
        std::vector<int> progress;
        const calibration::SweepResult result =
            calibration::Sweep(motor, std::ref(beam), Quick(), [&](int done, int total) {
                EXPECT_EQ(total, 10);
                progress.push_back(done);
            });
        ASSERT_EQ(result.samples.size(), 10u);
        EXPECT_EQ(result.samples.front().angleDeg, -45.0);
        EXPECT_EQ(result.samples.back().angleDeg, 45.0);
        EXPECT_EQ(progress, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        EXPECT_EQ(beam.readings, 20);
        EXPECT_NEAR(result.fit.offsetDeg, -3.7, 1e-6);
        // Each point and the start are reached by a move up: from below the backlash margin when the motor
        // was above.
        double before = start;
        std::size_t point = 0;
        for (const double move : motor.moves) {
            const bool isTarget =
                point < result.samples.size() ? move == result.samples[point].angleDeg : move == start;
            if (isTarget) {
                EXPECT_LT(before, move) << "at " << move;
                ++point;
            } else {
                EXPECT_DOUBLE_EQ(move, (point < result.samples.size() ? result.samples[point].angleDeg : start) - 1.0);
            }
            before = move;
        }
        EXPECT_EQ(point, result.samples.size() + 1);
        EXPECT_EQ(motor.angle, start);
    }
}

TEST(Sweep, ReturnsToTheStartAfterAnErrorOrACancel) {
    struct Case {
        const char *name;
        int failAtReading;
        int failAtMove;
        int cancelAtAsk;
    };
    for (const Case c : {Case{"meter error", 7, -1, -1}, Case{"motor error", -1, 4, -1}, Case{"cancel", -1, -1, 9}}) {
        FakeMotor motor(12.5);
        motor.failAtMove = c.failAtMove;
        Beam beam(motor);
        beam.failAtReading = c.failAtReading;
        int asked = 0;
        const auto cancelled = [&] { return ++asked == c.cancelAtAsk || (c.cancelAtAsk > 0 && asked > c.cancelAtAsk); };
        if (c.cancelAtAsk > 0)
            EXPECT_THROW(calibration::Sweep(motor, std::ref(beam), Quick(), {}, cancelled), calibration::SweepCancelled)
                << c.name;
        else if (c.failAtMove >= 0)
            EXPECT_THROW(calibration::Sweep(motor, std::ref(beam), Quick(), {}, cancelled), calibration::MotorError)
                << c.name;
        else
            EXPECT_THROW(calibration::Sweep(motor, std::ref(beam), Quick(), {}, cancelled), std::runtime_error)
                << c.name;
        EXPECT_EQ(motor.angle, 12.5) << c.name;
        // The way back is a move up too.
        ASSERT_GE(motor.moves.size(), 2u);
        EXPECT_LT(motor.moves[motor.moves.size() - 2], 12.5) << c.name;
    }
}

TEST(Sweep, AFlatBeamIsRefusedWithItsReadingsKept) {
    FakeMotor motor(0.0);
    try {
        calibration::Sweep(
            motor, [] { return 1e-3; }, Quick());
        FAIL() << "fitted a flat beam";
    } catch (const calibration::SweepRefused &refusal) {
        EXPECT_EQ(refusal.samples.size(), 10u);
    }
    EXPECT_EQ(motor.angle, 0.0);
}

} // namespace
