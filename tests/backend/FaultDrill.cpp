// Backend commands under injected device faults: the faults, the commands with their checks, and one
// fault/command pair from set-up to recovery.
#include "FaultDrill.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStandardPaths>
#include <QStringListModel>
#include <QtTest>

#include "BackendRig.h"
#include "Timing.h"

using namespace KORVAN;

namespace {

const QString kPort = QStringLiteral("COM3");

// Beyond every limit of the Backend (3500 ms) and of the handshake (100 ms); within both.
constexpr int kLateMs = 3800;
constexpr int kWithinMs = 30;

// Processes events until the condition holds, checking every millisecond so that a measured duration
// is not rounded up to a wait step.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

QString Text(AttenuatorStatus status) {
    return Backend::StatusDescription(status);
}

bool Near(double a, double b, double tolerance) {
    return std::abs(a - b) < tolerance;
}

bool Fail(QString *why, const QString &text) {
    *why = text;
    return false;
}

// The header's status text is the one the status rules give.
bool StatusIs(DrillRig &rig, AttenuatorStatus expected, QString *why) {
    const QString shown = rig.backend().getMotorStatusDescription();
    return shown == Text(expected) || Fail(why, "status \"" + shown + "\", want \"" + Text(expected) + "\"");
}

bool BusyIs(DrillRig &rig, bool expected, QString *why) {
    return rig.backend().getBusy() == expected || Fail(why, expected ? "not busy" : "still busy");
}

// A motion command: its status trail carries the faulted exchange's result.
bool MoveShows(DrillRig &rig, AttenuatorStatus expected, double, QString *why) {
    return StatusIs(rig, expected, why);
}

// A routine or calibration: a status other than Ok leaves the Backend busy until a stop, unless the line
// is closed and nothing can run.
bool RoutineShows(DrillRig &rig, AttenuatorStatus expected, double, QString *why) {
    return StatusIs(rig, expected, why) && BusyIs(rig, expected != Ok && expected != SerialClosed, why);
}

// A stop ends busy and, unless the line is gone, leaves the beam confirmed at zero.
bool StopShows(DrillRig &rig, AttenuatorStatus expected, double, QString *why) {
    if (!BusyIs(rig, false, why)) {
        return false;
    }
    if (expected == SerialClosed) {
        return StatusIs(rig, SerialClosed, why);
    }
    // A reply held beyond the limit lands in the stop's next exchange, and the reply queued behind it in
    // the one after: on a loaded machine that can be the closing status poll, which then shows it.
    const QString shown = rig.backend().getMotorStatusDescription();
    if (shown != Text(Ok) && !(rig.repliesQueued && shown == Text(SerialUndefinedError))) {
        return Fail(why, "status \"" + shown + "\", want \"" + Text(Ok) + "\"");
    }
    const float transmittance = rig.backend().getTransmittance();
    return Near(transmittance, 0.0, 0.001) || Fail(why, QString("transmittance %1 after the stop").arg(transmittance));
}

// A property read gives the device's value when its exchange was answered, otherwise what the library
// writes for a position it did not read.
std::function<bool(DrillRig &, AttenuatorStatus, double, QString *)> ReadShows(
    std::function<double(DrillRig &)> truth, double tolerance,
    std::function<double(DrillRig &)> unread = [](DrillRig &) { return 0.0; }) {
    return [truth, tolerance, unread](DrillRig &rig, AttenuatorStatus expected, double read, QString *why) {
        if (expected != Ok) {
            const double want = unread(rig);
            return Near(read, want, 1e-6) ||
                   Fail(why, QString("read %1 from a failed exchange, want %2").arg(read).arg(want));
        }
        const double value = truth(rig);
        return Near(read, value, tolerance) || Fail(why, QString("read %1, device has %2").arg(read).arg(value));
    };
}

bool LinkIs(DrillRig &rig, bool up, int withinMs, QString *why) {
    return rig.waitForLink(up, withinMs) || Fail(why, up ? "link not up" : "link not down");
}

// A connection attempt: an answered handshake brings the link up; a refused one leaves the port closed,
// and the monitor has nothing to announce over its next polls.
bool ConnectionShows(DrillRig &rig, AttenuatorStatus expected, double, QString *why) {
    if (expected == Ok) {
        return LinkIs(rig, true, 5000, why);
    }
    return !rig.waitForLink(true, 400) || Fail(why, "link up after a refused handshake");
}

void ResetRange(DrillRig &rig, float transmittance) {
    Backend &backend = rig.backend();
    backend.ApplyTransmittanceRangeMax(1.0f);
    backend.ApplyTransmittanceRangeMin(0.0f);
    backend.ApplyTransmittance(transmittance);
}

void Disconnected(DrillRig &rig) {
    rig.backend().DisconnectMotor();
    rig.waitForLink(false, 5000);
}

// A connection attempt runs on a worker; it is over when busy falls.
double UntilIdle(DrillRig &rig) {
    WaitUntil([&] { return !rig.backend().getBusy(); }, 20000);
    return 0;
}

} // namespace

