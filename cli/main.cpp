// optivane: the attenuator from the shell. One program with subcommands; output for people by default,
// --json for programs; one line on standard error and a documented exit status when something fails.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "Arguments.h"
#include "Commands.h"

int main(int argc, char **argv) {
    // Output into a closed pipe (optivane watch COM5 | head) is noticed as a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("optivane %s\n", OPTIVANE_VERSION);
        return cli::kExitOk;
    }
    try {
        const cli::Options options = cli::ParseArguments(argc, argv);
        if (options.help) {
            std::fputs(cli::HelpText(options.command).c_str(), stdout);
            return cli::kExitOk;
        }
        return cli::RunCommand(options);
    } catch (const cli::Failure &failure) {
        std::fprintf(stderr, "optivane: %s\n", failure.what());
        return failure.exitStatus;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "optivane: %s\n", error.what());
        return cli::kExitLink;
    }
}
