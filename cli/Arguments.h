// The command line of the optivane command: the subcommand, its port and value, and the options.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// Exit statuses, as the help text documents them.
enum ExitStatus : int {
    kExitOk = 0,
    kExitDeviceStatus = 1, // the device answered with a status other than Ok
    kExitUsage = 2,        // bad command line, or a value outside the permitted range
    kExitLink = 3,         // the port did not open, the device did not answer, or the line was lost
    kExitRefused = 4,      // calibrate: the readings make no calibration (no modulation, not the curve)
    kExitNotReached = 5,   // set POWER, hold: the set-point was not reached (the reason on standard error)
    kExitCancelled = 130,  // calibrate: stopped by Ctrl-C or SIGTERM; the attenuator is back where it was
};

// A failure that ends the command: one line for standard error and its exit status.
struct Failure : std::runtime_error {
    Failure(int exitStatus, const std::string &message) : std::runtime_error(message), exitStatus(exitStatus) {}
    int exitStatus;
};

struct Options {
    std::string command;
    std::vector<std::string> operands; // the port, then the value of set
    std::optional<double> offsetDeg;
    std::optional<double> spanDeg;
    double timeoutSeconds = 3.5;
    bool clamp = false;
    bool json = false;
    bool csv = false;
    bool help = false;
    double intervalSeconds = 0.25;
    std::optional<long> count;
    std::vector<std::string> passOn; // everything after "share", untouched
    // The power meter, for the commands that read one.
    std::string meter; // its address: usbtmc:/dev/usbtmc0, serial:/dev/ttyUSB1:115200, tcp:HOST:PORT
    std::string meterKind = "thorlabs";
    std::optional<double> wavelengthNm;
    // calibrate.
    int points = 46;
    double settleSeconds = 0.2;
    int average = 5;
    std::string plotPath;
    std::string csvPath;
    bool apply = false;
    bool fullRange = false;
    // Power set-points and the hold.
    bool calibrated = false; // set and get on the measured curve of the device's calibration
    double tolerance = 0.01; // relative
    int maxMoves = 6;
    std::optional<double> maxTransmittance;
    bool intervalGiven = false; // hold's interval defaults to 1 s, watch's to 0.25 s
};

// Throws Failure(kExitUsage) for anything it cannot read.
Options ParseArguments(int argc, char **argv);

// What "set" moves to: a transmittance (also given in percent or dB), an angle or a step count.
struct Target {
    enum Kind { Transmittance, Degrees, Steps, Power } kind;
    double value; // fraction 0-1, degrees, steps, or watts
};
// "0.5", "50%", "3dB", "22.5deg", "8960steps", "1.2mW" (W, mW, uW or µW, nW). Throws Failure(kExitUsage).
Target ParseTarget(const std::string &text);

// The help text of a subcommand, or of the whole program for an empty or unknown name.
std::string HelpText(const std::string &command);

} // namespace cli
