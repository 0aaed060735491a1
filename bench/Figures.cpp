// What the luxora benchmarks share: the monotonic clock, min/median/max lines, and the simulator's
// transcript read on that clock.
#include "Figures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include <QTest>

#include "Simulator.h"

namespace bench {

double Now() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

void PrintFigures(const std::string &label, std::vector<double> values, const char *unit, const std::string &target) {
    if (values.empty()) {
        std::printf("%s: no values\n", label.c_str());
        return;
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    // A ratio is held against a target such as 2 x, which one decimal would round onto.
    const int digits = std::strcmp(unit, "x") == 0 ? 2 : 1;
    std::printf("%s: n=%zu min %.*f median %.*f max %.*f %s", label.c_str(), values.size(), digits, *low, digits,
                Median(values), digits, *high, unit);
    std::printf(target.empty() ? "\n" : " (target %s)\n", target.c_str());
    std::fflush(stdout);
}

std::string LoadNote() {
    double load = 0.0;
    if (std::FILE *file = std::fopen("/proc/loadavg", "re")) {
        if (std::fscanf(file, "%lf", &load) != 1)
            load = 0.0;
        std::fclose(file);
    }
    char note[96];
    std::snprintf(note, sizeof note, "load average %.2f over the last minute, %u cores", load,
                  std::thread::hardware_concurrency());
    return note;
}

std::FILE *DivertProgramLog() {
    std::fflush(stderr);
    const int original = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (original < 0 || sink < 0)
        return stderr;
    ::dup2(sink, 2);
    ::close(sink);
    std::FILE *messages = ::fdopen(original, "w");
    return messages ? messages : stderr;
}

double WireSeconds(std::size_t bytes) {
    return static_cast<double>(bytes) * 10.0 / 9600.0;
}

namespace {

std::vector<WireLine> Parse(const std::string &transcript, double offset) {
    // "<seconds> <direction> <bytes>"; the bytes may hold spaces of their own.
    std::vector<WireLine> lines;
    std::istringstream text(transcript);
    for (std::string line; std::getline(text, line);) {
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || line.size() < space + 3 || line[space + 2] != ' ')
            continue;
        lines.push_back({std::strtod(line.c_str(), nullptr) + offset, line[space + 1], line.substr(space + 3)});
    }
    return lines;
}

} // namespace

WireClock::WireClock(Simulator &simulator) : simulator_(simulator) {
    double best = 1e9;
    // The narrowest of a few round trips bounds the offset best.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const double before = Now();
        if (simulator_.control("clear") != "ok")
            throw std::runtime_error("the simulator refused clear");
        const double after = Now();
        const std::vector<WireLine> lines = Parse(simulator_.transcript(), 0.0);
        auto event = std::find_if(lines.rbegin(), lines.rend(),
                                  [](const WireLine &line) { return line.direction == '!' && line.text == "clear"; });
        if (event == lines.rend())
            throw std::runtime_error("the transcript does not log control commands");
        if (after - before < best) {
            best = after - before;
            offset_ = (before + after) / 2.0 - event->at;
            uncertainty_ = best / 2.0;
        }
    }
}

std::vector<WireLine> WireClock::read() const {
    return Parse(simulator_.transcript(), offset_);
}

std::vector<Poll> StatusPolls(const std::vector<WireLine> &lines) {
    // The request is stamped at its last byte; requests have no terminator, "0gs" is three bytes.
    const double requestSeconds = WireSeconds(3);
    std::vector<Poll> polls;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].direction != '>' || lines[i].text != "0gs")
            continue;
        for (std::size_t j = i + 1; j < lines.size(); ++j) {
            if (lines[j].direction == '<') {
                polls.push_back({lines[i].at - requestSeconds, lines[j].at});
                break;
            }
            if (lines[j].direction == '>')
                break;
        }
    }
    return polls;
}

std::optional<Cycle> MonitorCycle(const std::vector<WireLine> &lines, double after) {
    // Another request holds the line while the monitor waits for it, which shifts the monitor's cycle; the
    // cycle is read from the polls since, leaving out the first, which waited.
    const auto other = std::find_if(lines.rbegin(), lines.rend(),
                                    [](const WireLine &line) { return line.direction == '>' && line.text != "0gs"; });
    const double quietSince = other == lines.rend() ? 0.0 : other->at;
    std::vector<Poll> polls;
    for (const Poll &poll : StatusPolls(lines)) {
        if (poll.writtenAt > quietSince)
            polls.push_back(poll);
    }
    if (polls.size() < 4)
        return std::nullopt;
    const std::size_t last = polls.size() - 1;
    const double period = Median(
        {polls[last].writtenAt - polls[last - 1].writtenAt, polls[last - 1].writtenAt - polls[last - 2].writtenAt});
    double next = polls[last].writtenAt + period;
    while (next < after)
        next += period;
    return Cycle{next, period, polls[last].answeredAt - polls[last].writtenAt};
}

void WaitUntil(double at) {
    const double early = at - Now() - 0.005;
    if (early > 0)
        QTest::qWait(static_cast<int>(early * 1000));
    while (Now() < at) {
    }
}

} // namespace bench
