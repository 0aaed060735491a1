#include "shell/UpdaterCommand.h"

std::string UpdaterCommandLine(const std::vector<std::string> &argv) {
    std::string commandLine = argv.empty() ? std::string() : argv[0];
    for (std::size_t i = 1; i < argv.size(); ++i) {
        commandLine += " \"" + argv[i] + "\"";
    }
    return commandLine;
}