const std::vector<DrillFault> &DrillFaults() {
    static const std::vector<DrillFault> faults = {
        {"silent", "silent on", FaultEffect::Timeout, 0, 0},
        // The device answers late, and the replies to the command's next requests queue behind it.
        {"delayed beyond the limit", "delay " + std::to_string(kLateMs), FaultEffect::Timeout, kLateMs + 200, kLateMs},
        {"delayed within the limit", "delay " + std::to_string(kWithinMs), FaultEffect::None, 0, kWithinMs},
        {"fixed device status", "force-status 11", FaultEffect::DeviceStatus, 0, 0},
        {"malformed: short", "malformed short", FaultEffect::Garbled, 0, 0},
        {"malformed: digits", "malformed digits", FaultEffect::UnreadableDigits, 0, 0},
        {"split reply", "split 3", FaultEffect::None, 0, 0},
        {"stray bytes", "stray ~~", FaultEffect::Garbled, 0, 0},
        {"two lines at once", "double on", FaultEffect::Garbled, 0, 0},
        {"hang-up mid-exchange", "", FaultEffect::HangUp, 0, 0},
    };
    return faults;
}

AttenuatorStatus ExpectedStatus(Exchange kind, FaultEffect effect) {
    switch (effect) {
    case FaultEffect::None:
        // A device that starts a routine answers Busy: it is running from then on.
        return kind == Exchange::Maintenance ? Busy : Ok;
    case FaultEffect::Timeout:
        return SerialTimeout;
    case FaultEffect::DeviceStatus:
        return MotorError;
    case FaultEffect::Garbled:
        return SerialUndefinedError;
    case FaultEffect::UnreadableDigits:
        // A move's echo is not read as a number; every other reply is, and the library's exception is
        // contained as an undefined error.
        return kind == Exchange::Move ? Ok : SerialUndefinedError;
    case FaultEffect::HangUp:
        return SerialClosed;
    }
    return SerialUndefinedError;
}

LinkWatch::LinkWatch(Backend &backend) {
    connect(&backend, &Backend::motorConnectedChanged, this, [this](bool connected) {
        ++changes_;
        ups_ += connected ? 1 : 0;
        up_ = connected;
    });
}

DrillRig::DrillRig() : logs_(std::make_unique<LogManager>()) {
    ParkMachinePorts(xdg_.portFolder());
    simulator_ = std::make_unique<Simulator>(simulatorArgs());
    simulator_->control("spare-status on");
    backend_ = std::make_unique<Backend>();
    link_ = std::make_unique<LinkWatch>(*backend_);
    if (!connectDevice()) {
        throw std::runtime_error("the Backend did not connect to the simulator");
    }
    reconnects = 0;
}

DrillRig::~DrillRig() = default;

std::vector<std::string> DrillRig::simulatorArgs() const {
    // Routines short enough to end by themselves while a lost line is being reconnected.
    return {"--port", kPort.toStdString(), "--speed", "0", "--maintenance-seconds", "1"};
}

