// The power loop against the simulator's bench at 9600 baud with a moving motor: a laser whose curve lies
// 1.3 degrees from where the software thinks, a meter with 0.2 % noise.
//   1. Ten set-points spread over 30 dB, without and with a calibration: the moves used to reach 1 %, and
//      the time of each set beside the moves' own time on the wire and in travel.
//   2. A hold at 5 %/min drift: the share of readings within the tolerance, and the largest error.
//   3. A beam blocked in the middle of a hold: the moves while blocked, and the intervals until the power
//      is back within the tolerance once it returns.
//
//   bench-powerloop [HOLD_SECONDS]    (default 120)
#include "powerloop/PowerLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Simulator.h"
#include "TempXdg.h"
#include "calibration/Sweep.h"
#include "powermeter/PowerMeter.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::vector<std::string> kBench = {"--true-offset-deg", "1.3", "--noise",         "0.002", "--seed", "5",
                                         "--laser-mw",        "10",  "--extinction-db", "40"};

// The attenuator's motor, with the time its moves take (the exchange on the wire and the travel) counted.
class TimedMotor : public calibration::Motor {
public:
    TimedMotor(KORVAN::Optivane &handle, const std::string &port) : motor_(handle, port, 10000) {}
    double AngleDeg() override { return motor_.AngleDeg(); }
    void MoveToDeg(double angle) override {
        const auto start = Clock::now();
        motor_.MoveToDeg(angle);
        std::lock_guard<std::mutex> lock(mutex_);
        seconds_ += std::chrono::duration<double>(Clock::now() - start).count();
        ++commands_;
    }
    double seconds() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seconds_;
    }
    int commands() {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }

private:
    calibration::OptivaneMotor motor_;
    std::mutex mutex_;
    double seconds_ = 0.0;
    int commands_ = 0;
};

struct Rig {
    TempXdg xdg;
    Simulator sim;
    KORVAN::Optivane handle;
    std::unique_ptr<powermeter::PowerMeter> meter;
    std::unique_ptr<TimedMotor> motor;

