// The soak's drive, shared by the suite's short run and the benchmark's long one.
#include "Soak.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <sys/wait.h>

#include "FaultDrill.h"
#include "shell/LogEmitter.h"

namespace soak {

namespace {

using Clock = std::chrono::steady_clock;

// A child that prints nothing for this long is stuck: every pair ends within a few limits.
constexpr int kHangSeconds = 60;
constexpr int kProgressSeconds = 10;
// Failures described in full; beyond this only counted.
constexpr int kDescribedFailures = 20;

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Counters ParseCounters(const std::string &line) {
    Counters counters;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            counters[word.substr(0, equals)] = std::strtol(word.c_str() + equals + 1, nullptr, 10);
        }
    }
    return counters;
}

// The last lines of a text file, for the account of a failure.
std::string Tail(const QString &path, int lines) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const qint64 size = file.size();
    file.seek(std::max<qint64>(0, size - 64 * 1024));
    const QStringList all = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    return all.mid(std::max(0, all.size() - lines)).join(QStringLiteral("\n    ")).toStdString();
}

// Commands that change settings without a device exchange, so that the saves have something to write.
void ChangeSettings(Backend &backend, std::mt19937 &random) {
    std::uniform_int_distribution<int> pick(0, 6);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    switch (pick(random)) {
    case 0:
        backend.setInitTransmittanceZero(!backend.getInitTransmittanceZero());
        break;
    case 1:
        backend.setTerminateTransmittanceZero(!backend.getTerminateTransmittanceZero());
        break;
    case 2:
        backend.setAutoConnectPossibleSerial(true);
        backend.setMechanicalCalibrationTransmittanceZero(!backend.getMechanicalCalibrationTransmittanceZero());
        break;
    case 3:
        if (!backend.PushPreset(fraction(random))) {
            backend.RemovePreset(0);
        }
        break;
    case 4:
        backend.RemovePreset(0);
        break;
    case 5:
        backend.ApplyOffsetDegree(std::uniform_real_distribution<double>(-10.0, 10.0)(random));
        break;
    default:
        backend.setConnectedSerialAlias(QStringLiteral("soak %1 \"quoted\"").arg(random() % 1000));
        break;
    }
}

int RunChild(const char *program, double seconds, unsigned seed) {
    int argc = 1;
    std::string name = program;
    char *argv[] = {name.data(), nullptr};
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvan. Inc"));
    QCoreApplication::setApplicationName(QStringLiteral("Luxora"));

    const Clock::time_point start = Clock::now();
    const long rssStart = ResidentKiB();
    DrillRig rig;
    std::mt19937 random(seed);
    const std::vector<DrillCommand> &commands = DrillCommands();
    const std::vector<DrillFault> &faults = DrillFaults();
    // The two timeout faults cost a full limit each; they come a quarter as often as the others.
    std::vector<double> weights;
    for (const DrillFault &fault : faults) {
        weights.push_back(fault.effect == FaultEffect::Timeout ? 1.0 : 4.0);
    }
    std::discrete_distribution<std::size_t> pickFault(weights.begin(), weights.end());
    std::uniform_int_distribution<std::size_t> pickCommand(0, commands.size() - 1);
    std::uniform_real_distribution<double> chance(0.0, 1.0);

    const double warmUp = std::min(60.0, seconds / 5);
    long rssWarm = -1;
    Counters counts{{"commands", 0}, {"faults", 0},      {"replacements", 0}, {"late", 0},
                    {"wrong", 0},    {"unrecovered", 0}, {"unparsable", 0},   {"retried", 0}};
    int described = 0;
    const auto describe = [&](const std::string &what) {
        if (++described <= kDescribedFailures) {
            LogEmitter *log = LogManager::emitter();
            std::printf("failure %s\n  log:\n    %s\n  device:\n    %s\n", what.c_str(),
                        Tail(log->saveDir() + QStringLiteral("/") + log->saveFile(), 40).c_str(),
                        Tail(QString::fromStdString(rig.simulator().transcriptPath()), 30).c_str());
            std::fflush(stdout);
        }
    };
    const auto report = [&](const char *kind) {
        std::printf("%s seconds=%.0f", kind, SecondsSince(start));
        for (const auto &[key, value] : counts) {
            std::printf(" %s=%ld", key.c_str(), value);
        }
        // Every link that came up again after the first one.
        std::printf(" reconnects=%d rss_start=%ld rss_warm=%ld rss_now=%ld\n", rig.link().ups() - 1, rssStart, rssWarm,
                    ResidentKiB());
        std::fflush(stdout);
    };

    Clock::time_point lastProgress = Clock::now();
    while (SecondsSince(start) < seconds) {
        if (rssWarm < 0 && SecondsSince(start) >= warmUp) {
            rssWarm = ResidentKiB();
        }
        const double roll = chance(random);
        if (roll < 0.01) {
            // Unplugged and plugged in again: the port goes, a new device registers under its name.
            ++counts["replacements"];
            rig.replaceSimulator();
            QString why;
            if (!rig.restore(&why, true)) {
                ++counts["unrecovered"];
                describe("after replacement: " + why.toStdString());
            }
        } else if (roll < 0.15) {
            ++counts["commands"];
            ChangeSettings(rig.backend(), random);
        } else {
            ++counts["commands"];
            const DrillCommand &command = commands[pickCommand(random)];
            const DrillFault *fault = nullptr;
            if (chance(random) < 0.3) {
                fault = &faults[pickFault(random)];
                ++counts["faults"];
            }
            const PairResult result = RunPair(rig, command, fault);
            counts["late"] += result.timely ? 0 : 1;
            counts["wrong"] += result.correct ? 0 : 1;
            counts["unrecovered"] += result.recovered ? 0 : 1;
            counts["retried"] += result.retried ? 1 : 0;
            if (!result.held()) {
                describe(std::string(command.name) + " / " + (fault ? fault->name : "no fault") + ": " +
                         result.detail.toStdString());
            }
        }
        if (counts["commands"] % 20 == 0) {
            QString why;
            if (!rig.configParses(&why)) {
                ++counts["unparsable"];
                describe(why.toStdString());
            }
        }
        if (SecondsSince(lastProgress) >= kProgressSeconds) {
            lastProgress = Clock::now();
            report("progress");
        }
    }
    if (rssWarm < 0) {
        rssWarm = ResidentKiB();
    }
    report("summary");
    return 0;
}