bool DrillRig::connectDevice(int timeoutMs) {
    backend_->UpdateVisibleSerialPortNames();
    const int row = backend_->getVisibleSerialPortNames()->stringList().indexOf(kPort);
    if (row < 1 || !WaitUntil([&] { return !backend_->getBusy(); }, timeoutMs)) {
        return false;
    }
    const int before = link_->changes();
    backend_->ConnectMotorViaSerial(row);
    ++reconnects;
    // The worker ends first; a port that opened is announced by the monitor within a few periods.
    return WaitUntil([&] { return !backend_->getBusy(); }, timeoutMs) &&
           WaitUntil([&] { return link_->changes() > before && link_->up() && !backend_->getBusy(); }, 3000);
}

bool DrillRig::waitForLink(bool up, int timeoutMs) {
    return WaitUntil([&] { return link_->up() == up; }, timeoutMs);
}

void DrillRig::replaceSimulator() {
    simulator_.reset();
    simulator_ = std::make_unique<Simulator>(simulatorArgs());
    simulator_->control("spare-status on");
}

bool DrillRig::restore(QString *why, bool lineDropped) {
    simulator_->control("clear");
    // A line that is gone shows at the monitor's next poll; the device must then be connected again.
    if (lineDropped || !backend_->getMotorConnected() || !link_->up()) {
        if (!waitForLink(false, 5000)) {
            return Fail(why, "the lost line was not noticed");
        }
        // A routine whose start was cut off runs on, and a device in a routine refuses the handshake.
        WaitUntil([&] { return simulator_->control("get maintenance") == "ok 0"; }, 5000);
        // A connection attempt is dropped while busy.
        if (backend_->getBusy()) {
            backend_->EmergencyStop();
        }
        // The handshake has 100 ms; on a loaded machine one attempt may miss it, as a user would see.
        bool connected = false;
        for (int attempt = 0; attempt < 3 && !connected; ++attempt) {
            connected = connectDevice();
        }
        if (!connected) {
            return Fail(why, "no reconnection");
        }
    }
    if (backend_->getBusy()) {
        backend_->EmergencyStop();
    }
    const int target = 1000 + (reconnects * 37 + simulator_->pid()) % 3000;
    backend_->ApplyStep(target);
    if (backend_->getMotorStatusDescription() != Text(Ok)) {
        return Fail(why, "next move: status \"" + backend_->getMotorStatusDescription() + "\"");
    }
    const int position = devicePosition();
    const int read = backend_->getStep();
    if (position != target || read != target) {
        return Fail(why, QString("next move to %1: device at %2, read %3").arg(target).arg(position).arg(read));
    }
    return true;
}

int DrillRig::devicePosition() {
    const std::string answer = simulator_->control("get position");
    return answer.rfind("ok ", 0) == 0 ? std::stoi(answer.substr(3)) : -1;
}

