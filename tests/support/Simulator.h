// Runs optivane-sim as a child process for one test: its pseudo-terminal path, its control socket
// and its transcript, in a private temporary folder that goes away with the object.
// A Windows test process runs under Wine and cannot start the Linux simulator itself: there the object
// asks wine-sim-broker (tests/wine) to start one and map it to a COM port, and ptyPath() is that port's
// name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#if !defined(_WIN32)
#include "ChildProcess.h"
#endif

class Simulator {
public:
    // Starts the simulator with a control socket and a transcript of its own, without line timing
    // unless baudDelay, plus extraArgs; it inherits this process's environment (and so the port
    // folder of a TempXdg). Waits up to 5 s for it to report its terminal; throws std::runtime_error
    // with its error output when it does not.
    explicit Simulator(std::vector<std::string> extraArgs = {}, bool baudDelay = false);
#if !defined(_WIN32)
    // The bench: the same, plus a power meter of that dialect ("thorlabs", "newport", "ophir", "gentec") on a
    // second terminal, linked at meterPath() in the simulator's folder, and on a TCP socket of 127.0.0.1.
    // The beam's options go into extraArgs ("--true-offset-deg", "-3.7", "--noise", "0.002", "--seed", "1"),
    // which has no default so that Simulator({"--silent"}) still means the constructor above:
    // Simulator sim(Simulator::Meter{"thorlabs"}, {});
    struct Meter {
        std::string kind = "thorlabs";
    };
    Simulator(const Meter &meter, std::vector<std::string> extraArgs, bool baudDelay = false);
#endif
    // Ends the simulator (SIGTERM, SIGKILL if it lingers) and removes its folder; never throws.
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    std::string ptyPath() const { return ptyPath_; }
#if defined(_WIN32)
    pid_t pid() const {
        return -1;
    } // the simulator runs beside Wine, not as a child of this process
#else
    pid_t pid() const {
        return process_ ? process_->pid() : -1;
    }
#endif
    const std::string &controlPath() const {
        return controlPath_;
    }
    const std::string &transcriptPath() const {
        return transcriptPath_;
    }

    // One control command; returns the answer line without its newline. Throws std::runtime_error
    // when the socket cannot be reached or does not answer within 5 s.
    std::string control(const std::string &line);

#if !defined(_WIN32)
    // The meter's terminal through its link, which follows a "meter reopen"; empty without a meter.
    const std::string &meterPath() const {
        return meterPath_;
    }
    // The meter's address for PowerMeter::Open: "usbtmc:LINK", "serial:LINK:115200" or "tcp:127.0.0.1:PORT"
    // for transport "usbtmc", "serial" or "tcp".
    std::string meterAddress(const std::string &transport) const;
    // One meter control: meter("silent on") sends "meter silent on"; returns the answer line.
    std::string meter(const std::string &command) {
        return control("meter " + command);
    }
    // The power at the meter now, W, without noise ("get power").
    double truePowerW();
    // The transcript's meter queries and replies (marked "M>" and "M<"), escaped as logged, in order.
    std::vector<std::string> meterQueries() const;
    std::vector<std::string> meterReplies() const;
#endif

    // The transcript's request lines (garbage included) and reply lines, escaped as logged, in order.
    std::vector<std::string> requests() const;
    std::vector<std::string> replies() const;
    std::string transcript() const;
    // Polls the transcript until it holds at least count request lines, or reply lines.
    bool waitForRequests(std::size_t count, int timeoutMs) const;
    bool waitForReplies(std::size_t count, int timeoutMs) const;

    // SIGTERM, then waits (SIGKILL after 5 s). Safe to call more than once.
    void terminate();
    // After terminate(): the exit code, 128 + signal when killed by one, -1 before.
    int exitStatus() const;

private:
    std::vector<std::string> transcriptLines(char direction) const;
    std::vector<std::string> transcriptLines(const std::string &mark) const;

    std::string folder_;
    std::string controlPath_;
    std::string transcriptPath_;
    std::string ptyPath_;
    std::string meterPath_;
    std::string meterTcp_;
#if defined(_WIN32)
    // One request line to the broker and its answer line.
    std::string ask(const std::string &line);
    std::uintptr_t broker_; // the connection that owns this simulator at the broker (a SOCKET)
    std::mutex mutex_;
    std::optional<int> exitStatus_;
#else
    void start(std::vector<std::string> args, std::size_t lines);
    std::unique_ptr<ChildProcess> process_;
#endif
};