struct ChildRun {
    Counters summary;
    bool summarised = false;
    bool crashed = false;
    bool hung = false;
    std::string ending;
};

// Starts this program as a drive child and relays its lines until it ends or stops talking.
ChildRun RunOnce(const char *program, double seconds, unsigned seed) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    const std::string secondsText = std::to_string(seconds);
    const std::string seedText = std::to_string(seed);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        // The Backend's log also goes to the console; at full rate that is noise, and it is in the log file.
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execl("/proc/self/exe", program, "--child", secondsText.c_str(), seedText.c_str(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ChildRun run;
    std::string pending;
    Clock::time_point lastLine = Clock::now();
    for (;;) {
        pollfd pfd{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 1000);
        if (ready > 0) {
            char buffer[4096];
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                lastLine = Clock::now();
                std::printf("  %s\n", line.c_str());
                std::fflush(stdout);
                if (line.rfind("summary ", 0) == 0) {
                    run.summary = ParseCounters(line);
                    run.summarised = true;
                }
            }
        } else if (ready < 0 && errno != EINTR) {
            break;
        }
        if (SecondsSince(lastLine) > kHangSeconds) {
            run.hung = true;
            ::kill(pid, SIGKILL);
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        run.ending = std::string("killed by signal ") + std::to_string(WTERMSIG(status));
        run.crashed = !run.hung;
    } else if (WEXITSTATUS(status) != 0 || !run.summarised) {
        run.ending = "exit code " + std::to_string(WEXITSTATUS(status));
        run.crashed = !run.hung;
    }
    return run;
}

} // namespace

long Result::failures() const {
    const auto total = [this](const char *key) {
        const auto found = totals.find(key);
        return found == totals.end() ? 0L : found->second;
    };
    return crashes + hangs + total("late") + total("wrong") + total("unrecovered") + total("unparsable");
}

int RunChildIfAsked(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        return RunChild(argv[0], std::atof(argv[2]), static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
    }
    return -1;
}

Result Run(const char *program, double seconds, unsigned seed) {
    std::printf("soak: %.0f s, seed %u\n", seconds, seed);
    std::fflush(stdout);

    const Clock::time_point start = Clock::now();
    Result result;
    // A child that crashed or hung is counted and replaced for the time that is left.
    while (SecondsSince(start) < seconds - 1) {
        const ChildRun run = RunOnce(program, seconds - SecondsSince(start), seed++);
        result.crashes += run.crashed ? 1 : 0;
        result.hangs += run.hung ? 1 : 0;
        if (!run.ending.empty()) {
            std::printf("failure drive ended: %s%s\n", run.ending.c_str(), run.hung ? " (hang)" : "");
        }
        for (const auto &[key, value] : run.summary) {
            if (key.rfind("rss_", 0) != 0 && key != "seconds") {
                result.totals[key] += value;
            }
        }
        if (run.summarised) {
            result.last = run.summary;
        }
    }
    result.seconds = SecondsSince(start);
    Counters &total = result.totals;
    Counters &last = result.last;
    std::printf("soak result: %.0f s, %ld commands, %ld faults injected, %ld reconnects, %ld replacements, %ld "
                "pairs tried twice\n",
                result.seconds, total["commands"], total["faults"], total["reconnects"], total["replacements"],
                total["retried"]);
    std::printf("failures: %ld (crash %ld, hang %ld, late %ld, wrong status %ld, no recovery %ld, unparsable "
                "settings %ld)\n",
                result.failures(), result.crashes, result.hangs, total["late"], total["wrong"], total["unrecovered"],
                total["unparsable"]);
    std::printf("resident memory: start %ld KiB, after warm-up %ld KiB, end %ld KiB, growth after warm-up %ld KiB\n",
                last["rss_start"], last["rss_warm"], last["rss_now"], last["rss_now"] - last["rss_warm"]);
    std::fflush(stdout);
    return result;
}

} // namespace soak
