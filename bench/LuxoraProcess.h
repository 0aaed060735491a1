// The real luxora executable as a child process, against a simulator registered as COM1, in fresh XDG
// folders of its own and with an updater on PATH that lets the program start; its CPU time and memory
// read from /proc.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "Simulator.h"
#include "TempXdg.h"

namespace bench {

class LuxoraProcess {
public:
    struct Options {
        // QT_QPA_PLATFORM of the program: "xcb" for a real window (DISPLAY must lead to a server), or
        // "offscreen", which draws with the software renderer.
        std::string platform = "xcb";
        // QT_QUICK_BACKEND of the program: empty for Qt's default, OpenGL, except on "offscreen", which
        // gets "software".
        std::string quickBackend;
        // Where Qt keeps its compiled QML cache; empty for a fresh folder, as on a first start.
        std::string cacheFolder;
        // Let the program write the time of its first frame (see firstFrame()).
        bool recordFirstFrame = false;
        // 9600-baud byte timing in the simulator, as on a real line.
        bool baudDelay = true;
        // The executable to start in luxora's place (empty for luxora itself), in the same surroundings.
        std::string program;
    };

    // Starts the simulator, then the program. Throws std::runtime_error when either does not start.
    explicit LuxoraProcess(const Options &options);
    // Ends the program as a log-out would (SIGTERM, SIGKILL after 15 s), then the simulator.
    ~LuxoraProcess();
    LuxoraProcess(const LuxoraProcess &) = delete;
    LuxoraProcess &operator=(const LuxoraProcess &) = delete;

    pid_t pid() const { return pid_; }
    // CLOCK_MONOTONIC seconds just before the program was spawned.
    double spawnedAt() const { return spawnedAt_; }
    Simulator &simulator() { return *simulator_; }
    bool running();

    // Polls the program's log until it reports the device connected.
    bool waitForConnection(double timeoutSeconds);
    // The CLOCK_MONOTONIC seconds of the first frame, once the program has written them.
    std::optional<double> firstFrame(double timeoutSeconds) const;

    // User plus system time of all the program's threads, in seconds.
    double cpuSeconds() const;
    // VmRSS in KiB; -1 when it cannot be read.
    long residentKiB() const;

    struct Mapping {
        std::string name; // the mapped file, or [anon] for all anonymous memory
        long residentKiB;
    };
    // Resident memory by what is mapped, largest first.
    std::vector<Mapping> residentByMapping() const;

    struct ThreadTime {
        std::string name;
        double cpuSeconds;
    };
    std::vector<ThreadTime> threadTimes() const;

    // Ends the program; its exit status as a shell reports it (128 + signal when killed).
    int stop();

private:
    void parkMachinePorts() const;
    std::string logText() const;

    std::unique_ptr<TempXdg> xdg_;
    std::unique_ptr<Simulator> simulator_;
    std::string frameFile_;
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
    double spawnedAt_ = 0.0;
};

} // namespace bench