bool DrillRig::configParses(QString *why) const {
    QFile file(Rig::configPath(kPort));
    if (!file.exists()) {
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return Fail(why, "settings file cannot be read");
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    return (error.error == QJsonParseError::NoError && document.isObject()) ||
           Fail(why, "settings file does not parse: " + error.errorString());
}

const std::vector<DrillCommand> &DrillCommands() {
    constexpr int kLimit = 3500;    // every device call of a Backend command
    constexpr int kHandshake = 200; // the pause after opening the port and the handshake's own limit
    const auto nothing = [](DrillRig &) {};
    static const std::vector<DrillCommand> commands = {
        {"ApplyTransmittance", Exchange::Move, kLimit, nothing,
         [](DrillRig &rig) { return rig.backend().ApplyTransmittance(0.4f), 0.0; }, MoveShows},
        {"ApplyDegree", Exchange::Move, kLimit, nothing,
         [](DrillRig &rig) { return rig.backend().ApplyDegree(30.0f), 0.0; }, MoveShows},
        {"ApplyStep", Exchange::Move, kLimit, nothing, [](DrillRig &rig) { return rig.backend().ApplyStep(5000), 0.0; },
         MoveShows},
        {"read transmittance", Exchange::Read, kLimit, [](DrillRig &rig) { rig.backend().ApplyStep(4000); },
         [](DrillRig &rig) { return double(rig.backend().getTransmittance()); },
         ReadShows([](DrillRig &rig) { return double(rig.backend().getTransmittance()); }, 1e-6,
                   // The library converts the angle 0 of an unanswered read with the offset in force; a reply
                   // it cannot read throws before anything is written.
                   [](DrillRig &rig) {
                       if (rig.effect == FaultEffect::UnreadableDigits) {
                           return 0.0;
                       }
                       const double offset = rig.backend().getOffsetDegree();
                       return double(
                           float(std::sin((0.0 - offset) * (3.14159265359 / 45.0) - 1.57079632679) * 0.5 + 0.5));
                   })},
        {"read degree", Exchange::Read, kLimit, [](DrillRig &rig) { rig.backend().ApplyStep(4000); },
         [](DrillRig &rig) { return double(rig.backend().getDegree()); },
         ReadShows([](DrillRig &rig) { return double(rig.backend().getDegree()); }, 1e-6)},
        {"read step", Exchange::Read, kLimit, [](DrillRig &rig) { rig.backend().ApplyStep(4000); },
         [](DrillRig &rig) { return double(rig.backend().getStep()); },
         ReadShows([](DrillRig &rig) { return double(rig.devicePosition()); }, 0.5)},
        {"transmittanceRangeMax below the beam", Exchange::Read, kLimit, [](DrillRig &rig) { ResetRange(rig, 0.6f); },
         [](DrillRig &rig) { return rig.backend().ApplyTransmittanceRangeMax(0.3f), 0.0; },
         [](DrillRig &rig, AttenuatorStatus expected, double, QString *why) {
             if (!Near(rig.backend().getTransmittanceRangeMax(), 0.3, 1e-6)) {
                 return Fail(why, "maximum not stored");
             }
             // The read leaves the status as it was; the beam is pulled down only when the read was answered.
             if (!StatusIs(rig, Ok, why)) {
                 return false;
             }
             if (expected == SerialClosed) {
                 return true;
             }
             const double beam = rig.backend().getTransmittance();
             const double want = expected == Ok ? 0.3 : 0.6;
             return Near(beam, want, 0.001) || Fail(why, QString("transmittance %1, want %2").arg(beam).arg(want));
         }},
        {"transmittanceRangeMin above the beam", Exchange::Read, kLimit, [](DrillRig &rig) { ResetRange(rig, 0.3f); },
         [](DrillRig &rig) { return rig.backend().ApplyTransmittanceRangeMin(0.5f), 0.0; },
         [](DrillRig &rig, AttenuatorStatus expected, double, QString *why) {
             if (!Near(rig.backend().getTransmittanceRangeMin(), 0.5, 1e-6)) {
                 return Fail(why, "minimum not stored");
             }
             // A failed read counts as 0, which is below any new minimum: the beam is raised either way. A late
             // reply lands in the next exchange on the line, the move's or a status poll of the monitor's
             // that came between; the move then takes two lines or none.
             if (expected == SerialClosed) {
                 return StatusIs(rig, SerialClosed, why);
             }
             const QString shown = rig.backend().getMotorStatusDescription();
             if (shown != Text(Ok) && !(rig.repliesQueued && shown == Text(SerialUndefinedError))) {
                 return Fail(why, "status \"" + shown + "\" after the move");
             }
             const double beam = rig.backend().getTransmittance();
             return Near(beam, 0.5, 0.001) || Fail(why, QString("transmittance %1, want 0.5").arg(beam));
         }},
        {"EmergencyStop", Exchange::Move, kLimit, [](DrillRig &rig) { rig.backend().ApplyTransmittance(0.5f); },
         [](DrillRig &rig) { return rig.backend().EmergencyStop(), 0.0; }, StopShows},
        {"EmergencyStop during a routine", Exchange::Command, kLimit,
         [](DrillRig &rig) { rig.backend().StartMotorOptimization(); },
         [](DrillRig &rig) { return rig.backend().EmergencyStop(), 0.0; }, StopShows},
        {"StartMotorOptimization", Exchange::Maintenance, kLimit, nothing,
         [](DrillRig &rig) { return rig.backend().StartMotorOptimization(), 0.0; }, RoutineShows},
        {"StartMotorCleaningMechanics", Exchange::Maintenance, kLimit, nothing,
         [](DrillRig &rig) { return rig.backend().StartMotorCleaningMechanics(), 0.0; }, RoutineShows},
        {"MechanicalCalibration", Exchange::Move, kLimit, nothing,
         [](DrillRig &rig) { return rig.backend().MechanicalCalibration(), 0.0; }, RoutineShows},
        {"ConnectMotorViaSerial", Exchange::Handshake, kHandshake, Disconnected,
         [](DrillRig &rig) {
             rig.backend().UpdateVisibleSerialPortNames();
             rig.backend().ConnectMotorViaSerial(1);
             return UntilIdle(rig);
         },
         ConnectionShows},
        {"Init", Exchange::Handshake, kHandshake, Disconnected,
         [](DrillRig &rig) {
             rig.backend().Init();
             return UntilIdle(rig);
         },
         ConnectionShows},
        {"DisconnectMotor", Exchange::Command, kLimit, nothing,
         [](DrillRig &rig) { return rig.backend().DisconnectMotor(), 0.0; },
         [](DrillRig &rig, AttenuatorStatus, double, QString *why) {
             // The release's results are not used: whatever the stop got, the port is closed.
             return LinkIs(rig, false, 2000, why);
         }},
    };
    return commands;
}

namespace {

PairResult RunPairOnce(DrillRig &rig, const DrillCommand &command, const DrillFault *fault) {
    PairResult result;
    command.prepare(rig);
    const FaultEffect effect = fault ? fault->effect : FaultEffect::None;
    Simulator &simulator = rig.simulator();
    QElapsedTimer armed;
    if (fault && fault->effect == FaultEffect::HangUp) {
        simulator.control("hangup next");
    } else if (fault) {
        simulator.control("once on");
        simulator.control(fault->control);
    }
    armed.start();
    QElapsedTimer elapsed;
    elapsed.start();
    const double observed = command.run(rig);
    result.ms = elapsed.elapsed();
    const int mustTake = std::max(command.limitMs, fault ? fault->holdsMs : 0);
    result.timely = timing::WithinBound(result.ms, mustTake + kDrillSlackMs);

    simulator.control("clear");
    if (effect == FaultEffect::HangUp) {
        simulator.control("reopen");
    }
    if (fault && fault->settleMs > 0) {
        WaitUntil([&] { return armed.elapsed() >= fault->settleMs; }, fault->settleMs + 1000);
    }
    // The fault is over once every reply it held back is on the line; the next exchange's purge then
    // takes what nobody read. A held reply goes out a little after the settling time (its request had to
    // cross the line first), and on a loaded machine later still: it would land in the checks below.
    WaitUntil([&] { return simulator.control("get unsent") == "ok 0"; }, 10000);
    const AttenuatorStatus expected = ExpectedStatus(command.first, effect);
    rig.repliesQueued = fault && fault->holdsMs > command.limitMs;
    rig.effect = effect;
    QString why;
    result.correct = command.check(rig, expected, observed, &why);
    result.detail = why;
    QString notRecovered;
    result.recovered = rig.restore(&notRecovered, effect == FaultEffect::HangUp);
    if (!result.recovered) {
        result.detail += (result.detail.isEmpty() ? "" : "; ") + notRecovered;
    }
    if (!result.timely) {
        result.detail += QString("%1%2 ms").arg(result.detail.isEmpty() ? "" : "; ").arg(result.ms);
    }
    return result;
}

} // namespace

PairResult RunPair(DrillRig &rig, const DrillCommand &command, const DrillFault *fault) {
    PairResult result = RunPairOnce(rig, command, fault);
    // The handshake has 100 ms. A simulator kept off the processor by a loaded machine can miss it on
    // one attempt; a fault the Backend mishandles fails the second attempt as well.
    const bool handshakeShouldPass = command.first == Exchange::Handshake &&
                                     ExpectedStatus(command.first, fault ? fault->effect : FaultEffect::None) == Ok;
    // The same holds for the time a command takes: on a loaded machine the exchanges after a late reply can
    // run a little past the bound once, where a command that really overruns it does so every time.
    const bool missedHandshake = handshakeShouldPass && !(result.correct && result.timely);
    const bool onlyLate = result.correct && !result.timely;
    if (result.recovered && (missedHandshake || onlyLate)) {
        const long long firstMs = result.ms;
        result = RunPairOnce(rig, command, fault);
        result.retried = true;
        result.firstMs = firstMs;
    }
    return result;
}
