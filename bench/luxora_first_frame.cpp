// Time from the start of the luxora process to the first frame of its window, on a real X display
// (run it under xvfb-run), with a simulated attenuator on COM1 for the start-up connection, beside the same
// time of bench-quick-floor, the program's start-up with an empty window: the floor that Qt Quick itself
// sets on this machine, below which no change to the screens can bring the first frame.
//
//   bench-luxora-first-frame [runs] [--quick-backend software] [--program PATH]
//
// Every run is a new process with fresh XDG folders. The first-start runs also begin with an empty cache
// folder (Qt's QML and shader caches, Mesa's shader cache), as the very first start on a machine does; the
// later-start runs share a cache folder filled by one run beforehand, one folder for each program. Files
// are in the page cache either way. The program's starts alternate with the floor's, and each pair gives a
// ratio: other work on the machine drifts over seconds, so it weighs on both starts of a pair alike, where
// it would weigh on one side only if all of one program's starts ran first. --program times another build
// of luxora in its place.
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

bool Start(const char *what, int run, const std::string &program, const std::string &cacheFolder,
           const std::string &quickBackend, double &ms) {
    ms = OneStart(program, cacheFolder, quickBackend);
    if (ms < 0) {
        std::fprintf(stderr, "bench-luxora-first-frame: no first frame within %.0f s (%s run %d)\n",
                     kFrameTimeoutSeconds, what, run);
        return false;
    }
    return true;
}

struct Side {
    std::string program; // empty for luxora itself
    std::string cacheFolder;
    std::vector<double> ms;
};

// `runs` pairs, the program's start first; each pair's ratio is printed as it comes.
bool Pairs(const char *what, int runs, const std::string &quickBackend, Side &program, Side &floor,
           std::vector<double> &ratios) {
    for (int run = 1; run <= runs; ++run) {
        double programMs = 0.0;
        double floorMs = 0.0;
        if (!Start(what, run, program.program, program.cacheFolder, quickBackend, programMs) ||
            !Start(what, run, floor.program, floor.cacheFolder, quickBackend, floorMs))
            return false;
        program.ms.push_back(programMs);
        floor.ms.push_back(floorMs);
        ratios.push_back(programMs / floorMs);
        std::printf("  %s pair %d: luxora %.1f ms, floor %.1f ms, ratio %.2f\n", what, run, programMs, floorMs,
                    ratios.back());
        std::fflush(stdout);
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    int runs = 10;
    std::string quickBackend;
    std::string program;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick-backend" && i + 1 < argc)
            quickBackend = argv[++i];
        else if (arg == "--program" && i + 1 < argc)
            program = argv[++i];
        else
            runs = std::atoi(argv[i]);
    }
    if (runs <= 0 || !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "usage: xvfb-run -a bench-luxora-first-frame [runs] [--quick-backend software] "
                             "[--program PATH]\n");
        return 2;
    }
    try {
        std::printf("luxora start to first frameSwapped, QT_QPA_PLATFORM=xcb on DISPLAY=%s, QT_QUICK_BACKEND=%s, "
                    "%d pairs each, luxora %s beside the floor; %s\n",
                    std::getenv("DISPLAY"), quickBackend.empty() ? "(Qt's default, OpenGL)" : quickBackend.c_str(),
                    runs, program.empty() ? "of this build" : program.c_str(), bench::LoadNote().c_str());
        const char *floorLabel = "empty window, same start-up (the floor)";

        // An empty cache folder names none: each run then gets a fresh one in its own XDG tree.
        Side firstProgram{program, "", {}};
        Side firstFloor{BENCH_QUICK_FLOOR_PATH, "", {}};
        std::vector<double> firstRatios;
        if (!Pairs("first-start", runs, quickBackend, firstProgram, firstFloor, firstRatios))
            return 1;
        bench::PrintFigures("luxora, first start (empty cache folder)", firstProgram.ms, "ms", "");
        bench::PrintFigures(std::string(floorLabel) + ", first start (empty cache folder)", firstFloor.ms, "ms", "");
        bench::PrintFigures("luxora / floor, first start, pair by pair", firstRatios, "x", "median <= 4 x");
        std::printf("  %s\n", bench::LoadNote().c_str());

        // Folders outside the runs' own XDG trees, so that each cache outlives the runs; one run fills each.
        const TempXdg programCache;
        const TempXdg floorCache;
        Side laterProgram{program, programCache.root() + "/cache", {}};
        Side laterFloor{BENCH_QUICK_FLOOR_PATH, floorCache.root() + "/cache", {}};
        std::vector<double> primingRatio;
        Side primingProgram = laterProgram;
        Side primingFloor = laterFloor;
        if (!Pairs("priming", 1, quickBackend, primingProgram, primingFloor, primingRatio))
            return 1;
        std::vector<double> laterRatios;
        if (!Pairs("later-start", runs, quickBackend, laterProgram, laterFloor, laterRatios))
            return 1;
        bench::PrintFigures("luxora, later start (cache folder filled)", laterProgram.ms, "ms", "");
        bench::PrintFigures(std::string(floorLabel) + ", later start (cache folder filled)", laterFloor.ms, "ms", "");
        bench::PrintFigures("luxora / floor, later start, pair by pair", laterRatios, "x", "median <= 2 x");
        std::printf("  at the end: %s\n", bench::LoadNote().c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench-luxora-first-frame: %s\n", e.what());
        return 1;
    }
    return 0;
}
