// Round trips of GetCurrentStatus and GetMotorSteps through the library against the simulator,
// beside the floor of raw termios calls on the same pseudo-terminal and beside the 9600-baud wire time.
//
//   bench-exchange [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "Simulator.h"
#include "TempXdg.h"
#include "optivane/optivane.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double medianMs;
    double p99Ms;
};

Figures Summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

double TimeOne(const std::function<bool()> &exchange) {
    const auto start = Clock::now();
    if (!exchange()) {
        std::fprintf(stderr, "exchange failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Figures Measure(int rounds, const std::function<bool()> &exchange) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i)
        ms.push_back(TimeOne(exchange));
    return Summarise(std::move(ms));
}

std::pair<Figures, Figures> MeasurePair(int rounds, const std::function<bool()> &first,
                                        const std::function<bool()> &second) {
    std::vector<double> a;
    std::vector<double> b;
    for (int i = 0; i < rounds; ++i) {
        a.push_back(TimeOne(first));
        b.push_back(TimeOne(second));
    }
    return {Summarise(std::move(a)), Summarise(std::move(b))};
}

// The same request written and its reply read with plain system calls: the floor on this machine.
bool RawExchange(int fd, const std::string &request, std::size_t replyLength) {
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        return false;
    std::string reply;
    char buffer[64];
    while (reply.size() < replyLength) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    return reply.size() == replyLength && reply.compare(reply.size() - 2, 2, "\r\n") == 0;
}

int OpenRaw(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B9600);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

void Print(const char *what, Figures f) {
    std::printf("  %-34s median %8.3f ms   p99 %8.3f ms\n", what, f.medianMs, f.p99Ms);
}

void Row(const char *what, Figures lib, double reference, const char *referenceName) {
    Print(what, lib);
    std::printf("  %-34s median ratio %.3f (%s %.3f ms)\n", "", lib.medianMs / reference, referenceName, reference);
}

} // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
    TempXdg xdg;
    int steps = 0;

    std::printf("(a) baud delay off, %d rounds each\n", rounds);
    {
        // Raw and library rounds alternate, each on a simulator of its own, so that a change in the
        // machine's load during the run affects both sides alike.
        Simulator rawSim({"--position", "12942"});
        Simulator libSim({"--position", "12942"});
        const int fd = OpenRaw(rawSim.ptyPath());
        KORVAN::Optivane handle;
        if (fd < 0 || !handle.Connect(libSim.ptyPath()))
            return 1;
        const auto [rawStatus, libStatus] = MeasurePair(
            rounds, [&] { return RawExchange(fd, "0gs", 7); },
            [&] { return handle.GetCurrentStatus(1000) == KORVAN::Ok; });
        const auto [rawSteps, libSteps] = MeasurePair(
            rounds, [&] { return RawExchange(fd, "0gp", 13); },
            [&] { return handle.GetMotorSteps(&steps, 1000) == KORVAN::Ok; });
        ::close(fd);
        Print("raw termios \"0gs\"", rawStatus);
        Row("GetCurrentStatus", libStatus, rawStatus.medianMs, "raw");
        Print("raw termios \"0gp\"", rawSteps);
        Row("GetMotorSteps", libSteps, rawSteps.medianMs, "raw");
    }

    const int slowRounds = std::max(20, rounds / 10);
    std::printf("(b) baud delay on (9600 8N1), %d rounds each\n", slowRounds);
    {
        Simulator sim({"--position", "12942"}, true);
        KORVAN::Optivane handle;
        if (!handle.Connect(sim.ptyPath()))
            return 1;
        // Ten bits a byte on the line: the request and its reply.
        const double byteMs = 10.0 * 1000.0 / 9600.0;
        const Figures libStatus = Measure(slowRounds, [&] { return handle.GetCurrentStatus(1000) == KORVAN::Ok; });
        const Figures libSteps = Measure(slowRounds, [&] { return handle.GetMotorSteps(&steps, 1000) == KORVAN::Ok; });
        Row("GetCurrentStatus", libStatus, (3 + 7) * byteMs, "wire");
        Row("GetMotorSteps", libSteps, (3 + 13) * byteMs, "wire");
    }
    return 0;
}
