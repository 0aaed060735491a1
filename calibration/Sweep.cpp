// The calibration sweep.
#include "calibration/Sweep.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace calibration {

namespace {

// How long a settle waits at most before it asks again whether it was cancelled.
constexpr auto kCancelSlice = std::chrono::milliseconds(10);

// Puts the motor back where the sweep found it, however the sweep ends; an error on the way back cannot
// replace the one that ended the sweep, so the exceptional path keeps it quiet.
class ReturnToStart {
public:
    ReturnToStart(Motor &motor, double startDeg, double backlashDeg, double &positionDeg)
        : motor_(motor), startDeg_(startDeg), backlashDeg_(backlashDeg), position_(positionDeg) {}
    ~ReturnToStart() {
        if (done_)
            return;
        try {
            Return();
        } catch (...) {
        }
    }
    ReturnToStart(const ReturnToStart &) = delete;
    ReturnToStart &operator=(const ReturnToStart &) = delete;

    void Return() {
        done_ = true;
        Approach(startDeg_);
    }

    // Every target is reached moving up, so that the backlash lies the same way at each point. After a move
    // that failed the position is unknown, and the next target is approached from below too.
    void Approach(double target) {
        const bool fromAbove = !(target >= position_);
        position_ = std::nan("");
        if (fromAbove)
            motor_.MoveToDeg(target - backlashDeg_);
        motor_.MoveToDeg(target);
        position_ = target;
    }

private:
    Motor &motor_;
    double startDeg_;
    double backlashDeg_;
    double &position_;
    bool done_ = false;
};

} // namespace

std::vector<double> SweepAngles(const SweepOptions &options) {
    if (options.points < 2 || !(options.spanDeg > 0.0) || !std::isfinite(options.centreDeg))
        throw std::invalid_argument("a sweep needs at least 2 points over a positive span");
    std::vector<double> angles;
    const double first = options.centreDeg - options.spanDeg;
    const double step = 2.0 * options.spanDeg / (options.points - 1);
    for (int i = 0; i < options.points; ++i)
        angles.push_back(first + step * i);
    return angles;
}

SweepResult Sweep(Motor &motor, const PowerSource &source, const SweepOptions &options,
                  const std::function<void(int, int)> &progress, const std::function<bool()> &cancelled) {
    const std::vector<double> angles = SweepAngles(options);
    if (options.average < 1 || !(options.settleSeconds >= 0.0) || !(options.backlashDeg >= 0.0))
        throw std::invalid_argument("a sweep needs at least 1 reading a point, a settle time and a backlash margin "
                                    "of 0 or more");
    const auto checkCancel = [&] {
        if (cancelled && cancelled())
            throw SweepCancelled();
    };
    const auto settle = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(options.settleSeconds));

    checkCancel();
    double position = motor.AngleDeg();
    ReturnToStart guard(motor, position, options.backlashDeg, position);
    std::vector<Sample> samples;
    for (const double angle : angles) {
        checkCancel();
        guard.Approach(angle);
        const auto settled = std::chrono::steady_clock::now() + settle;
        for (auto now = std::chrono::steady_clock::now(); now < settled; now = std::chrono::steady_clock::now()) {
            checkCancel();
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(settled - now, kCancelSlice));
        }
        double sum = 0.0;
        for (int i = 0; i < options.average; ++i) {
            checkCancel();
            sum += source();
        }
        samples.push_back({angle, sum / options.average});
        if (progress)
            progress(static_cast<int>(samples.size()), options.points);
    }
    checkCancel();
    guard.Return();
    try {
        CurveFit fit = FitCurve(samples, options.spanDeg, options.centreDeg);
        return {std::move(samples), fit};
    } catch (const CalibrationRefused &refusal) {
        throw SweepRefused(refusal, std::move(samples));
    }
}

} // namespace calibration
