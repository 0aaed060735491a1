// watch: one time-stamped reading per interval until Ctrl-C or the count, across a lost line.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "Commands.h"
#include "Output.h"
#include "Session.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// How often a lost port is tried again at most, so that a short interval does not hammer it.
constexpr auto kMinReconnectPause = std::chrono::milliseconds(250);

// Ctrl-C and SIGTERM end the wait at once: the handler only writes to this pipe.
int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}

void InstallStopSignals() {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Failure(kExitLink, "cannot watch: no pipe for the stop signals");
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// Waits until the deadline; false when a stop signal came first.
bool WaitUntil(Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd stop{stopPipe[0], POLLIN, 0};
        const int ready = ::poll(&stop, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (ready > 0)
            return false;
        if (ready == 0 || (ready < 0 && errno != EINTR))
            return true;
    }
}

bool StopRequested() {
    return !WaitUntil(Clock::now());
}

void Report(const std::string &line) {
    std::fprintf(stderr, "optivane: %s\n", line.c_str());
}

} // namespace

void CatchStopSignals() {
    InstallStopSignals();
}

bool StopSignalled() {
    return StopRequested();
}

int Watch(const Options &options) {
    InstallStopSignals();
    Session session(options.operands[0], options);
    session.Open();
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.intervalSeconds));

    if (options.csv && !Emit(std::string(ReadingCsvHeader()) + "\n"))
        return kExitOk;
    long readings = 0;
    std::string lastProblem;
    // Each problem is reported once, when it starts, and its end once.
    const auto problem = [&](const std::string &text) {
        if (text != lastProblem)
            Report(text);
        lastProblem = text;
    };
    auto next = Clock::now();
    while (!StopRequested()) {
        next += interval;
        Reading reading;
        KORVAN::AttenuatorStatus status = KORVAN::Ok;
        std::string unreadable;
        try {
            status = session.TryRead(&reading);
        } catch (const Failure &failure) {
            unreadable = failure.what();
        }
        if (!unreadable.empty()) {
            problem(unreadable);
        } else if (status == KORVAN::SerialClosed) {
            // The line is gone (a hang-up, an unplugged adapter): open the port again once it returns. A device
            // that is merely slow or answers with a status keeps its port.
            problem(session.port() + ": line lost (" + KORVAN::StatusText(status) + "); waiting for the port to return");
            do {
                if (!WaitUntil(Clock::now() + std::max<Clock::duration>(interval, kMinReconnectPause)))
                    return kExitOk;
            } while (!session.Reconnect());
            Report(session.port() + ": port back");
            lastProblem.clear();
            next = Clock::now();
            continue;
        } else if (status != KORVAN::Ok) {
            problem(session.port() + ": reading: " + KORVAN::StatusText(status) + " (" +
                    std::to_string(static_cast<int>(status)) + ")");
        } else {
            if (!lastProblem.empty())
                problem(session.port() + ": answering again");
            lastProblem.clear();
            const std::string time = Timestamp(std::chrono::system_clock::now());
            std::string line;
            if (options.json) {
                nlohmann::json out = {{"time", time}, {"port", session.port()}};
                out.update(ReadingJson(reading));
                line = out.dump();
            } else {
                line = time + (options.csv ? "," + ReadingCsv(reading) : "  " + ReadingRow(reading));
            }
            // A reader that went away (watch | head) ends the watch quietly.
            if (!Emit(line + "\n"))
                break;
            if (options.count && ++readings >= *options.count)
                break;
        }
        // A reading late by more than an interval starts a new schedule rather than a burst.
        const auto now = Clock::now();
        if (next < now)
            next = now;
        if (!WaitUntil(next))
            break;
    }
    return kExitOk;
}

} // namespace cli
