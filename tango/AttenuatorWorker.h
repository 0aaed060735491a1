// One attenuator driven from one thread of its own: it polls the device (and its power meter), runs
// moves, closed-loop power sets, the hold and maintenance routines in the background, reconnects a lost
// port, and lets Stop jump every queue. Nothing here knows Tango, so that the state machine is tested on
// its own (and under the sanitizers).
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "calibration/Bench.h"
#include "frontend/PortProfile.h"
#include "optivane/optivane.h"
#include "powerloop/PowerLoop.h"

namespace optivane_tango {

// What the attenuator can do now, in the words of Tango's device states.
enum class State {
    Init,    // first connection not tried yet
    On,      // connected and idle: accepts every command
    Moving,  // a move or Home was accepted and the device has not answered it yet
    Disable, // a maintenance routine runs (the device answers Busy); Stop ends it
    Fault,   // the device reports an error status, or the link is down (retried by itself)
    Running, // a hold keeps the power at its set-point; Release or Stop ends it
    Alarm,   // a hold that cannot keep it: frozen (beam blocked, meter failing), or at its ceiling or floor
};

struct Settings {
    std::string port;          // COMn or a device path
    double offsetDegree = 0.0; // angle of zero transmittance
    double spanDegree = 45.0;  // angle span from zero to full transmittance
    double rangeMin = 0.0;     // permitted transmittance, inclusive
    double rangeMax = 1.0;
    int timeoutMs = 3500;   // time limit of every exchange with the device
    int pollPeriodMs = 250; // status poll while connected
    int reconnectPeriodMs = 1000;
    // The closed loop with the power meter.
    double powerTolerance = 0.01; // relative
    int maxMoves = 6;             // moves of a closed-loop set, the first one included
    int holdIntervalMs = 1000;    // between the readings of a hold
};

// The port's curve and permitted range as the power loop takes them.
frontend::PortProfile Profile(const Settings &settings);

// Why the settings cannot drive a device, or empty when they can. The curve's offset and span are
// judged by the library itself.
std::string CheckSettings(const Settings &settings);

struct Readings {
    State state = State::Init;
    std::string status;                      // one line for the operator: what the device is doing, or why FAULT
    int deviceStatus = KORVAN::SerialClosed; // the last result of the device, AttenuatorStatus or device byte
    bool positionValid = false;              // the three below were read and answered Ok
    double transmittance = 0.0;
    double angle = 0.0;
    int steps = 0;
    bool identityValid = false; // the three below were read at connection
    std::string serialNumber;
    std::string yearOfManufacture;
    std::string mechanicalOffset;
    bool powerValid = false; // the last reading of the power meter, or why there is none
    double powerW = 0.0;
    std::string powerError;
    double setpointW = 0.0; // the last power set-point (a set or a hold); 0 before the first

    bool operator==(const Readings &other) const;
    bool operator!=(const Readings &other) const { return !(*this == other); }
};

// A command that is not accepted in the present state or with this value; nothing reached the device.
class Refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AttenuatorWorker {
public:
    // Called on the worker's thread with the new readings each time they changed; must not call back.
    using Listener = std::function<void(const Readings &)>;
    enum class Quantity { Transmittance, Angle, Steps, Power };

    // Starts the thread, which connects at once. meter gives the power meter's readings (empty: no
    // meter); it is called on the worker's thread only. Throws std::invalid_argument for settings that
    // CheckSettings rejects.
    AttenuatorWorker(Settings settings, Listener listener, calibration::PowerSource meter = {});
    // Ends the thread after the exchange on the line and closes the port; the motor is left as it is.
    ~AttenuatorWorker();
    AttenuatorWorker(const AttenuatorWorker &) = delete;
    AttenuatorWorker &operator=(const AttenuatorWorker &) = delete;

    const Settings &settings() const { return settings_; }
    Readings readings() const;

    // Each returns at once with the command accepted (the state has changed already) or throws
    // Refused: outside ON, outside the permitted range, or a value the library would refuse.
    void moveToTransmittance(double transmittance);
    void moveToAngle(double degrees);
    void moveToSteps(int steps);
    void home();
    void startOptimization();
    void startCleaning();
    // The closed-loop set of a power in watts on the plan's curve and window: MOVING until it ends, then
    // ON with the power reached, or the reason it was not, in the status. Also refused without a meter
    // and for a set-point that is not a positive number.
    void setPower(double watts, powerloop::Plan plan);
    // A closed-loop set, then the hold at that power: RUNNING, or ALARM while the hold cannot keep it,
    // until Release, Stop, a lost link or a device error ends it. Refused as setPower is.
    void hold(double watts, powerloop::Plan plan);
    // Ends a hold, leaving the attenuator where it is; nothing to do without one.
    void release();
    // Accepted in every state: ends a hold, drops an accepted command that has not started, and
    // reaches the device right after the exchange on the line.
    void stop();
    // Closes the port and connects again at once.
    void reconnect();

    // A fresh read of one quantity when the device is idle (ON); in any other state, or when the
    // answer does not come within waitMs, the readings as they stand. Power is read from the meter.
    Readings read(Quantity quantity, int waitMs);

private:
    enum class JobKind { Transmittance, Angle, Steps, Home, Optimization, Cleaning, Power, Hold };
    struct Job {
        Job(JobKind kind, double value, std::shared_ptr<const powerloop::Plan> plan = {})
            : kind(kind), value(value), plan(std::move(plan)) {}
        JobKind kind;
        double value;
        std::shared_ptr<const powerloop::Plan> plan; // Power and Hold
    };
    // A hold under way: its first set is its job, then the core decides at each reading.
    struct HoldRun {
        double setpointW = 0.0;
        std::shared_ptr<const powerloop::Plan> plan;
        std::unique_ptr<powerloop::HoldCore> core; // only the worker's thread touches it
        std::chrono::steady_clock::time_point nextReading;
        double backlashDeg = 0.5;
    };
    struct ReadRequest {
        Quantity quantity;
        bool done = false;
    };

    void accept(Job job);
    void run();
    void publish(std::unique_lock<std::mutex> &lock);
    void connect();
    int runJob(const Job &job);
    int runPowerJob(const Job &job);
    void holdStep();
    double readMeter();
    std::chrono::steady_clock::time_point pollMeter(); // when to read the meter next
    void endHold(const std::string &why);
    void showHold();
    bool interrupted() const;
    void poll(bool wholePosition);
    void serveReads(std::unique_lock<std::mutex> &lock);
    void sendStop();
    void linkLost(int status);
    void settle(int status);

    const Settings settings_;
    const Listener listener_;
    const calibration::PowerSource meter_;

    // Only the worker's thread talks to the device.
    KORVAN::Optivane device_;
    calibration::OptivaneMotor motor_; // the power loop's moves, on device_
    // Never connected: its argument checks answer without any I/O, so a value the library would
    // refuse is refused before the command is accepted. Used under mutex_.
    KORVAN::Optivane probe_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable readsDone_;
    Readings readings_;
    Readings published_;
    bool connected_ = false;
    bool maintenance_ = false; // a routine was started and the device has not been seen idle since
    std::optional<Job> job_;
    std::optional<HoldRun> hold_; // engaged and reset by the worker's thread only
    std::string note_;            // the outcome of the last power set or hold, after "Ready on PORT"
    bool stopRequested_ = false;
    bool releaseRequested_ = false;
    bool reconnectRequested_ = false;
    bool quit_ = false;
    std::vector<std::shared_ptr<ReadRequest>> reads_;
    std::thread thread_;
};

const char *StateName(State state);

} // namespace optivane_tango
