// optivane-sim: a simulated attenuator on a pseudo-terminal, for tests and for trying the program
// without hardware. This file reads the command line and starts the simulation.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "DeviceSide.h"
#include "Options.h"
#include "Simulation.h"

namespace {

constexpr int kExitUsage = 2;

const char kUsage[] = R"(Usage: optivane-sim [options]
Simulates an Optivane attenuator on a pseudo-terminal and prints the terminal's path as the first
line on standard output once everything is ready.

Device:
  --port COMn                 also register the terminal as COMn in the port folder
  --td N                      degree span of the step scale (default 360)
  --ppd N                     steps in that span (default 143360)
  --serial TEXT               serial number, 8 characters (default OV240117)
  --year TEXT                 year of manufacture, 4 characters (default 2024)
  --fr XX, --hr XX            motor codes, 2 characters each (defaults 01, 02)
  --offset-steps N            mechanical offset in steps (default 0)
  --position N                start position in steps (default 0)
  --status N                  status byte answered to 0gs, 0..255 (default 0)
  --speed DEG_PER_S           rotation speed (default 90; 0 or less moves at once)
  --maintenance-seconds S     length of the maintenance routines (default 120)
  --no-baud-delay             send and take bytes at once instead of at 9600 baud

Bench (a laser, the attenuator's real curve and a power meter behind it):
  --meter-port COMn|PATH      a second terminal that answers as a power meter, registered as COMn in the
                              port folder or linked at PATH; printed as "meter /dev/pts/N"
  --meter-kind KIND           thorlabs (default), newport, ophir or gentec
  --meter-listen HOST:PORT    the same meter on a TCP socket (PORT 0: a free one); printed as
                              "meter-tcp HOST:PORT"
  --meter-delay MS            from a query's end to the meter's reply (default 3)
  --laser-mw MW               laser power (default 10)
  --true-offset-deg DEG       the curve's real angle of least transmittance (default 0)
  --extinction-db DB          most over least transmittance (default 30)
  --insertion-loss-db DB      loss at most transmittance (default 0.4)
  --noise REL                 relative standard deviation of a reading (default 0)
  --drift-per-min REL         relative change of the laser's power per minute (default 0)
  --seed N                    seed of the noise, for runs that repeat (default: a fresh one)

Test hooks:
  --control PATH              control socket for run-time commands
  --transcript FILE           log every request, reply and injected event

Faults (also settable through the control socket):
  --silent                    read requests but never answer
  --delay MS                  hold every reply back by MS milliseconds
  --force-status N            answer every request with status N
  --malformed short|digits    a character short, or non-hexadecimal digits
  --split N                   send each reply in N pieces, 15 ms apart
  --stray TEXT                bytes after each reply (escapes \r \n \\ \xHH)
  --double                    send every reply twice

Control socket, one command per line, answered "ok [value]" or "error <text>":
  silent on|off   delay MS   force-status N|off   malformed short|digits|off
  split N|off   stray TEXT|off   double on|off   clear (all faults off, hangup next too)
  once on|off (the faults set apply to the next request only)
  spare-status on|off (status polls are answered without faults)
  hangup   hangup next (after half of the next reply)   reopen (answers the new path)
  get position|maintenance|moving|pty|requests|unsent   set position N   set status N   quit
  laser MW   beam block|unblock   get power (W at the meter now, without noise)   get angle (degrees)
  meter silent|garbage|over on|off   meter delay MS   meter hangup   meter hangup next (in the middle
  of the next reply)   meter reopen (answers the new path)   get meter-pty|meter-tcp|meter-queries
)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::int64_t integer(std::string_view name, std::string_view value, std::int64_t min, std::int64_t max) {
    const auto parsed = sim::parseInteger(value, min, max);
    if (!parsed)
        throw UsageError(std::string(name) + ": expected an integer " + std::to_string(min) + ".." +
                         std::to_string(max) + ", got '" + std::string(value) + "'");
    return *parsed;
}

double number(std::string_view name, std::string_view value) {
    const auto parsed = sim::parseNumber(value);
    if (!parsed)
        throw UsageError(std::string(name) + ": expected a number, got '" + std::string(value) + "'");
    return *parsed;
}

std::string fixedText(std::string_view name, std::string_view value, std::size_t length) {
    if (value.size() != length)
        throw UsageError(std::string(name) + ": expected exactly " + std::to_string(length) + " characters");
    return std::string(value);
}

constexpr std::string_view kFlags[] = {"--help", "--no-baud-delay", "--silent", "--double"};
constexpr std::string_view kValued[] = {
    "--port",
    "--td",
    "--ppd",
    "--serial",
    "--year",
    "--fr",
    "--hr",
    "--offset-steps",
    "--position",
    "--status",
    "--speed",
    "--maintenance-seconds",
    "--control",
    "--transcript",
    "--delay",
    "--force-status",
    "--malformed",
    "--split",
    "--stray",
    "--meter-port",
    "--meter-kind",
    "--meter-listen",
    "--meter-delay",
    "--laser-mw",
    "--true-offset-deg",
    "--extinction-db",
    "--insertion-loss-db",
    "--noise",
    "--drift-per-min",
    "--seed",
};

bool isOneOf(std::string_view name, const std::string_view *begin, const std::string_view *end) {
    return std::find(begin, end, name) != end;
}

double nonNegative(std::string_view name, std::string_view value) {
    const double parsed = number(name, value);
    if (parsed < 0)
        throw UsageError(std::string(name) + ": expected 0 or more");
    return parsed;
}

// Returns false when --help was asked for.
bool parse(int argc, char **argv, sim::Options &options) {
    bool meterOnly = false; // an option that means nothing without a meter
    for (int i = 1; i < argc; ++i) {
        std::string_view name = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const std::size_t equals = name.find('='); name.substr(0, 2) == "--" && equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (isOneOf(name, std::begin(kFlags), std::end(kFlags))) {
            if (hasValue)
                throw UsageError(std::string(name) + " takes no value");
        } else if (isOneOf(name, std::begin(kValued), std::end(kValued))) {
            if (!hasValue) {
                if (i + 1 >= argc)
                    throw UsageError(std::string(name) + " needs a value");
                value = argv[++i];
            }
        } else {
            throw UsageError("unknown option '" + std::string(argv[i]) + "'");
        }

        sim::DeviceConfig &device = options.device;
        sim::BeamConfig &beam = options.beam;
        if (name == "--help") {
            return false;
        } else if (name == "--meter-port") {
            if (value.empty())
                throw UsageError("--meter-port: expected COMn or a path");
            options.meter.port = value;
        } else if (name == "--meter-kind") {
            const auto kind = sim::meterKindFromName(value);
            if (!kind)
                throw UsageError("--meter-kind: expected thorlabs, newport, ophir or gentec, got '" +
                                 std::string(value) + "'");
            options.meter.kind = *kind;
            meterOnly = true;
        } else if (name == "--meter-listen") {
            const std::size_t colon = value.rfind(':');
            if (colon == std::string_view::npos || colon == 0 || !sim::parseInteger(value.substr(colon + 1), 0, 65535))
                throw UsageError("--meter-listen: expected HOST:PORT (PORT 0..65535), got '" + std::string(value) +
                                 "'");
            options.meter.listen = value;
        } else if (name == "--meter-delay") {
            options.meter.delayMs = static_cast<int>(integer(name, value, 0, 60000));
            meterOnly = true;
        } else if (name == "--laser-mw") {
            beam.laserMw = nonNegative(name, value);
        } else if (name == "--true-offset-deg") {
            beam.trueOffsetDeg = number(name, value);
        } else if (name == "--extinction-db") {
            beam.extinctionDb = nonNegative(name, value);
        } else if (name == "--insertion-loss-db") {
            beam.insertionLossDb = nonNegative(name, value);
        } else if (name == "--noise") {
            beam.noise = nonNegative(name, value);
        } else if (name == "--drift-per-min") {
            beam.driftPerMin = number(name, value);
        } else if (name == "--seed") {
            beam.seed = static_cast<std::uint64_t>(integer(name, value, 0, INT64_MAX));
        } else if (name == "--port") {
            if (!sim::isPortName(value))
                throw UsageError("--port: expected COM0..COM255, got '" + std::string(value) + "'");
            options.port = value;
        } else if (name == "--td") {
            device.td = static_cast<std::uint32_t>(integer(name, value, 0, 0xFFFF));
        } else if (name == "--ppd") {
            device.ppd = static_cast<std::uint32_t>(integer(name, value, 0, 0xFFFFFFFFLL));
        } else if (name == "--serial") {
            device.serial = fixedText(name, value, 8);
        } else if (name == "--year") {
            device.year = fixedText(name, value, 4);
        } else if (name == "--fr") {
            device.fr = fixedText(name, value, 2);
        } else if (name == "--hr") {
            device.hr = fixedText(name, value, 2);
        } else if (name == "--offset-steps") {
            device.offsetSteps = static_cast<std::int32_t>(integer(name, value, INT32_MIN, INT32_MAX));
        } else if (name == "--position") {
            device.position = static_cast<std::int32_t>(integer(name, value, INT32_MIN, INT32_MAX));
        } else if (name == "--status") {
            device.status = static_cast<std::uint8_t>(integer(name, value, 0, 255));
        } else if (name == "--speed") {
            device.speedDegPerS = number(name, value);
        } else if (name == "--maintenance-seconds") {
            device.maintenanceSeconds = number(name, value);
            if (device.maintenanceSeconds < 0)
                throw UsageError("--maintenance-seconds: expected 0 or more");
        } else if (name == "--no-baud-delay") {
            options.baudDelay = false;
        } else if (name == "--control") {
            options.control = value;
        } else if (name == "--transcript") {
            options.transcript = value;
        } else if (name == "--silent" || name == "--double") {
            sim::setFault(options.faults, name.substr(2), "on");
        } else if (name == "--delay" || name == "--force-status" || name == "--malformed" || name == "--split" ||
                   name == "--stray") {
            const std::string error = sim::setFault(options.faults, name.substr(2), value);
            if (!error.empty())
                throw UsageError(std::string(name) + ": " + error);
        }
    }
    if (meterOnly && !options.meter.enabled())
        throw UsageError("--meter-kind and --meter-delay need --meter-port or --meter-listen");
    return true;
}

} // namespace

int main(int argc, char **argv) {
    sim::Options options;
    try {
        if (!parse(argc, argv, options)) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    } catch (const UsageError &e) {
        std::fprintf(stderr, "optivane-sim: %s\nTry 'optivane-sim --help'.\n", e.what());
        return kExitUsage;
    }

    try {
        sim::Simulation simulation(options);
        // The first line is the start signal for whoever launched us: everything is ready now.
        std::printf("%s\n", simulation.slavePath().c_str());
        // The meter's lines follow, for those who asked for a meter.
        if (!simulation.meterPath().empty())
            std::printf("meter %s\n", simulation.meterPath().c_str());
        if (!simulation.meterTcpAddress().empty())
            std::printf("meter-tcp %s\n", simulation.meterTcpAddress().c_str());
        std::fflush(stdout);
        return simulation.run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "optivane-sim: %s\n", e.what());
        return 1;
    }
}
