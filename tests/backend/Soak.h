// The soak's drive: the real Backend driven with random commands at full rate against a simulator that
// injects random faults, drops its line and is unplugged and registered again. The drive runs in child
// processes of the calling program, so that a crash or a hang is counted rather than fatal. The suite's
// short run judges it; the benchmark's long run only prints it.
#pragma once

#include <map>
#include <string>

namespace soak {

// Counts by name, as the drive children report them in "key=value" lines.
using Counters = std::map<std::string, long>;

struct Result {
    double seconds = 0;
    // commands, faults, replacements, reconnects, retried, and the failures late, wrong, unrecovered, unparsable.
    Counters totals;
    long crashes = 0;
    long hangs = 0;
    // The last child's summary, with its resident memory figures.
    Counters last;
    // Crashes, hangs, late returns, wrong statuses, missed recoveries and settings files that do not parse.
    long failures() const;
};

// Call first in main: when the program was started as a drive child (PROGRAM --child SECONDS SEED), runs the
// drive and returns its exit code; otherwise returns -1.
int RunChildIfAsked(int argc, char **argv);

// Drives for `seconds`, from `seed` on, in children started from this program (named `program`), printing
// their progress, every failure and the result (commands, faults, reconnects, failures, resident memory).
Result Run(const char *program, double seconds, unsigned seed);

} // namespace soak
