// Reading the command line, and the help texts that document it.
#include "Arguments.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

#include "frontend/Units.h"

namespace cli {

namespace {

// Device time limits longer than this are a typo rather than a wish; twice it still fits an int in ms.
constexpr double kMaxTimeoutSeconds = 3600.0;

struct Command {
    int operands;             // required operands
    std::string options;      // the options it takes, each between spaces
    std::string synopsis;     // operands as the help shows them
    std::string description;  // one line
};

const std::string kCurveOptions = " --offset --span --timeout --json ";

const std::map<std::string, Command> &Commands() {
    static const std::map<std::string, Command> commands = {
        {"ports", {0, " --json ", "", "list the COM ports that exist now"}},
        {"info", {1, kCurveOptions, "PORT", "the device's identity and scale, and the port's curve and range"}},
        {"status", {1, " --timeout --json ", "PORT", "the device's status"}},
        {"get", {1, " --offset --span --timeout --json --calibrated --wavelength ", "PORT",
                 "transmittance, percent, dB, angle and steps"}},
        {"set", {2, " --offset --span --timeout --clamp --json --calibrated --wavelength --meter --meter-kind "
                    "--tolerance --max-moves --max-transmittance ", "PORT VALUE",
                 "move to 0.5, 50%, 3dB, 22.5deg, 8960steps or a power 1.2mW, then read back"}},
        {"hold", {2, " --meter --meter-kind --wavelength --tolerance --interval --csv --max-transmittance --offset "
                     "--span --timeout --json ", "PORT POWER --meter ADDRESS",
                  "keep a power on the meter against the laser's drift until Ctrl-C"}},
        {"home", {1, " --timeout --json ", "PORT", "move to the home position (mechanical calibration)"}},
        {"stop", {1, " --timeout --json ", "PORT", "stop the motor"}},
        {"optimize", {1, " --timeout --json ", "PORT", "start the motor optimisation routine"}},
        {"clean", {1, " --timeout --json ", "PORT", "start the cleaning of the mechanics"}},
        {"watch", {1, " --offset --span --timeout --json --interval --count --csv ", "PORT",
                   "print a time-stamped reading every interval until Ctrl-C"}},
        {"share", {0, "", "ARGS...", "share a port with other programs (runs optivane-share)"}},
        {"calibrate", {1, " --meter --meter-kind --wavelength --points --settle --average --plot --csv --apply "
                          "--full-range --offset --span --timeout --json ", "PORT --meter ADDRESS",
                       "sweep the attenuator against a power meter and fit its real curve"}},
        {"calibration", {0, " --json ", "[SERIAL]", "list the calibration records (one device's with SERIAL)"}},
    };
    return commands;
}

const char kOptionHelp[] = R"(Options:
  --offset DEG     angle of zero transmittance (default: the port's luxora settings, else 0)
  --span DEG       angle from zero to full transmittance (default 45)
  --timeout S      time limit for each reply of the device, in seconds (default 3.5)
  --clamp          move a transmittance outside the permitted range to the nearest end of it
                   instead of refusing it
  --json           output for programs: one JSON object (watch: one per line)
  --interval S     watch, hold: seconds between readings (default 0.25; hold 1)
  --count N        watch: stop after N readings
  --csv            watch: comma-separated values with a header line
  --meter ADDRESS  calibrate, set POWER, hold: the power meter, usbtmc:/dev/usbtmc0,
                   serial:/dev/ttyUSB1:115200 or tcp:HOST:PORT
  --meter-kind K   calibrate, set POWER, hold: its dialect, thorlabs (default), newport, ophir or gentec
  --wavelength NM  calibrate: the laser's wavelength, set on the meter where it has the setting
                   (default: the meter's own; unknown, 0, for meters without one); set, get,
                   hold: also the calibration to use (default: the record's only one)
  --points N       calibrate: points over one period of the curve (default 46, at least 8)
  --settle S       calibrate: seconds to wait at each point before reading (default 0.2)
  --average N      calibrate: readings averaged at each point (default 5)
  --plot FILE      calibrate: draw the points, the fit and the residuals, FILE.svg or FILE.png
  --csv FILE       calibrate: the points and the fit as comma-separated values; hold: every reading
  --apply          calibrate: write the offset found into the port's luxora settings file
  --full-range     calibrate: sweep even though the port's permitted range is narrower than 0 to 1
  --calibrated     set, get: transmittances, percentages and dB on the measured curve of the device's
                   calibration (the fraction of the full beam it measured) instead of the nominal one
  --tolerance T    set POWER, hold: relative tolerance, 0.01 or 1% (default 1%); the meter's noise
                   widens it
  --max-moves N    set POWER: corrections at most (default 6)
  --max-transmittance T
                   set POWER, hold: never open beyond this transmittance, 0.5 or 50% (the port's
                   permitted range applies as well)
  -h, --help       this text; "optivane COMMAND --help" for one command
  --version        the program's version
)";

const char kExitHelp[] = R"(Exit status:
  0  success
  1  the device answered with a status other than Ok
  2  bad usage: unknown command or option, an unreadable value, or a transmittance outside the
     permitted range (luxora's transmittance_range_min/_max for the port; see --clamp)
  3  link failure: the port cannot be opened (no such port, permission denied, in use by another
     program), the device does not answer in time, or the line was lost; for calibrate also a
     power meter that does not open or answer, or answers with no reading
  4  calibrate: calibration refused: the meter saw no modulation (beam off, or not on the meter),
     or the readings do not follow the attenuator's curve
  5  set POWER, hold: the set-point was not reached: the laser is too weak within the permitted
     range, less than the set-point cannot be passed, the meter does not answer, its readings do
     not follow the moves, or the moves ran out
  130 calibrate: cancelled by Ctrl-C or SIGTERM; the attenuator is back where it was
)";

Failure Usage(const std::string &message) {
    return Failure(kExitUsage, message);
}

double Number(const std::string &option, const std::string &text) {
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value))
        throw Usage(option + ": expected a number, got '" + text + "'");
    return value;
}

// 0.01 or 1%.
double Fraction(const std::string &option, std::string text) {
    const bool percent = !text.empty() && text.back() == '%';
    if (percent)
        text.pop_back();
    const double value = Number(option, text);
    return percent ? value / 100.0 : value;
}

bool LooksNegativeNumber(const std::string &text) {
    return text.size() > 1 && text[0] == '-' && (std::isdigit(static_cast<unsigned char>(text[1])) || text[1] == '.');
}

bool EndsWith(const std::string &text, const std::string &suffix, std::string *rest) {
    if (text.size() <= suffix.size())
        return false;
    const std::string tail = text.substr(text.size() - suffix.size());
    if (!std::equal(tail.begin(), tail.end(), suffix.begin(),
                    [](char a, char b) {
                        return std::tolower(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
                    }))
        return false;
    *rest = text.substr(0, text.size() - suffix.size());
    return true;
}

} // namespace

Options ParseArguments(int argc, char **argv) {
    Options options;
    std::vector<std::string> args(argv + 1, argv + argc);
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (options.command == "share") {
            // Everything after "share" belongs to optivane-share.
            options.passOn.assign(args.begin() + static_cast<long>(i), args.end());
            break;
        }
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-" || LooksNegativeNumber(arg)) {
            if (options.command.empty())
                options.command = arg;
            else
                options.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            hasValue = true;
        }
        // calibrate's --csv names a file; watch's is a switch.
        const bool csvFile = arg == "--csv" && (options.command == "calibrate" || options.command == "hold");
        const bool flag = arg == "--clamp" || arg == "--json" || (arg == "--csv" && !csvFile) || arg == "--apply" ||
                          arg == "--full-range" || arg == "--calibrated";
        const bool valued = arg == "--offset" || arg == "--span" || arg == "--timeout" || arg == "--interval" ||
                            arg == "--count" || arg == "--meter" || arg == "--meter-kind" || arg == "--wavelength" ||
                            arg == "--points" || arg == "--settle" || arg == "--average" || arg == "--plot" || csvFile ||
                            arg == "--tolerance" || arg == "--max-moves" || arg == "--max-transmittance";
        if (!flag && !valued)
            throw Usage("unknown option '" + arg + "'; see optivane --help");
        if (flag && hasValue)
            throw Usage(arg + " takes no value");
        if (valued && !hasValue) {
            if (i + 1 >= args.size())
                throw Usage(arg + " needs a value");
            value = args[++i];
        }
        const auto &commands = Commands();
        const auto command = commands.find(options.command);
        if (command != commands.end() && command->second.options.find(" " + arg + " ") == std::string::npos)
            throw Usage("optivane " + options.command + " takes no " + arg + "; see optivane " + options.command +
                        " --help");

