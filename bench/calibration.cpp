// The calibration against the simulator's bench at 9600 baud: how close the fit comes to the curve the
// simulator was given (an offset the software is not told, Pmax after the insertion loss, the extinction),
// and the sweep's time beside its physical floor: the motor's travel at its speed, each exchange's bytes
// on the wire, the settle at each point and the meter's own reply time.
//
//   bench-calibration [runs]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Simulator.h"
#include "TempXdg.h"
#include "calibration/Sweep.h"
#include "optivane/optivane.h"
#include "powermeter/PowerMeter.h"

namespace {

// The bench as the simulator is told it; the software is told none of it.
constexpr double kTrueOffsetDeg = -3.7;
constexpr double kLaserMw = 10.0;
constexpr double kInsertionLossDb = 0.4;
constexpr double kExtinctionDb = 30.0;
constexpr double kNoise = 0.002;
constexpr double kSpeedDegPerS = 90.0; // the simulator's default motor speed
constexpr double kMeterDelayMs = 3.0;  // the simulator's default meter reply time

// Ten bits a byte at 9600 baud, 8N1.
constexpr double kByteSeconds = 10.0 / 9600.0;

// The transcript writes CR and LF as the two-character escapes \r and \n.
std::size_t WireBytes(const std::vector<std::string> &lines, std::size_t from) {
    std::size_t bytes = 0;
    for (std::size_t i = from; i < lines.size(); ++i) {
        std::size_t escapes = 0;
        for (std::size_t at = lines[i].find('\\'); at != std::string::npos; at = lines[i].find('\\', at + 2))
            ++escapes;
        bytes += lines[i].size() - escapes;
    }
    return bytes;
}

// Counts the motor's travel on the way through.
class TravelMotor : public calibration::Motor {
public:
    explicit TravelMotor(calibration::Motor &motor) : motor_(motor) {}
    double AngleDeg() override {
        position_ = motor_.AngleDeg();
        return position_;
    }
    void MoveToDeg(double angle) override {
        motor_.MoveToDeg(angle);
        travel_ += std::fabs(angle - position_);
        position_ = angle;
    }
    double travel() const { return travel_; }

private:
    calibration::Motor &motor_;
    double position_ = 0.0;
    double travel_ = 0.0;
};

} // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const double truePmaxW = kLaserMw * 1e-3 * std::pow(10.0, -kInsertionLossDb / 10.0);
    calibration::SweepOptions options; // 46 points, settle 0.2 s, 5 readings, span 45, centred on 0
    std::printf("calibration sweep at 9600 baud: %d points, settle %.1f s, %d readings a point, noise %.1f %%, "
                "true offset %.1f deg\n",
                options.points, options.settleSeconds, options.average, kNoise * 100, kTrueOffsetDeg);
    std::printf("  %-4s %12s %10s %10s %10s %10s %10s %7s\n", "run", "offset err", "u(offset)", "Pmax err", "ext err",
                "sweep", "floor", "ratio");
    double worstOffset = 0, worstPmax = 0, worstExtinction = 0, worstRatio = 0;
    for (int run = 0; run < runs; ++run) {
        TempXdg xdg;
        Simulator sim(Simulator::Meter{"thorlabs"},
                      {"--port", "COM5", "--true-offset-deg", std::to_string(kTrueOffsetDeg), "--laser-mw",
                       std::to_string(kLaserMw), "--insertion-loss-db", std::to_string(kInsertionLossDb),
                       "--extinction-db", std::to_string(kExtinctionDb), "--noise", std::to_string(kNoise), "--seed",
                       std::to_string(run + 1)},
                      true);
        KORVAN::Optivane handle;
        if (!handle.Connect("COM5")) {
            std::fprintf(stderr, "the simulator's port did not open\n");
            return 1;
        }
        const auto meter = powermeter::PowerMeter::Open(sim.meterAddress("usbtmc"), powermeter::Kind::Thorlabs);
        calibration::OptivaneMotor device(handle, "COM5", 3500);
        TravelMotor motor(device);
        const std::size_t requestsBefore = sim.requests().size();
        const std::size_t repliesBefore = sim.replies().size();
        const std::size_t queriesBefore = sim.meterQueries().size();

        const auto start = std::chrono::steady_clock::now();
        const calibration::SweepResult result = calibration::Sweep(
            motor, [&] { return meter->ReadPowerW(); }, options);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        const std::size_t deviceBytes =
            WireBytes(sim.requests(), requestsBefore) + WireBytes(sim.replies(), repliesBefore);
        const std::size_t meterQueries = sim.meterQueries().size() - queriesBefore;
        const double floor = motor.travel() / kSpeedDegPerS + static_cast<double>(deviceBytes) * kByteSeconds +
                             options.points * options.settleSeconds + meterQueries * kMeterDelayMs / 1000.0;
        const calibration::CurveFit &fit = result.fit;
        const double offsetError = fit.offsetDeg - kTrueOffsetDeg;
        const double pmaxError = fit.pmaxW / truePmaxW - 1.0;
        const double extinctionError = fit.extinctionDb - kExtinctionDb;
        std::printf("  %-4d %+8.4f deg %6.4f deg %+8.3f %% %+7.3f dB %8.2f s %8.2f s %7.3f\n", run + 1, offsetError,
                    fit.offsetUncertaintyDeg, pmaxError * 100, extinctionError, seconds, floor, seconds / floor);
        if (run == 0)
            std::printf("       floor: travel %.1f deg at %.0f deg/s, %zu device bytes at 9600 baud, %d x %.1f s "
                        "settle, %zu meter queries x %.0f ms\n",
                        motor.travel(), kSpeedDegPerS, deviceBytes, options.points, options.settleSeconds, meterQueries,
                        kMeterDelayMs);
        worstOffset = std::max(worstOffset, std::fabs(offsetError));
        worstPmax = std::max(worstPmax, std::fabs(pmaxError));
        worstExtinction = std::max(worstExtinction, std::fabs(extinctionError));
        worstRatio = std::max(worstRatio, seconds / floor);
    }
    std::printf("  worst offset error      %.4f deg  (target: at most 0.05 deg)\n", worstOffset);
    std::printf("  worst Pmax error        %.3f %%    (target: at most 0.5 %%)\n", worstPmax * 100);
    std::printf("  worst extinction error  %.3f dB   (target: at most 1 dB of %.0f dB)\n", worstExtinction,
                kExtinctionDb);
    std::printf("  worst sweep over floor  %.3f      (target: at most 1.2)\n", worstRatio);
    return 0;
}
