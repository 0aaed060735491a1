// The one-shot subcommands: each opens the port, does its exchanges, prints, and reports the outcome.
#include "Commands.h"

#include <climits>
#include <cstdio>
#include <unistd.h>

#include "Output.h"
#include "Session.h"
#include "frontend/PortDiagnosis.h"

namespace cli {

namespace {

std::string LinkTarget(const std::string &port) {
    const std::string path = KORVAN::Ports::DevicePath(port);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : path;
}

int Ports(const Options &options) {
    const std::vector<std::string> ports = frontend::ExistingPorts();
    if (options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const std::string &port : ports)
            list.push_back({{"port", port}, {"device", LinkTarget(port)}});
        Emit(list.dump() + "\n");
        return kExitOk;
    }
    if (ports.empty())
        std::fprintf(stderr, "optivane: no ports in %s\n", KORVAN::Ports::Folder().c_str());
    std::string text;
    for (const std::string &port : ports)
        text += port + "  " + LinkTarget(port) + "\n";
    Emit(text);
    return kExitOk;
}

std::string Fixed(double value, const char *format = "%g") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

int Info(const Options &options) {
    Session session(options.operands[0], options);
    session.Open();
    KORVAN::MotorInfo info;
    // Each of its two exchanges gets the whole time limit.
    session.Check(session.Guarded([&] { return session.handle().GetMotorInfo(&info, 2 * session.timeoutMs()); }),
                  "reading the identity");
    const frontend::PortProfile &profile = session.profile();
    if (options.json) {
        const nlohmann::json out = {
            {"port", session.port()},
            {"serial_number", info.serialNumber},
            {"year_of_manufacture", info.yearOfManufacture},
            {"td", std::stol(info.td)},
            {"ppd", std::stol(info.ppd)},
            {"fr", info.fr},
            {"hr", info.hr},
            {"mechanical_offset_deg", std::stod(info.mechanicalOffset)},
            {"offset_deg", profile.offsetDeg},
            {"span_deg", profile.spanDeg},
            {"range_min", profile.rangeMin},
            {"range_max", profile.rangeMax},
            {"settings_file", profile.settingsPath.empty() ? nlohmann::json(nullptr) : nlohmann::json(profile.settingsPath)},
        };
        Emit(out.dump() + "\n");
        return kExitOk;
    }
    Emit("port               " + session.port() + "\n" +                           //
         "serial number      " + info.serialNumber + "\n" +                        //
         "year               " + info.yearOfManufacture + "\n" +                   //
         "scale              " + info.ppd + " steps in " + info.td + " deg\n" +    //
         "motor F/R, H/R     " + info.fr + ", " + info.hr + "\n" +                 //
         "mechanical offset  " + info.mechanicalOffset + " deg\n" +                //
         "curve              zero at " + Fixed(profile.offsetDeg) + " deg, full " + //
         Fixed(profile.spanDeg) + " deg further\n" +                               //
         "permitted range    " + Fixed(profile.rangeMin) + " to " + Fixed(profile.rangeMax) + "\n" +
         "settings file      " + (profile.settingsPath.empty() ? std::string("none") : profile.settingsPath) + "\n");
    return kExitOk;
}

// A status answer is the output itself: printed in full, and its exit status follows it. A maintenance
// routine's start is answered Busy by a device that runs it, which is success for the command.
int Status(const Options &options, const std::string &what, KORVAN::AttenuatorStatus (*call)(Session &),
           bool busyMeansRunning = false) {
    Session session(options.operands[0], options);
    session.Open();
    const KORVAN::AttenuatorStatus status = session.Guarded([&] { return call(session); });
    const std::string text = KORVAN::StatusText(status);
    if (options.json)
        Emit(nlohmann::json{{"port", session.port()}, {"status", static_cast<int>(status)}, {"text", text}}.dump() +
             "\n");
    else
        Emit(session.port() + ": " + text + " (" + std::to_string(static_cast<int>(status)) + ")" +
             (busyMeansRunning && status == KORVAN::Busy ? ", running\n" : "\n"));
    if (!(busyMeansRunning && status == KORVAN::Busy))
        session.Check(status, what);
    return kExitOk;
}

int PrintReading(Session &session, const Options &options) {
    const Reading reading = session.Read();
    if (options.json) {
        nlohmann::json out = {{"port", session.port()}};
        out.update(ReadingJson(reading));
        Emit(out.dump() + "\n");
    } else {
        Emit(ReadingLines(reading));
    }
    return kExitOk;
}

int Get(const Options &options) {
    if (options.calibrated)
        return GetCalibrated(options);
    Session session(options.operands[0], options);
    session.Open();
    return PrintReading(session, options);
}

int Set(const Options &options) {
    Session session(options.operands[0], options);
    Target target = ParseTarget(options.operands[1]);
    if (target.kind == Target::Power || options.calibrated)
        return SetPower(options, target);
    if (!options.meter.empty())
        throw Failure(kExitUsage, "--meter is for a power set-point such as 1.2mW");
    // Refused before the port is touched.
    if (target.kind == Target::Transmittance) {
        try {
            target.value = frontend::AdmitTransmittance(session.profile(), target.value, options.clamp);
        } catch (const frontend::RangeRefused &error) {
            throw Failure(kExitUsage, session.port() + ": " + error.what());
        }
    }
    session.Open();
    KORVAN::Optivane &handle = session.handle();
    const int timeoutMs = session.timeoutMs();
    const frontend::PortProfile &profile = session.profile();
    KORVAN::AttenuatorStatus status = KORVAN::Ok;
    switch (target.kind) {
    case Target::Transmittance:
        status = session.Guarded([&] {
            return handle.SetTransmittance(static_cast<float>(target.value), profile.offsetDeg, profile.spanDeg,
                                           timeoutMs);
        });
        break;
    case Target::Degrees:
        status = session.Guarded([&] { return handle.SetMotorDegree(static_cast<float>(target.value), timeoutMs); });
        break;
    case Target::Steps:
        // Beyond int, the library's own bound refuses it too.
        status = session.Guarded([&] {
            return target.value > INT_MAX || target.value < INT_MIN
                       ? KORVAN::ParameterOutOfRange
                       : handle.SetMotorSteps(static_cast<int>(target.value), timeoutMs);
        });
        break;
    case Target::Power: // taken by SetPower above
        break;
    }
    session.Check(status, "moving");
    return PrintReading(session, options);
}

} // namespace

