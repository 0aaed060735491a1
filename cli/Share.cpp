// share: the port-sharing program is a program of its own; "optivane share" runs it as git runs its
// subcommands, first from beside this program, then from PATH.
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "Commands.h"

namespace cli {

namespace {

constexpr char kShareProgram[] = "optivane-share";

std::string OwnFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    const std::string self(path, static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/'));
}

} // namespace

int Share(const Options &options) {
    std::vector<std::string> args = {kShareProgram};
    args.insert(args.end(), options.passOn.begin(), options.passOn.end());
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const std::string folder = OwnFolder();
    if (!folder.empty()) {
        const std::string beside = folder + "/" + kShareProgram;
        if (::access(beside.c_str(), X_OK) == 0)
            ::execv(beside.c_str(), argv.data());
    }
    ::execvp(kShareProgram, argv.data());
    if (errno == ENOENT)
        throw Failure(kExitUsage, std::string("share needs the program ") + kShareProgram +
                                      ", which is neither beside optivane nor on PATH");
    throw Failure(kExitUsage, std::string("cannot run ") + kShareProgram + ": " + std::strerror(errno));
}

} // namespace cli
