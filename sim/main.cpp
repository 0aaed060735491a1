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
    "--port",    "--td",           "--ppd",      "--serial",       "--year",      "--fr",
    "--hr",      "--offset-steps", "--position", "--status",       "--speed",     "--maintenance-seconds",
    "--control", "--transcript",   "--delay",    "--force-status", "--malformed", "--split",
    "--stray",
};

bool isOneOf(std::string_view name, const std::string_view *begin, const std::string_view *end) {
    return std::find(begin, end, name) != end;
}

// Returns false when --help was asked for.
bool parse(int argc, char **argv, sim::Options &options) {
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
        if (name == "--help") {
            return false;
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
        std::fflush(stdout);
        return simulation.run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "optivane-sim: %s\n", e.what());
        return 1;
    }
}
