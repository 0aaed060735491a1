// "optivane get COM5" from process start to exit against the simulator at 9600 baud, beside the device's
// own time: the connection's settling pause plus the bytes of its exchanges on the wire.
//
//   bench-cli-get [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "Simulator.h"
#include "TempXdg.h"
#include "optivane/optivane.h"

extern char **environ;

namespace {

// The library waits this long after setting the line up, before its handshake.
constexpr double kSettleMs = 100.0;
// Ten bits a byte at 9600 baud, 8N1.
constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;

std::size_t WireBytes(const std::vector<std::string> &lines) {
    std::size_t bytes = 0;
    for (const std::string &line : lines) {
        // The transcript writes CR and LF as the two-character escapes \r and \n.
        std::size_t escapes = 0;
        for (std::size_t at = line.find('\\'); at != std::string::npos; at = line.find('\\', at + 2))
            ++escapes;
        bytes += line.size() - escapes;
    }
    return bytes;
}

} // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    TempXdg xdg;
    Simulator sim({"--port", "COM5", "--speed", "0"}, true);

    std::vector<double> wallMs;
    std::size_t requestsBefore = 0;
    std::size_t repliesBefore = 0;
    std::size_t bytesPerRun = 0;
    for (int i = 0; i < runs; ++i) {
        char program[] = OPTIVANE_CLI_PATH;
        char get[] = "get";
        char port[] = "COM5";
        char *args[] = {program, get, port, nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        if (::posix_spawn(&pid, program, &actions, nullptr, args, environ) != 0)
            return 1;
        int status = 0;
        ::waitpid(pid, &status, 0);
        wallMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        posix_spawn_file_actions_destroy(&actions);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "optivane get failed\n");
            return 1;
        }
        const auto requests = sim.requests();
        const auto replies = sim.replies();
        bytesPerRun = WireBytes({requests.begin() + static_cast<long>(requestsBefore), requests.end()}) +
                      WireBytes({replies.begin() + static_cast<long>(repliesBefore), replies.end()});
        requestsBefore = requests.size();
        repliesBefore = replies.size();
    }
    // The same connection and reads inside this process: what the line and the simulator take on this
    // machine now, without the program's start and end.
    std::vector<double> inProcessMs;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        KORVAN::Optivane handle;
        int steps = 0;
        float degree = 0.0f;
        float transmittance = 0.0f;
        if (!handle.Connect("COM5") || handle.GetMotorSteps(&steps, 3500) != KORVAN::Ok ||
            handle.GetMotorDegree(&degree, 3500) != KORVAN::Ok ||
            handle.GetTransmittance(&transmittance, 0.0, 45.0, 3500) != KORVAN::Ok)
            return 1;
        handle.Disconnect();
        inProcessMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(inProcessMs.begin(), inProcessMs.end());
    std::sort(wallMs.begin(), wallMs.end());
    const double deviceMs = kSettleMs + static_cast<double>(bytesPerRun) * kByteMs;
    const double median = wallMs[wallMs.size() / 2];
    std::printf("optivane get COM5 at 9600 baud, %d runs\n", runs);
    std::printf("  wall time, start to exit   min %7.1f ms  median %7.1f ms  max %7.1f ms\n", wallMs.front(), median,
                wallMs.back());
    std::printf("  device's own time          %7.1f ms  (settling %.0f ms + %zu bytes on the wire)\n", deviceMs,
                kSettleMs, bytesPerRun);
    std::printf("  median above the device    %7.1f ms  (target: at most 50 ms)\n", median - deviceMs);
    std::printf("  same exchanges in-process  min %7.1f ms  median %7.1f ms  (the line and the simulator alone)\n",
                inProcessMs.front(), inProcessMs[inProcessMs.size() / 2]);
    return 0;
}
