// The program's platform layer: the few operating-system services that differ between Windows and POSIX.
// One implementation file per platform; nothing else in the program branches on the platform.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

namespace platform {

// File name of the external update program, looked up by the system's rules for starting a program.
const char *UpdaterProgramName();

// How a child process ended.
struct ProcessEnd {
    bool started = false;         // false: the process could not be created
    unsigned long startError = 0; // system error number when it could not be created (2: no such file)
    bool exitedNormally = false;  // it returned an exit code (a crash or a signal does not)
    long exitCode = -1;           // valid when exitedNormally
};

// Starts a program and waits, without a time limit, until it ends.
// argv[0] is the program's bare file name; commandLine is the same call as one line with every value quoted.
// Windows hands commandLine to the system, which splits it; POSIX starts argv as it is, with no shell.
ProcessEnd RunAndWait(const std::vector<std::string> &argv, const std::string &commandLine);

// Creates a directory and any missing parents, each new one readable by the user alone.
// Existing directories are left as they are. Returns whether the directory exists afterwards.
bool MakePrivateDirectory(const QString &path);

// Makes the termination requests of the session or terminal (SIGTERM, SIGINT, SIGHUP) end the Qt event loop
// as closing the window does, so that the normal shutdown runs. Call after the application object exists;
// keep the returned object alive while the event loop runs, its destruction restores the previous handlers.
// Returns null when nothing needs installing on this platform or the handlers could not be installed.
std::unique_ptr<QObject> QuitOnTerminationSignals();

} // namespace platform
