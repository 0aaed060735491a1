// optivane-share: one attenuator, several programs. Offers one serial port under several COM names, so
// that the desktop program and a script can use the device at the same time, each through the unchanged
// library. This file reads the command line and starts the sharing.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>

#include <sys/stat.h>

#include "Switchboard.h"
#include "optivane/optivane.h"

namespace {

constexpr int kExitUsage = 2;

const char kUsage[] = R"(Usage: optivane-share PORT --as COMn [--as COMn ...] [--log FILE]
       (or: optivane share PORT --as COMn ...)
Opens PORT (COMn from the port folder, or a device path) for exclusive use and offers it under each
--as name, a pseudo-terminal registered in the port folder, until Ctrl-C. Programs connect to those
names as to the device itself; their requests reach the device one at a time, in the order they came,
a stop ahead of the rest, and each reply goes back only to the program that asked.

  --as COMn      a name to offer the device under (at least one)
  --log FILE     append every forwarded request and reply, with its time and name, to FILE
  --help         show this text

Exit status: 0 when ended by a signal, 1 when the port cannot be shared, 2 for a usage error.
)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Why a name cannot be offered, or empty. A name is never taken from a device or a user's link: only a
// name that is free, or whose link points at a pseudo-terminal that is gone (left by a sharer or a
// simulator that was killed), is used.
std::string whyTaken(const std::string &name) {
    const std::string path = KORVAN::Ports::DevicePath(name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return {};
    if (!S_ISLNK(info.st_mode))
        return path + " is not a link";
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    const std::string to(target, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (::stat(path.c_str(), &info) == 0)
        return "in use (" + to + ")";
    if (to.rfind("/dev/pts/", 0) != 0)
        return "kept for " + to;
    return {};
}

share::Switchboard::Options parse(int argc, char **argv, bool &help) {
    share::Switchboard::Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const std::size_t equals = arg.find('='); arg.substr(0, 2) == "--" && equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            hasValue = true;
        }
        if (arg == "--help" && !hasValue) {
            help = true;
            return options;
        }
        if (arg == "--as" || arg == "--log") {
            if (!hasValue) {
                if (i + 1 >= argc)
                    throw UsageError(std::string(arg) + " needs a value");
                value = argv[++i];
            }
            if (arg == "--log")
                options.log = value;
            else
                options.names.emplace_back(value);
        } else if (arg.substr(0, 1) == "-" && arg.size() > 1) {
            throw UsageError("unknown option '" + std::string(argv[i]) + "'");
        } else if (options.device.empty()) {
            options.device = arg;
        } else {
            throw UsageError("one port only, got '" + options.device + "' and '" + std::string(arg) + "'");
        }
    }
    if (options.device.empty())
        throw UsageError("no port to share");
    if (options.names.empty())
        throw UsageError("no name to offer it under (--as COMn)");
    for (auto it = options.names.begin(); it != options.names.end(); ++it) {
        if (KORVAN::Ports::ComNumber(*it) < 0)
            throw UsageError("--as: expected COM0..COM" + std::to_string(KORVAN::Ports::kMaxComNumber) + ", got '" +
                             *it + "'");
        if (*it == options.device || std::find(options.names.begin(), it, *it) != it)
            throw UsageError("--as " + *it + " is named twice");
        if (const std::string why = whyTaken(*it); !why.empty())
            throw UsageError("--as " + *it + ": the name is " + why);
    }
    return options;
}

} // namespace

int main(int argc, char **argv) {
    share::Switchboard::Options options;
    try {
        bool help = false;
        options = parse(argc, argv, help);
        if (help) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    } catch (const UsageError &e) {
        std::fprintf(stderr, "optivane-share: %s\nTry 'optivane-share --help'.\n", e.what());
        return kExitUsage;
    }

    try {
        share::Switchboard switchboard(options);
        return switchboard.run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "optivane-share: %s\n", e.what());
        return 1;
    }
}