int RunCommand(const Options &options) {
    const std::string &command = options.command;
    if (command == "ports")
        return Ports(options);
    if (command == "info")
        return Info(options);
    if (command == "get")
        return Get(options);
    if (command == "set")
        return Set(options);
    if (command == "watch")
        return Watch(options);
    if (command == "hold")
        return Hold(options);
    if (command == "share")
        return Share(options);
    if (command == "calibrate")
        return Calibrate(options);
    if (command == "calibration")
        return Calibrations(options);
    if (command == "status")
        return Status(options, "status", [](Session &s) { return s.handle().GetCurrentStatus(s.timeoutMs()); });
    if (command == "home")
        return Status(options, "home", [](Session &s) { return s.handle().MechanicalCalibration(s.timeoutMs()); });
    if (command == "stop")
        return Status(options, "stop", [](Session &s) { return s.handle().Stop(s.timeoutMs()); });
    if (command == "optimize")
        return Status(
            options, "optimize", [](Session &s) { return s.handle().StartOptimization(s.timeoutMs()); }, true);
    if (command == "clean")
        return Status(
            options, "clean", [](Session &s) { return s.handle().StartCleaningMechanics(s.timeoutMs()); }, true);
    throw Failure(kExitUsage, "unknown command '" + command + "'");
}

} // namespace cli
