// hold: keep a power on the meter against the laser's drift until Ctrl-C or SIGTERM.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>

#include "Commands.h"
#include "Output.h"
#include "Power.h"

namespace cli {

int Hold(const Options &options) {
    Session session(options.operands[0], options);
    const Target target = ParseTarget(options.operands[1]);
    if (target.kind != Target::Power)
        throw Failure(kExitUsage, "hold keeps a power: write it as 1.2mW, 500uW, 20nW or 0.001W");
    // The log is opened before anything moves, so that a bad path costs nothing.
    std::ofstream csv;
    if (!options.csvPath.empty()) {
        csv.open(options.csvPath, std::ios::binary | std::ios::trunc);
        if (!csv)
            throw Failure(kExitUsage, "--csv: cannot write " + options.csvPath);
        csv << "time,power_w,relative_error,angle_deg,state,error\n" << std::flush;
    }
    std::unique_ptr<powermeter::PowerMeter> meter = OpenMeter(options, "hold");
    CatchStopSignals();
    session.Open();
    const std::optional<calibration::Entry> entry = FindCalibration(session, options, false);
    const powerloop::Plan plan = PlanFor(session, options, entry ? &*entry : nullptr);
    calibration::OptivaneMotor motor(session.handle(), session.port(), session.timeoutMs());

    powerloop::HoldOptions hold;
    hold.tolerance = options.tolerance;
    hold.intervalSeconds = options.intervalGiven ? options.intervalSeconds : 1.0;
    powerloop::SetOptions set;
    set.tolerance = options.tolerance;
    set.maxMoves = options.maxMoves;

    const std::string port = session.port();
    const auto line = [&](const std::string &text, nlohmann::json json) {
        const std::string time = Timestamp(std::chrono::system_clock::now());
        if (options.json) {
            json["time"] = time;
            json["port"] = port;
            Emit(json.dump() + "\n");
        } else {
            Emit(time + "  " + text + "\n");
        }
    };
    bool csvFailed = false;
    powerloop::HoldCallbacks callbacks;
    callbacks.set = [&](const powerloop::SetResult &result) {
        line("set " + PowerText(result.setpointW) + (result.reached ? ": reached " : ": not reached ") +
                 (std::isfinite(result.powerW) ? PowerText(result.powerW) : std::string("no reading")) + " (" +
                 Format("%+.3f %%", result.relativeError * 100) + ") in " + std::to_string(result.moves) + " moves" +
                 (result.reached ? "" : ": " + result.message),
             {{"event", "set"},
              {"reached", result.reached},
              {"power_w", std::isfinite(result.powerW) ? nlohmann::json(result.powerW) : nlohmann::json(nullptr)},
              {"moves", result.moves},
              {"reason", powerloop::ReasonName(result.reason)}});
    };
    callbacks.reading = [&](const powerloop::HoldReading &reading) {
        if (!csv.is_open() || csvFailed)
            return;
        csv << Timestamp(reading.time) << ","
            << (reading.valid ? Format("%.9g", reading.powerW) + "," + Format("%.6f", reading.relativeError) : ",")
            << "," << Format("%.4f", reading.angleDeg) << "," << powerloop::StateName(reading.state) << ",";
        // The meter's message may hold commas or quotes: quoted as CSV quotes.
        std::string error = reading.error;
        for (std::size_t at = 0; (at = error.find('"', at)) != std::string::npos; at += 2)
            error.insert(at, "\"");
        csv << (error.empty() ? "" : "\"" + error + "\"") << "\n" << std::flush;
        if (!csv) {
            csvFailed = true;
            std::fprintf(stderr, "optivane: --csv: writing %s failed; the hold goes on without it\n",
                         options.csvPath.c_str());
        }
    };
    callbacks.correction = [&](const powerloop::Correction &correction) {
        line("correction " + Format("%.4f", correction.fromDeg) + " -> " + Format("%.4f deg", correction.toDeg) +
                 " (read " + PowerText(correction.powerW) + ", " + Format("%+.2f %%", correction.relativeError * 100) +
                 ")",
             {{"event", "correction"},
              {"from_deg", correction.fromDeg},
              {"to_deg", correction.toDeg},
              {"power_w", correction.powerW},
              {"relative_error", correction.relativeError}});
    };
    // What the hold was doing when it was stopped: the exit status says whether it held the set-point.
    powerloop::HoldState lastState = powerloop::HoldState::Holding;
    std::string lastMessage;
    callbacks.state = [&](powerloop::HoldState state, const std::string &message) {
        if (state != powerloop::HoldState::Stopped) {
            lastState = state;
            lastMessage = message;
        }
        line(std::string(powerloop::StateName(state)) + (message.empty() ? "" : ": " + message),
             {{"event", "state"}, {"state", powerloop::StateName(state)}, {"message", message}});
    };

    bool signalled = false;
    {
        powerloop::HoldRunner runner(
            motor, [&] { return meter->ReadPowerW(); }, plan, target.value, hold, callbacks, set);
        runner.Start();
        while (runner.running()) {
            if (StopSignalled()) {
                signalled = true;
                runner.Stop("stopped by a signal; the attenuator stays where it is");
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        runner.Wait();
        if (!signalled)
            // The hold ends on its own only when it cannot go on: a lost line, a device error.
            throw Failure(kExitLink, port + ": " + runner.message());
    }
    if (lastState != powerloop::HoldState::Holding)
        throw Failure(kExitNotReached,
                      port + ": the hold ended " + powerloop::StateName(lastState) + ": " + lastMessage);
    return kExitOk;
}

} // namespace cli
