// CPU use and resident memory of the luxora program while it is connected to a simulated attenuator and
// idle, its monitor polling the device four times a second over a 9600-baud line.
//
//   bench-luxora-idle [--seconds S] [--every S] [--platform xcb|offscreen] [--quick-backend software]
//
// Prints the resident memory once connected and every --every seconds, the CPU use of each interval and of
// the whole run as a percentage of one core, the polls the simulator saw, and the busiest threads.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "Figures.h"
#include "LuxoraProcess.h"

namespace {

constexpr double kConnectTimeoutSeconds = 30.0;
// The connection steps and the first layout settle before the idle time is counted.
constexpr double kSettleSeconds = 3.0;

std::size_t CountPolls(Simulator &simulator) {
    std::size_t polls = 0;
    for (const std::string &request : simulator.requests())
        polls += request == "0gs";
    return polls;
}

int Usage() {
    std::fprintf(stderr, "usage: bench-luxora-idle [--seconds S] [--every S] [--platform xcb|offscreen] "
                         "[--quick-backend software]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    double seconds = 60.0;
    double every = 300.0;
    bench::LuxoraProcess::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char *value = argv[++i];
        if (name == "--seconds")
            seconds = std::atof(value);
        else if (name == "--every")
            every = std::atof(value);
        else if (name == "--platform")
            options.platform = value;
        else if (name == "--quick-backend")
            options.quickBackend = value;
        else
            return Usage();
    }
    if (seconds <= 0.0 || every <= 0.0)
        return Usage();
    every = std::min(every, seconds);

    try {
        bench::LuxoraProcess program(options);
        if (!program.waitForConnection(kConnectTimeoutSeconds)) {
            std::fprintf(stderr, "bench-luxora-idle: the program did not connect to the simulator\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds));

        const char *display = std::getenv("DISPLAY");
        const std::string backend = !options.quickBackend.empty()     ? options.quickBackend
                                    : options.platform == "offscreen" ? "software"
                                                                      : "(Qt's default, OpenGL)";
        std::printf("luxora idle, connected to optivane-sim at 9600 baud; QT_QPA_PLATFORM=%s%s%s, "
                    "QT_QUICK_BACKEND=%s; %.0f s; %s\n",
                    options.platform.c_str(), options.platform == "xcb" ? " on DISPLAY=" : "",
                    options.platform == "xcb" ? (display ? display : "(none)") : "", backend.c_str(), seconds,
                    bench::LoadNote().c_str());
        const long startKiB = program.residentKiB();
        std::printf("  t=%6.0f s  VmRSS %7.1f MiB (after start and connection)\n", 0.0, startKiB / 1024.0);
        std::printf("  resident by mapping:");
        const std::vector<bench::LuxoraProcess::Mapping> mappings = program.residentByMapping();
        for (std::size_t i = 0; i < mappings.size() && i < 5; ++i) {
            const std::string &name = mappings[i].name;
            std::printf("%s %s %.1f MiB", i ? "," : "", name.substr(name.rfind('/') + 1).c_str(),
                        mappings[i].residentKiB / 1024.0);
        }
        std::printf("\n");
        std::fflush(stdout);

        const double start = bench::Now();
        const double startCpu = program.cpuSeconds();
        const std::size_t startPolls = CountPolls(program.simulator());
        double intervalStart = start;
        double intervalCpu = startCpu;
        long peakKiB = startKiB;
        long lastKiB = startKiB;
        for (double next = start + every;; next += every) {
            const double end = std::min(next, start + seconds);
            std::this_thread::sleep_for(std::chrono::duration<double>(std::max(0.0, end - bench::Now())));
            if (!program.running()) {
                std::fprintf(stderr, "bench-luxora-idle: the program ended during the run\n");
                return 1;
            }
            const double now = bench::Now();
            const double cpu = program.cpuSeconds();
            lastKiB = program.residentKiB();
            peakKiB = std::max(peakKiB, lastKiB);
            std::printf("  t=%6.0f s  VmRSS %7.1f MiB  CPU %5.2f %% of one core over the last %.0f s\n", now - start,
                        lastKiB / 1024.0, 100.0 * (cpu - intervalCpu) / (now - intervalStart), now - intervalStart);
            std::fflush(stdout);
            intervalStart = now;
            intervalCpu = cpu;
            if (end >= start + seconds)
                break;
        }
        const double elapsed = bench::Now() - start;
        const double cpu = program.cpuSeconds() - startCpu;
        const std::size_t polls = CountPolls(program.simulator()) - startPolls;
        std::printf("CPU: %.2f %% of one core (%.2f s of CPU in %.0f s; target < 1 %%)\n", 100.0 * cpu / elapsed, cpu,
                    elapsed);
        std::printf("polls: %zu status requests, %.2f per second\n", polls, static_cast<double>(polls) / elapsed);
        std::printf("VmRSS: %.1f MiB after start, %.1f MiB at the end, %.1f MiB at most, change %+.1f MiB "
                    "(target < 120 MiB and flat)\n",
                    startKiB / 1024.0, lastKiB / 1024.0, peakKiB / 1024.0, (lastKiB - startKiB) / 1024.0);
        std::printf("  at the end: %s\n", bench::LoadNote().c_str());
        std::vector<bench::LuxoraProcess::ThreadTime> threads = program.threadTimes();
        std::sort(threads.begin(), threads.end(),
                  [](const auto &a, const auto &b) { return a.cpuSeconds > b.cpuSeconds; });
        std::printf("threads by CPU since the program started:");
        for (std::size_t i = 0; i < threads.size() && i < 5; ++i)
            std::printf("%s %s %.2f s", i ? "," : "", threads[i].name.c_str(), threads[i].cpuSeconds);
        std::printf("\n");
        std::fflush(stdout);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench-luxora-idle: %s\n", e.what());
        return 1;
    }
    return 0;
}
