// One transmittance read through the Python package's Attenuator beside the same read through the C++
// handle, against the simulator without line timing. Blocks of reads alternate between the two, each
// side on a simulator of its own, so that a change in the machine's load affects both alike.
//
//   bench-attenuator-read [reads per block] [blocks]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <stdio.h>
#include <unistd.h>

#include <sys/wait.h>

#include "Simulator.h"
#include "TempXdg.h"
#include "optivane/optivane.h"

namespace {

// Reads a block size from each input line, answers with one line of per-read times in nanoseconds.
const char kPythonSide[] = R"(
import sys, time, optivane
att = optivane.Attenuator(sys.argv[1])
print("ready", flush=True)
for line in sys.stdin:
    times = []
    for _ in range(int(line)):
        start = time.perf_counter_ns()
        att.transmittance
        times.append(time.perf_counter_ns() - start)
    print(" ".join(map(str, times)), flush=True)
)";

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    const int reads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int blocks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 6;
    TempXdg xdg;
    Simulator cppSim({"--position", "8960"});
    Simulator pySim({"--position", "8960"});

    KORVAN::Optivane handle;
    if (!handle.Connect(cppSim.ptyPath()))
        return 1;

    // Two pipes to the Python side: commands in, times out.
    const std::string command = "PYTHONPATH=" OPTIVANE_PYTHON_PATH " " OPTIVANE_PYTHON " -c '" +
                                std::string(kPythonSide) + "' " + pySim.ptyPath();
    int toPython[2];
    int fromPython[2];
    if (::pipe(toPython) != 0 || ::pipe(fromPython) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(toPython[0], 0);
        ::dup2(fromPython[1], 1);
        ::close(toPython[1]);
        ::close(fromPython[0]);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(toPython[0]);
    ::close(fromPython[1]);
    FILE *commands = ::fdopen(toPython[1], "w");
    FILE *answers = ::fdopen(fromPython[0], "r");
    char *line = nullptr;
    std::size_t capacity = 0;
    if (::getline(&line, &capacity, answers) <= 0) {
        std::fprintf(stderr, "the Python side did not start\n");
        return 1;
    }

    std::vector<double> cppUs;
    std::vector<double> pyUs;
    float transmittance = 0.0f;
    for (int block = 0; block < blocks; ++block) {
        for (int i = 0; i < reads; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (handle.GetTransmittance(&transmittance, 0.0, 45.0, 3500) != KORVAN::Ok)
                return 1;
            cppUs.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
        std::fprintf(commands, "%d\n", reads);
        std::fflush(commands);
        if (::getline(&line, &capacity, answers) <= 0)
            return 1;
        for (char *at = line; *at != '\0' && *at != '\n';) {
            char *end = nullptr;
            const double ns = std::strtod(at, &end);
            if (end == at)
                break;
            pyUs.push_back(ns / 1000.0);
            at = end;
        }
    }
    std::fclose(commands);
    std::fclose(answers);
    std::free(line);
    ::waitpid(child, nullptr, 0);

    const double cpp = Median(cppUs);
    const double py = Median(pyUs);
    std::printf("transmittance read, baud delay off, %d reads each in %d alternating blocks\n", reads * blocks, blocks);
    std::printf("  C++  Optivane::GetTransmittance   median %8.1f us\n", cpp);
    std::printf("  Python  Attenuator.transmittance  median %8.1f us\n", py);
    std::printf("  ratio %.3f; Python above C++ %.1f us; target at most 1.3 x C++ + 5 us = %.1f us\n", py / cpp,
                py - cpp, 1.3 * cpp + 5.0);
    return 0;
}