    explicit Rig(std::vector<std::string> extra) : sim(Simulator::Meter{"thorlabs"}, Args(std::move(extra)), true) {
        if (!handle.Connect(sim.ptyPath())) {
            std::fprintf(stderr, "the simulator did not answer\n");
            std::exit(1);
        }
        meter = powermeter::PowerMeter::Open(sim.meterAddress("tcp"), powermeter::Kind::Thorlabs);
        motor = std::make_unique<TimedMotor>(handle, sim.ptyPath());
    }
    static std::vector<std::string> Args(std::vector<std::string> extra) {
        std::vector<std::string> args = kBench;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    calibration::PowerSource Source() {
        return [this] { return meter->ReadPowerW(); };
    }
};

void SetPoints(Rig &rig, const powerloop::Plan &plan, const char *name) {
    // -2 dB to -32 dB below the full beam of 10 mW less 0.4 dB, in an order that moves both ways.
    const double full = 10e-3 * std::pow(10.0, -0.04);
    const int order[] = {0, 5, 2, 8, 1, 9, 3, 7, 4, 6};
    powerloop::SetOptions options;
    options.maxMoves = 10;
    int most = 0, total = 0, reached = 0;
    double seconds = 0, moveSeconds = 0;
    std::printf("%s:\n  set-point   dB    moves  reached  error %%   time s  in moves s\n", name);
    for (int i : order) {
        const double db = -2.0 - 30.0 * i / 9.0;
        const double watts = full * std::pow(10.0, db / 10);
        const double before = rig.motor->seconds();
        const auto start = Clock::now();
        const powerloop::SetResult result = powerloop::SetPower(*rig.motor, rig.Source(), plan, watts, options);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const double inMoves = rig.motor->seconds() - before;
        std::printf("  %8.3g W  %5.1f  %5d  %-7s  %+6.2f  %6.2f  %6.2f%s%s\n", watts, db, result.moves,
                    result.reached ? "yes" : "no", result.relativeError * 100, elapsed, inMoves,
                    result.reached ? "" : "  ", result.message.c_str());
        most = std::max(most, result.moves);
        total += result.moves;
        reached += result.reached ? 1 : 0;
        seconds += elapsed;
        moveSeconds += inMoves;
    }
    std::printf("  reached %d of 10; moves: mean %.1f, most %d; time %.1f s, of which %.1f s in the moves "
                "(wire and travel)\n",
                reached, total / 10.0, most, seconds, moveSeconds);
}

struct HoldRecord {
    std::mutex mutex;
    std::vector<powerloop::HoldReading> readings;
    std::vector<powerloop::Correction> corrections;
};

powerloop::HoldCallbacks Record(HoldRecord &record) {
    powerloop::HoldCallbacks callbacks;
    callbacks.reading = [&record](const powerloop::HoldReading &reading) {
        std::lock_guard<std::mutex> lock(record.mutex);
        record.readings.push_back(reading);
    };
    callbacks.correction = [&record](const powerloop::Correction &correction) {
        std::lock_guard<std::mutex> lock(record.mutex);
        record.corrections.push_back(correction);
    };
    return callbacks;
}

void Drift(double seconds) {
    Rig rig({"--drift-per-min", "0.05"});
    const powerloop::Plan plan = powerloop::MakePlan({}, nullptr);
    HoldRecord record;
    powerloop::HoldOptions options;
    options.intervalSeconds = 1.0;
    const double setpoint = 1e-3;
    {
        powerloop::HoldRunner runner(*rig.motor, rig.Source(), plan, setpoint, options, Record(record));
        runner.Start();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        runner.Stop();
        runner.Wait();
    }
    int within = 0, valid = 0;
    double largest = 0;
    for (const powerloop::HoldReading &reading : record.readings) {
        if (!reading.valid)
            continue;
        ++valid;
        within += std::fabs(reading.relativeError) <= options.tolerance ? 1 : 0;
        largest = std::max(largest, std::fabs(reading.relativeError));
    }
    std::printf("hold at 1 mW for %.0f s, laser drifting 5 %%/min, 1 s interval, 1 %% tolerance:\n"
                "  %d readings, %.1f %% within the tolerance, largest error %.2f %%, %zu corrections; laser now "
                "%.3g W at the meter\n",
                seconds, valid, valid ? 100.0 * within / valid : 0.0, largest * 100, record.corrections.size(),
                rig.sim.truePowerW());
}

void Blocked() {
    Rig rig({});
    const powerloop::Plan plan = powerloop::MakePlan({}, nullptr);
    HoldRecord record;
    powerloop::HoldOptions options;
    options.intervalSeconds = 1.0;
    using Wall = std::chrono::system_clock;
    powerloop::HoldRunner runner(*rig.motor, rig.Source(), plan, 1e-3, options, Record(record));
    runner.Start();
    std::this_thread::sleep_for(std::chrono::seconds(15));
    const int commandsBefore = rig.motor->commands();
    rig.sim.control("beam block");
    const Wall::time_point blocked = Wall::now();
    std::this_thread::sleep_for(std::chrono::seconds(8));
    const int commandsBlocked = rig.motor->commands() - commandsBefore;
    const powerloop::HoldState whileBlocked = runner.state();
    rig.sim.control("beam unblock");
    const Wall::time_point back = Wall::now();
    std::this_thread::sleep_for(std::chrono::seconds(6));
    runner.Stop();
    runner.Wait();

    int frozenReadings = 0;
    double backAfter = -1;
    for (const powerloop::HoldReading &reading : record.readings) {
        if (reading.time > blocked && reading.time < back)
            frozenReadings += reading.state == powerloop::HoldState::Frozen ? 1 : 0;
        if (backAfter < 0 && reading.time > back && reading.valid &&
            std::fabs(reading.relativeError) <= options.tolerance)
            backAfter = std::chrono::duration<double>(reading.time - back).count();
    }
    std::printf("beam blocked for 8 s in the middle of a hold at 1 mW (1 s interval, 1 %% tolerance):\n"
                "  state while blocked: %s (%d frozen readings); motor commands while blocked: %d\n"
                "  back within the tolerance %.2f s (%.1f intervals) after the beam returned\n",
                powerloop::StateName(whileBlocked), frozenReadings, commandsBlocked, backAfter,
                backAfter / options.intervalSeconds);
}

} // namespace

int main(int argc, char **argv) {
    const double holdSeconds = argc > 1 ? std::atof(argv[1]) : 120.0;
    if (!(holdSeconds > 0)) {
        std::fprintf(stderr, "usage: bench-powerloop [HOLD_SECONDS]\n");
        return 2;
    }
    try {
        {
            Rig rig({});
            rig.motor->MoveToDeg(30.0);
            SetPoints(rig, powerloop::MakePlan({}, nullptr), "closed-loop set without a calibration");
            calibration::SweepOptions sweep;
            const calibration::SweepResult calibrated = calibration::Sweep(*rig.motor, rig.Source(), sweep);
            std::printf("calibration: offset %.3f deg (true 1.3), extinction %.1f dB\n", calibrated.fit.offsetDeg,
                        calibrated.fit.extinctionDb);
            calibration::Entry entry;
            entry.fit = calibrated.fit;
            rig.motor->MoveToDeg(30.0);
            SetPoints(rig, powerloop::MakePlan({}, &entry), "closed-loop set with the calibration");
        }
        Drift(holdSeconds);
        Blocked();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench-powerloop: %s\n", error.what());
        return 1;
    }
    return 0;
}
