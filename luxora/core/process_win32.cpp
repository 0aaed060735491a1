// Windows side of the platform layer, its process part: CreateProcessA for the updater. It calls nothing of
// Qt (only Platform.h's declarations need Qt's headers), so that a test program without Qt for Windows runs it.
#include "core/Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace platform {

const char *UpdaterProgramName() {
    return "updater.exe";
}

ProcessEnd RunAndWait(const std::vector<std::string> & /*argv*/, const std::string &commandLine) {
    ProcessEnd end;
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);

    // No program name of its own: the system finds the program from the command line, beginning with the
    // folder of the running executable. No inherited handles, the caller's environment and folder.
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        end.startError = GetLastError();
        return end;
    }
    end.started = true;

    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process.hProcess, &exitCode)) {
        // A process killed from outside ends with the code its killer chose; like any non-zero code it lets
        // the application start.
        end.exitedNormally = true;
        end.exitCode = static_cast<long>(exitCode);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return end;
}

} // namespace platform