        if (arg == "--clamp") {
            options.clamp = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (csvFile) {
            options.csvPath = value;
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--apply") {
            options.apply = true;
        } else if (arg == "--full-range") {
            options.fullRange = true;
        } else if (arg == "--calibrated") {
            options.calibrated = true;
        } else if (arg == "--tolerance") {
            options.tolerance = Fraction(arg, value);
            if (!(options.tolerance > 0 && options.tolerance <= 0.5))
                throw Usage("--tolerance: expected a fraction above 0, at most 0.5 (50%), got '" + value + "'");
        } else if (arg == "--max-transmittance") {
            options.maxTransmittance = Fraction(arg, value);
            if (!(*options.maxTransmittance > 0 && *options.maxTransmittance <= 1))
                throw Usage("--max-transmittance: expected a fraction above 0, at most 1 (100%), got '" + value + "'");
        } else if (arg == "--max-moves") {
            const double count = Number(arg, value);
            if (!(count >= 1 && count <= 100 && count == std::floor(count)))
                throw Usage("--max-moves: expected a whole number from 1 to 100, got '" + value + "'");
            options.maxMoves = static_cast<int>(count);
        } else if (arg == "--points" || arg == "--average") {
            const double count = Number(arg, value);
            const double least = arg == "--points" ? 8 : 1;
            if (!(count >= least && count <= 10000 && count == std::floor(count)))
                throw Usage(arg + ": expected a whole number from " + std::to_string(static_cast<int>(least)) +
                            " to 10000, got '" + value + "'");
            (arg == "--points" ? options.points : options.average) = static_cast<int>(count);
        } else if (arg == "--settle") {
            options.settleSeconds = Number(arg, value);
            if (!(options.settleSeconds >= 0 && options.settleSeconds <= 60))
                throw Usage("--settle: expected seconds from 0 to 60, got '" + value + "'");
        } else if (arg == "--plot") {
            options.plotPath = value;
        } else if (arg == "--offset") {
            options.offsetDeg = Number(arg, value);
        } else if (arg == "--span") {
            options.spanDeg = Number(arg, value);
        } else if (arg == "--timeout") {
            options.timeoutSeconds = Number(arg, value);
            if (!(options.timeoutSeconds > 0 && options.timeoutSeconds <= kMaxTimeoutSeconds))
                throw Usage("--timeout: expected seconds above 0, at most 3600, got '" + value + "'");
        } else if (arg == "--interval") {
            // "1s" reads as 1.
            options.intervalSeconds =
                Number(arg, value.size() > 1 && value.back() == 's' ? value.substr(0, value.size() - 1) : value);
            options.intervalGiven = true;
            if (!(options.intervalSeconds >= 0 && options.intervalSeconds <= kMaxTimeoutSeconds))
                throw Usage("--interval: expected seconds from 0 to 3600, got '" + value + "'");
        } else if (arg == "--count") {
            const double count = Number(arg, value);
            if (!(count >= 1 && count <= 1e9 && count == std::floor(count)))
                throw Usage("--count: expected a whole number of readings, 1 or more, got '" + value + "'");
            options.count = static_cast<long>(count);
        } else if (arg == "--meter") {
            if (value.empty())
                throw Usage("--meter: expected an address such as usbtmc:/dev/usbtmc0, serial:/dev/ttyUSB1:115200 "
                            "or tcp:HOST:PORT");
            options.meter = value;
        } else if (arg == "--meter-kind") {
            options.meterKind = value;
        } else if (arg == "--wavelength") {
            const double nm = Number(arg, value);
            if (!(nm > 0 && nm <= 1e5))
                throw Usage("--wavelength: expected nanometres above 0, got '" + value + "'");
            options.wavelengthNm = nm;
        }
    }
    if (options.help)
        return options;
    if (options.command.empty())
        throw Usage("a command is needed; see optivane --help");
    if (options.command == "help") {
        options.help = true;
        options.command = options.operands.empty() ? "" : options.operands.front();
        return options;
    }
    const auto &commands = Commands();
    const auto command = commands.find(options.command);
    if (command == commands.end())
        throw Usage("unknown command '" + options.command + "'; see optivane --help");
    // calibration's serial number may be left out.
    const bool optionalOperand = options.command == "calibration" && options.operands.size() <= 1;
    if (options.command != "share" && !optionalOperand &&
        static_cast<int>(options.operands.size()) != command->second.operands)
        throw Usage("usage: optivane " + options.command + " " + command->second.synopsis);
    if (options.json && options.csv)
        throw Usage("--json and --csv exclude each other");
    return options;
}

Target ParseTarget(const std::string &text) {
    std::string number;
    if (EndsWith(text, "%", &number))
        return {Target::Transmittance, frontend::TransmittanceFromPercent(Number("percent", number))};
    if (EndsWith(text, "db", &number))
        return {Target::Transmittance, frontend::TransmittanceFromDecibels(Number("dB", number))};
    // Powers: the longer units first, as every one of them ends in W; the micro sign and the Greek mu alike.
    static const std::pair<const char *, double> kPowerUnits[] = {
        {"mw", 1e-3}, {"uw", 1e-6}, {"\xc2\xb5w", 1e-6}, {"\xce\xbcw", 1e-6}, {"nw", 1e-9}, {"w", 1.0}};
    for (const auto &[unit, scale] : kPowerUnits) {
        if (EndsWith(text, unit, &number)) {
            const double watts = Number("power", number) * scale;
            if (!(watts > 0))
                throw Usage("a power set-point must be above 0, got '" + text + "'");
            return {Target::Power, watts};
        }
    }
    if (EndsWith(text, "deg", &number))
        return {Target::Degrees, Number("degrees", number)};
    if (EndsWith(text, "steps", &number) || EndsWith(text, "step", &number)) {
        const double steps = Number("steps", number);
        if (steps != std::floor(steps) || std::fabs(steps) > 1e9)
            throw Usage("steps: expected a whole number, got '" + number + "'");
        return {Target::Steps, steps};
    }
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value))
        throw Usage("cannot read '" + text + "' as a value: write 0.5, 50%, 3dB, 22.5deg, 8960steps or 1.2mW");
    if (value > 1.0)
        throw Usage("a plain transmittance is a fraction 0 to 1, got '" + text + "' (write " + text + "% for percent)");
    return {Target::Transmittance, value};
}

