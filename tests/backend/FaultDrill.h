// Backend commands under injected device faults, shared by the fault matrix and the soak: one fault at a
// time aimed at the first exchange of one command, with the status rules that say what the command must
// then show, and the way back to a connected, idle device.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "Simulator.h"
#include "TempXdg.h"
#include "backend/Backend.h"
#include "shell/LogManager.h"

// What a fault does to the one exchange it reaches, by the library's result rules.
enum class FaultEffect { None, Timeout, DeviceStatus, Garbled, UnreadableDigits, HangUp };

struct DrillFault {
    const char *name;
    std::string control; // simulator command that sets it; empty for the hang-up mid-exchange
    FaultEffect effect;
    int settleMs; // time for a late reply to land before the device is checked
    // How long the device holds back its replies, the late one and those queued behind it.
    int holdsMs;
};

const std::vector<DrillFault> &DrillFaults();

// The kind of a command's first device exchange, the one the fault reaches.
enum class Exchange { Move, Read, Command, Maintenance, Handshake };

// The status the library reports for an exchange of that kind under that effect. A handshake counts as
// answered (Ok) or not (any other value).
KORVAN::AttenuatorStatus ExpectedStatus(Exchange kind, FaultEffect effect);

// The link changes the Backend announces, counted without keeping a history, so that a long run stays flat.
class LinkWatch : public QObject {
    Q_OBJECT

public:
    explicit LinkWatch(Backend &backend);
    int changes() const { return changes_; }
    int ups() const { return ups_; }
    bool up() const { return up_; }

private:
    int changes_ = 0;
    int ups_ = 0;
    bool up_ = false;
};

// Fresh XDG folders, the run's log, one simulator registered as COM3 and a Backend connected to it.
class DrillRig {
public:
    DrillRig();
    ~DrillRig();
    DrillRig(const DrillRig &) = delete;
    DrillRig &operator=(const DrillRig &) = delete;

    Backend &backend() { return *backend_; }
    Simulator &simulator() { return *simulator_; }
    const LinkWatch &link() const { return *link_; }

    // Selects COM3 and waits until the connection steps are through; counts a reconnect.
    bool connectDevice(int timeoutMs = 10000);
    // Waits until the link, as announced, is up or down.
    bool waitForLink(bool up, int timeoutMs);
    // Ends the simulator and registers a new one under the same name, as a device unplugged and plugged
    // back in; the Backend sees the port go and come back.
    void replaceSimulator();
    // Clears the faults and brings the device back to connected and idle, after the monitor has seen the
    // loss of a dropped line; false with the reason when it cannot be done.
    bool restore(QString *why, bool lineDropped = false);

    // The device position in steps, as the simulator has it.
    int devicePosition();
    // Whether COM3's settings file, when there is one, parses as a JSON object.
    bool configParses(QString *why) const;

    int reconnects = 0;
    // For the pair being checked: the device held back the replies to the command's later requests
    // behind a late one, so the first of them came together with it.
    bool repliesQueued = false;
    // The effect of the fault of the pair being checked.
    FaultEffect effect = FaultEffect::None;

private:
    std::vector<std::string> simulatorArgs() const;

    TempXdg xdg_;
    std::unique_ptr<LogManager> logs_;
    std::unique_ptr<Simulator> simulator_;
    std::unique_ptr<Backend> backend_;
    std::unique_ptr<LinkWatch> link_;
};

struct DrillCommand {
    const char *name;
    Exchange first;
    int limitMs;                             // the time limit of the exchange the fault reaches
    std::function<void(DrillRig &)> prepare; // unfaulted, before the fault is set
    // The timed part; returns what the check needs to see (a read value), when anything.
    std::function<double(DrillRig &)> run;
    // Given the status the faulted exchange must have had, whether the Backend shows what it should.
    std::function<bool(DrillRig &, KORVAN::AttenuatorStatus, double, QString *)> check;
};

const std::vector<DrillCommand> &DrillCommands();

struct PairResult {
    long long ms = 0;
    bool timely = false;
    bool correct = false;
    bool recovered = false;
    QString detail;
    bool retried = false; // a handshake missed or a bound overrun on a loaded machine: tried a second time
    long long firstMs = 0; // the first attempt's time, when it was retried
    bool held() const { return timely && correct && recovered; }
};

// Runs one command with the fault (none when null) aimed at its first exchange, checks the result,
// then restores the rig and checks that a move is answered and carried out. A connection that should
// have come up and did not is tried once more.
PairResult RunPair(DrillRig &rig, const DrillCommand &command, const DrillFault *fault);

// The slack allowed on top of the time the command must take: the limit of its faulted exchange, or the
// time the device holds its replies back when that is longer.
constexpr long long kDrillSlackMs = 100;
