// Time from the start of the luxora process to the first frame of its window, on a real X display
// (run it under xvfb-run), with a simulated attenuator on COM1 for the start-up connection.
//
//   bench-luxora-first-frame [runs] [--quick-backend software]
//
// Every run is a new process with fresh XDG folders. The first-start runs also begin with an empty cache
// folder (Qt's QML and shader caches, Mesa's shader cache), as the very first start on a machine does; the
// later-start runs share a cache folder filled by one run beforehand. Files are in the page cache either way.
// Then the same for bench-quick-floor, the program's start-up with an empty window: the floor that Qt Quick
// itself sets on this machine, below which no change to the screens can bring the first frame.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "Figures.h"
#include "LuxoraProcess.h"
#include "TempXdg.h"

namespace {

constexpr double kFrameTimeoutSeconds = 20.0;

// Milliseconds from the spawn to the first frame; negative when no frame came.
double OneStart(const std::string &program, const std::string &cacheFolder, const std::string &quickBackend) {
    bench::LuxoraProcess::Options options;
    options.program = program;
    options.quickBackend = quickBackend;
    options.recordFirstFrame = true;
    options.cacheFolder = cacheFolder;
    bench::LuxoraProcess started(options);
    const std::optional<double> frame = started.firstFrame(kFrameTimeoutSeconds);
    return frame ? (*frame - started.spawnedAt()) * 1000.0 : -1.0;
}

bool Collect(const char *what, int runs, const std::string &program, const std::string &cacheFolder,
             const std::string &quickBackend, std::vector<double> &ms) {
    for (int run = 0; run < runs; ++run) {
        const double value = OneStart(program, cacheFolder, quickBackend);
        if (value < 0) {
            std::fprintf(stderr, "bench-luxora-first-frame: no first frame within %.0f s (%s run %d)\n",
                         kFrameTimeoutSeconds, what, run + 1);
            return false;
        }
        ms.push_back(value);
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    int runs = 10;
    std::string quickBackend;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--quick-backend" && i + 1 < argc)
            quickBackend = argv[++i];
        else
            runs = std::atoi(argv[i]);
    }
    if (runs <= 0 || !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "usage: xvfb-run -a bench-luxora-first-frame [runs] [--quick-backend software]\n");
        return 2;
    }
    try {
        std::printf("luxora start to first frameSwapped, QT_QPA_PLATFORM=xcb on DISPLAY=%s, QT_QUICK_BACKEND=%s, "
                    "%d runs each; %s\n",
                    std::getenv("DISPLAY"), quickBackend.empty() ? "(Qt's default, OpenGL)" : quickBackend.c_str(),
                    runs, bench::LoadNote().c_str());
        // program: empty for luxora itself.
        const auto measure = [&](const std::string &program, const char *what, const char *target) {
            std::vector<double> first;
            if (!Collect("first-start", runs, program, "", quickBackend, first))
                return false;
            bench::PrintFigures((std::string(what) + ", first start (empty cache folder)").c_str(), first, "ms",
                                target);
            // A folder outside the runs' own XDG trees, so that the cache outlives each run.
            const TempXdg shared;
            const std::string cache = shared.root() + "/cache";
            std::vector<double> primer;
            std::vector<double> later;
            if (!Collect("priming", 1, program, cache, quickBackend, primer) ||
                !Collect("later-start", runs, program, cache, quickBackend, later))
                return false;
            bench::PrintFigures((std::string(what) + ", later start (cache folder filled)").c_str(), later, "ms",
                                target);
            return true;
        };
        if (!measure("", "luxora", "< 1000 ms") ||
            !measure(BENCH_QUICK_FLOOR_PATH, "empty window, same start-up (the floor)", ""))
            return 1;
        std::printf("  at the end: %s\n", bench::LoadNote().c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench-luxora-first-frame: %s\n", e.what());
        return 1;
    }
    return 0;
}