std::string HelpText(const std::string &name) {
    const auto &commands = Commands();
    const auto command = commands.find(name);
    if (command == commands.end()) {
        std::string text = "Usage: optivane COMMAND [PORT] [VALUE] [options]\n"
                           "Drives an Optivane attenuator on a serial port (COM0..COM255).\n\nCommands:\n";
        for (const auto &[commandName, entry] : commands) {
            std::string head = "  " + commandName + " " + entry.synopsis;
            head.resize(std::max<std::size_t>(head.size() + 2, 24), ' ');
            text += head + entry.description + "\n";
        }
        return text + "\n" + kOptionHelp + "\n" + kExitHelp;
    }
    std::string text = "Usage: optivane " + name + " " + command->second.synopsis + "\n" +
                       command->second.description + "\n";
    if (name == "set")
        text += "\nVALUE: a transmittance 0.5, a percentage 50%, an attenuation 3dB, an angle 22.5deg or a\n"
                "step count 8960steps. Transmittances are checked against the permitted range.\n"
                "With --calibrated a transmittance is the measured fraction of the full beam, from the device's\n"
                "calibration record (optivane calibrate); a value it cannot give is refused with the reachable span.\n"
                "A power (1.2mW, 500uW, 20nW, 0.001W) needs --meter: the attenuator moves, first from the\n"
                "calibration (else the nominal curve), then by the meter's readings, until the power is within the\n"
                "tolerance; every last approach comes from below, never beyond the permitted range or\n"
                "--max-transmittance. Not reaching it exits with status 5 and the reason.\n";
    if (name == "hold")
        text += "\nSets the power as set does, then reads the meter every interval and corrects slowly (a dead band\n"
                "of half the tolerance, at most +25 % per correction, always from below), one line per correction\n"
                "and per change of state. A reading that falls below a fifth of the set-point at once (a blocked\n"
                "beam), or a meter that stops answering, freezes the hold until readings come back; a set-point\n"
                "out of reach is held at the ceiling and said once. Ctrl-C, SIGTERM or a lost line end it and\n"
                "leave the attenuator where it is.\n";
    if (name == "watch")
        text += "\nA lost line is reported on standard error and watched for until the port returns.\n";
    if (name == "calibrate")
        text += "\nSweeps one period of the curve (two spans) around the port's offset, every point approached\n"
                "from below, fits P = a + b cos(pi theta/span) + c sin(pi theta/span) and prints the angle of\n"
                "minimum transmittance with its uncertainty, Pmin, Pmax, the extinction and the residuals. The\n"
                "result is kept in the device's record; the attenuator returns to where it was, also after an\n"
                "error or Ctrl-C. The sweep opens the beam fully.\n";
    if (name == "calibration")
        return text + "\nRecords are kept in $XDG_DATA_HOME/optivane/calibrations, one file per serial number.\n\n" +
               kOptionHelp + "\n" + kExitHelp;
    if (name == "share")
        return text + "\nRuns optivane-share, found beside optivane or on PATH, with ARGS; see optivane share --help.\n";
    if (name != "ports")
        text += "\nThe curve's offset and the permitted range come from luxora's settings file for the port,\n"
                "read-only; --offset and --span override them.\n";
    return text + "\n" + kOptionHelp + "\n" + kExitHelp;
}

} // namespace cli
