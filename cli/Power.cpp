// set POWER with the meter in the loop, and set/get on the measured curve of a calibration.
#include "Power.h"

#include <cmath>
#include <cstdio>

#include "Commands.h"
#include "Output.h"
#include "frontend/Units.h"

namespace cli {

namespace {

std::string MeasuredLine(double fraction) {
    const double db = frontend::DecibelsFromTransmittance(fraction);
    return "measured       " + Format("%.6f", fraction) + " (" + Format("%.4f %%", fraction * 100) + ", " +
           (std::isfinite(db) ? Format("%.4f dB", db) : std::string("inf dB")) + " below the full beam)\n";
}

// The readings beside the measured fraction and dB they stand for on the plan's curve.
int EmitMeasured(Session &session, const Options &options, const powerloop::Plan &plan) {
    const Reading reading = session.Read();
    const double measured = powerloop::MeasuredFractionAt(plan, reading.degree);
    if (options.json) {
        nlohmann::json out = {{"port", session.port()}};
        out.update(ReadingJson(reading));
        out["measured_fraction"] = measured;
        out["measured_db"] = Finite(frontend::DecibelsFromTransmittance(measured));
        Emit(out.dump() + "\n");
    } else {
        Emit(ReadingLines(reading) + MeasuredLine(measured));
    }
    return kExitOk;
}

std::string CurveName(const calibration::Entry *entry) {
    if (!entry)
        return "nominal (no calibration)";
    return entry->wavelengthNm > 0
               ? "measured (calibration at " + Format("%g nm", entry->wavelengthNm) + ", " + entry->date + ")"
               : "measured (calibration of " + entry->date + ")";
}

int SetOnMeasuredCurve(Session &session, const Options &options, double fraction) {
    const std::optional<calibration::Entry> entry = FindCalibration(session, options, true);
    const powerloop::Plan plan = PlanFor(session, options, &*entry);
    double angle = 0.0;
    try {
        angle = powerloop::AngleForMeasuredFraction(plan, fraction, options.clamp);
    } catch (const powerloop::Refused &refused) {
        throw Failure(kExitUsage, session.port() + ": " + refused.what() + "; nothing moved");
    }
    calibration::OptivaneMotor motor(session.handle(), session.port(), session.timeoutMs());
    try {
        powerloop::ApproachFromBelow(motor, plan, angle, powerloop::SetOptions{}.backlashDeg);
    } catch (const calibration::MotorError &error) {
        throw Failure(ExitStatusOf(error.status), error.what());
    }
    return EmitMeasured(session, options, plan);
}

int SetPowerWithMeter(Session &session, const Options &options, double watts) {
    std::unique_ptr<powermeter::PowerMeter> meter = OpenMeter(options, "a power set-point");
    session.Open();
    const std::optional<calibration::Entry> entry = FindCalibration(session, options, false);
    const powerloop::Plan plan = PlanFor(session, options, entry ? &*entry : nullptr);
    calibration::OptivaneMotor motor(session.handle(), session.port(), session.timeoutMs());
    powerloop::SetOptions setOptions;
    setOptions.tolerance = options.tolerance;
    setOptions.maxMoves = options.maxMoves;
    CatchStopSignals();
    powerloop::SetResult result;
    try {
        result = powerloop::SetPower(
            motor, [&] { return meter->ReadPowerW(); }, plan, watts, setOptions, [] { return StopSignalled(); });
    } catch (const calibration::MotorError &error) {
        throw Failure(ExitStatusOf(error.status), error.what());
    } catch (const powerloop::Refused &refused) {
        throw Failure(kExitUsage, session.port() + ": " + refused.what());
    }
    const Reading reading = session.Read();
    if (options.json) {
        nlohmann::json out = {
            {"port", session.port()},
            {"setpoint_w", result.setpointW},
            {"power_w", Finite(result.powerW)},
            {"relative_error", Finite(result.relativeError)},
            {"tolerance", result.tolerance},
            {"moves", result.moves},
            {"reached", result.reached},
            {"reason", result.reached ? nlohmann::json(nullptr) : nlohmann::json(powerloop::ReasonName(result.reason))},
            {"curve", entry ? "measured" : "nominal"},
        };
        out.update(ReadingJson(reading));
        Emit(out.dump() + "\n");
    } else {
        Emit("set-point      " + PowerText(result.setpointW) + (result.reached ? " reached" : " not reached") + "\n" +
             "power          " + (std::isfinite(result.powerW) ? PowerText(result.powerW) : std::string("none")) +
             " (" + Format("%+.3f %%", result.relativeError * 100) + ", tolerance " +
             Format("%.3g %%", result.tolerance * 100) + ")\n" + "moves          " + std::to_string(result.moves) +
             "\n" + "curve          " + CurveName(entry ? &*entry : nullptr) + "\n" + ReadingLines(reading));
    }
    if (result.reason == powerloop::Reason::Cancelled)
        throw Failure(kExitCancelled, session.port() + ": cancelled; the attenuator stays where it is");
    if (!result.reached)
        throw Failure(kExitNotReached, session.port() + ": " + result.message);
    return kExitOk;
}

} // namespace

std::string PowerText(double watts) {
    if (watts >= 1.0 || watts == 0.0)
        return Format("%.5g W", watts);
    if (watts >= 1e-3)
        return Format("%.5g mW", watts * 1e3);
    if (watts >= 1e-6)
        return Format("%.5g µW", watts * 1e6);
    return Format("%.5g nW", watts * 1e9);
}

std::unique_ptr<powermeter::PowerMeter> OpenMeter(const Options &options, const std::string &purpose) {
    if (options.meter.empty())
        throw Failure(kExitUsage, purpose + " needs the power meter: --meter ADDRESS (usbtmc:/dev/usbtmc0, "
                                            "serial:/dev/ttyUSB1:115200 or tcp:HOST:PORT)");
    const std::optional<powermeter::Kind> kind = powermeter::KindFromName(options.meterKind);
    if (!kind)
        throw Failure(kExitUsage,
                      "--meter-kind: expected thorlabs, newport, ophir or gentec, got '" + options.meterKind + "'");
    try {
        std::unique_ptr<powermeter::PowerMeter> meter = powermeter::PowerMeter::Open(options.meter, *kind);
        if (options.wavelengthNm && meter->HasWavelength())
            meter->SetWavelengthNm(*options.wavelengthNm);
        meter->SetAutoRange();
        return meter;
    } catch (const powermeter::MeterError &error) {
        throw Failure(kExitLink, error.what());
    }
}

std::optional<calibration::Entry> FindCalibration(Session &session, const Options &options, bool required) {
    KORVAN::MotorInfo info;
    // Each of its two exchanges gets the whole time limit.
    session.Check(session.Guarded([&] { return session.handle().GetMotorInfo(&info, 2 * session.timeoutMs()); }),
                  "reading the identity");
    calibration::Record record;
    try {
        record = calibration::LoadRecord(info.serialNumber);
        if (record.entries.empty() && !required)
            return std::nullopt;
        return calibration::FindEntry(record, options.wavelengthNm);
    } catch (const calibration::RecordError &error) {
        std::string message = error.what();
        // The record's own advice names no port; this one can.
        if (const std::size_t at = message.find("optivane calibrate PORT"); at != std::string::npos)
            message.replace(at, 23, "optivane calibrate " + session.port());
        throw Failure(kExitUsage, session.port() + ": " + message);
    }
}

powerloop::Plan PlanFor(const Session &session, const Options &options, const calibration::Entry *entry) {
    try {
        return powerloop::MakePlan(session.profile(), entry, options.maxTransmittance);
    } catch (const powerloop::Refused &refused) {
        throw Failure(kExitUsage, session.port() + ": " + refused.what());
    }
}

int SetPower(const Options &options, const Target &target) {
    Session session(options.operands[0], options);
    if (target.kind == Target::Power) {
        if (options.calibrated)
            throw Failure(kExitUsage, "--calibrated is for transmittances, percentages and dB; a power uses the "
                                      "calibration when there is one");
        return SetPowerWithMeter(session, options, target.value);
    }
    if (target.kind != Target::Transmittance)
        throw Failure(kExitUsage, "--calibrated is for transmittances, percentages and dB, not for angles or steps");
    session.Open();
    return SetOnMeasuredCurve(session, options, target.value);
}

int GetCalibrated(const Options &options) {
    Session session(options.operands[0], options);
    session.Open();
    const std::optional<calibration::Entry> entry = FindCalibration(session, options, true);
    const powerloop::Plan plan = PlanFor(session, options, &*entry);
    return EmitMeasured(session, options, plan);
}

} // namespace cli
