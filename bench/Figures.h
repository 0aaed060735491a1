// What the luxora benchmarks share: the monotonic clock, min/median/max lines, and the simulator's
// transcript read on that clock.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class Simulator;

namespace bench {

// CLOCK_MONOTONIC in seconds, the clock of the simulator's transcript and of the program's diagnostics.
double Now();

// "label: n=N min A median B max C unit (target T)", without the target when it is empty; nothing but a
// note when there are no values.
void PrintFigures(const std::string &label, std::vector<double> values, const char *unit, const std::string &target);

double Median(std::vector<double> values);

// "load average L over the last minute, N cores": other work on the machine shows in every figure.
std::string LoadNote();

// The program's log handler copies every record to standard error, where the records of a run in this
// process would bury the figures: from here on they go to /dev/null (the log file still has them), and the
// benchmark's own messages to the stream returned, the original standard error.
std::FILE *DivertProgramLog();

// One line of the transcript, its stamp turned into CLOCK_MONOTONIC seconds.
struct WireLine {
    double at;
    char direction; // '>' request, '<' reply, '!' event
    std::string text;
};

// The simulator stamps its transcript in seconds since its own start; a control command, logged as an
// event in the loop turn that answers it, ties that scale to this process's clock within half the round
// trip. `clear` is used because it leaves a freshly started simulator as it was.
class WireClock {
public:
    explicit WireClock(Simulator &simulator);

    std::vector<WireLine> read() const;
    // Half the control round trip: how far a converted stamp may be off.
    double uncertainty() const { return uncertainty_; }

private:
    Simulator &simulator_;
    double offset_ = 0.0;
    double uncertainty_ = 0.0;
};

// The line time of `bytes` bytes at 9600 baud 8N1.
double WireSeconds(std::size_t bytes);

// A status poll of the monitor: "0gs" and its answer.
struct Poll {
    double writtenAt; // the request's first byte on the wire
    double answeredAt;
};
std::vector<Poll> StatusPolls(const std::vector<WireLine> &lines);

// The monitor's cycle as the transcript shows it: when its next poll starts after `after`, its period and
// the length of its last exchange. Empty until three polls have followed the last other request.
struct Cycle {
    double nextPollAt;
    double period;
    double exchange;
};
std::optional<Cycle> MonitorCycle(const std::vector<WireLine> &lines, double after);

// Waits on the event loop until shortly before `at`, then on the clock, so that an action comes on time
// to well under a millisecond.
void WaitUntil(double at);

} // namespace bench
