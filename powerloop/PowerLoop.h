// Power set-points for every front end (the optivane command, the Python package, the Tango server): the
// angles a loop may use, the measured curve of a calibration, the closed-loop set with a power meter, and
// the hold that keeps a power against the laser's drift. The rules that keep the beam from opening by
// surprise live here and nowhere else.
//
// Angles are the motor's degrees. The loop works on the rising branch of the curve, from the angle of
// least transmittance up to full: a higher angle passes more power. Every final approach of a target comes
// from a lower angle, so that the motor's backlash is always taken up the same way and the power never
// overshoots upward on the way.
#pragma once

#include <atomic>
#include <chrono>
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
#include "calibration/Curve.h"
#include "calibration/Records.h"
#include "frontend/PortProfile.h"

namespace powerloop {

// A request the loop cannot take as given (a set-point or a transmittance out of reach, a bad option);
// what() says why and what is reachable. Nothing has moved.
struct Refused : std::domain_error {
    using std::domain_error::domain_error;
};

// The angles a loop may turn to: the port's permitted transmittance range (luxora's minimum and maximum)
// and an explicit maximum transmittance, both mapped to angles on the port's own nominal curve
// T = sin²(90°·(θ − offset)/span). Nothing in this library ever moves outside [lowDeg, highDeg].
struct Window {
    double lowDeg = 0.0;
    double highDeg = 45.0;
    double lowTransmittance = 0.0;  // nominal transmittance at lowDeg
    double highTransmittance = 1.0; // at highDeg: the ceiling
};

// The nominal transmittance at an angle on the port's curve, and its inverse on [offset, offset + span].
double NominalTransmittanceAt(const frontend::PortProfile &profile, double angleDeg);
double NominalAngleFor(const frontend::PortProfile &profile, double transmittance);

// The window of the port's range, lowered by maxTransmittance (a fraction 0-1) when one is given. Throws
// Refused for a maximum that is not a number in (0, 1] or that lies below the port's minimum.
Window PermittedWindow(const frontend::PortProfile &profile, std::optional<double> maxTransmittance = std::nullopt);

// The fraction of the full beam against angle: the calibration's measured curve (the fraction of the
// largest power the calibration saw), or the port's nominal curve when there is no calibration.
class Curve {
public:
    static Curve Nominal(const frontend::PortProfile &profile);
    static Curve Measured(const calibration::CurveFit &fit);

    bool measured() const { return measured_; }
    double offsetDeg() const; // angle of the least fraction: the start of the rising branch
    double spanDeg() const;
    // The calibration's full beam in watts (its Pmax); 0 for the nominal curve.
    double fullPowerW() const;
    double FractionAt(double angleDeg) const;
    // The least fraction (the extinction); 0 for the nominal curve.
    double MinFraction() const;
    // The angle on the rising branch where the curve passes fraction; fractions beyond [MinFraction, 1]
    // give the branch's ends.
    double AngleForFraction(double fraction) const;

private:
    bool measured_ = false;
    frontend::PortProfile profile_;
    calibration::CurveFit fit_;
};

// Everything a loop needs to know before it touches anything: the curve and the window.
struct Plan {
    Curve curve = Curve::Nominal({});
    Window window;
    // The angles where the curve's rising branch and the window overlap: the loop uses these only.
    double LowDeg() const;
    double HighDeg() const;
};

// The plan of a port: its profile, the calibration entry when there is one (null otherwise), and the
// explicit maximum. Throws Refused as PermittedWindow does, and when the window and the measured curve's
// rising branch do not overlap.
Plan MakePlan(const frontend::PortProfile &profile, const calibration::Entry *entry,
              std::optional<double> maxTransmittance = std::nullopt);

// Open loop on the measured curve (a plan with a calibration).
// The reachable fractions: the curve's at LowDeg and at HighDeg.
struct Span {
    double lowFraction = 0.0;
    double highFraction = 1.0;
};
Span ReachableSpan(const Plan &plan);
// "0.1 % (30.0 dB) to 95 % (0.22 dB)": the span as messages give it.
std::string DescribeSpan(const Span &span);
// The angle that passes the measured fraction. Throws Refused, with the reachable span in the message,
// for a fraction below the extinction, above the calibration's maximum or outside the window, unless clamp
// (then the nearer end of the reachable span); also without a calibration.
double AngleForMeasuredFraction(const Plan &plan, double fraction, bool clamp);
// The measured fraction at an angle (the curve's value; angles outside the window are read as they are).
double MeasuredFractionAt(const Plan &plan, double angleDeg);

// Moves to angleDeg, from below: when the motor stands above it, first to angleDeg − backlashDeg (kept
// inside the window), then up. Throws Refused, before anything moves, for an angle outside the window, and
// MotorError from the motor.
void ApproachFromBelow(calibration::Motor &motor, const Plan &plan, double angleDeg, double backlashDeg);

// What the loop has learnt about the beam: P(θ) = fullPowerW · curve.FractionAt(θ − shiftDeg). shiftDeg
// is where the true curve lies against the one the plan holds (an offset the software did not know).
struct BeamModel {
    double fullPowerW = 0.0; // 0 while unknown
    double shiftDeg = 0.0;
};

// Closed loop: set a power with the meter in the loop.
struct SetOptions {
    double tolerance = 0.01;    // relative; the loop uses the larger of this and twice the meter's noise
    int maxMoves = 6;           // corrections, the first move included
    double settleSeconds = 0.2; // after each move, before the readings
    int average = 3;            // readings averaged per measurement
    double backlashDeg = 0.5;   // how far below a target a downward move goes first
};

enum class Reason {
    None,              // reached
    LaserTooWeak,      // the ceiling of the window passes less than the set-point
    BelowFloor,        // even the window's lowest angle passes more than the set-point
    MeterNotAnswering, // no reading (no reply, garbage, a number that is no power)
    NotFollowing,      // the readings did not follow the moves: the meter is not on this beam
    MovesExhausted,    // still outside the tolerance after the moves allowed
    Cancelled,         // asked to stop
};
// "laser-too-weak", "below-floor", "meter-not-answering", "not-following", "moves-exhausted", "cancelled".
const char *ReasonName(Reason reason);

struct SetResult {
    bool reached = false;
    double setpointW = 0.0;
    double powerW = 0.0;        // the last averaged reading; NaN when there was none
    double relativeError = 0.0; // (powerW − setpointW) / setpointW
    double tolerance = 0.0;     // the tolerance the loop used
    double noise = 0.0;         // relative standard deviation of the last readings
    int moves = 0;
    double angleDeg = 0.0; // where the motor stands
    Reason reason = Reason::None;
    std::string message; // when not reached: the reason for the user, with the figures
    BeamModel model;     // what the loop learnt, for a hold that follows
};

// Moves until the averaged reading is within the tolerance of setpointW, or the moves run out. The first
// move comes from the calibration (its full beam, corrected by a first reading), else from the nominal
// curve and the first reading's estimate of the full beam; then each correction fits the last readings.
// Every move stays inside the plan's window and ends from below. cancelled() is asked between exchanges.
// Throws Refused for a set-point that is not a positive number or bad options, MotorError from the motor;
// the meter's failures end it with MeterNotAnswering. The motor stays where the loop ended.
SetResult SetPower(calibration::Motor &motor, const calibration::PowerSource &meter, const Plan &plan, double setpointW,
                   const SetOptions &options, const std::function<bool()> &cancelled = {});

// The hold: the decisions, step by step, without I/O.
enum class HoldState {
    Holding,   // within or coming back to the tolerance
    Frozen,    // no moves: the beam vanished, or the meter stopped answering; see the message
    AtCeiling, // the set-point needs more than the window allows: held at its ceiling
    AtFloor,   // the set-point needs less than the window's lowest angle passes: held there
    Stopped,   // ended; the attenuator stays where it is
};
// "holding", "frozen", "at-ceiling", "at-floor", "stopped".
const char *StateName(HoldState state);

struct HoldOptions {
    double tolerance = 0.01;      // relative
    double intervalSeconds = 1.0; // between readings
    double deadBand = 0.5;        // no correction while the error is within this share of the tolerance
    double maxStepRatio = 1.25;   // one correction raises the power by at most this factor
    double blockedFraction = 0.2; // a reading below this share of the set-point, at once, freezes
    double resumeFraction = 0.8;  // a frozen hold resumes at this share of the power before the freeze
    int noiseReadings = 10;       // readings the meter's noise is taken over
    double backlashDeg = 0.5;
    // The runner reads the motor's angle before each reading: a lost line or a move by another program ends
    // the hold at once, even while no correction is due.
    bool watchMotor = true;
};

// One decision: nothing, or a move (from below); and when the state changed or something is to be said,
// the message, once.
struct Step {
    bool move = false;
    double angleDeg = 0.0; // the target of the move
    HoldState state = HoldState::Holding;
    bool stateChanged = false;
    std::string message; // empty when there is nothing new to say
};

class HoldCore {
public:
    // The motor stands at angleDeg; model is what a set before it learnt (fullPowerW 0: estimate from the
    // first reading). Throws Refused for a set-point that is not a positive number or bad options.
    HoldCore(const Plan &plan, double setpointW, const HoldOptions &options, double angleDeg,
             const BeamModel &model = {});

    // A reading in watts. A value that is not a finite, non-negative number is taken as a failed reading.
    Step OnReading(double watts);
    // The meter gave no reading (no reply, garbage); reason says what it said.
    Step OnFailedReading(const std::string &reason);
    // The move of the last Step was made (or, after a motor error, the angle the motor reports).
    void Moved(double angleDeg);
    // Ends the hold; the attenuator stays where it is.
    Step Stop(const std::string &reason);

    HoldState state() const { return state_; }
    const std::string &message() const { return message_; }
    double angleDeg() const { return angleDeg_; }
    double setpointW() const { return setpointW_; }
    // The larger of the given tolerance and twice the meter's relative noise over the last readings.
    double tolerance() const;
    const BeamModel &model() const { return model_; }

private:
    Step Enter(HoldState state, const std::string &message);
    Step Decide(double watts);

    Plan plan_;
    double setpointW_;
    HoldOptions options_;
    double angleDeg_;
    BeamModel model_;
    HoldState state_ = HoldState::Holding;
    std::string message_;
    std::optional<double> lastGood_; // the last reading taken as one of the beam
    double beforeFreezeW_ = 0.0;     // the reading before a freeze: what a returning beam gives
    std::vector<double> recent_;     // the last readings at this angle, for the noise
};

// One reading of a running hold, as the front ends show and log it.
struct HoldReading {
    std::chrono::system_clock::time_point time;
    bool valid = false;
    double powerW = 0.0;        // valid readings only
    double relativeError = 0.0; // (powerW − set-point) / set-point
    double angleDeg = 0.0;
    HoldState state = HoldState::Holding;
    std::string error; // what the meter said when not valid
};

struct Correction {
    std::chrono::system_clock::time_point time;
    double fromDeg = 0.0;
    double toDeg = 0.0;
    double powerW = 0.0; // the reading that asked for it
    double relativeError = 0.0;
};

// Called from the runner's thread, one at a time.
struct HoldCallbacks {
    std::function<void(const SetResult &)> set; // after the first set, when the runner makes one
    std::function<void(const HoldReading &)> reading;
    std::function<void(const Correction &)> correction;
    std::function<void(HoldState, const std::string &)> state; // each change, and each new message
};

// The hold in a thread of its own: optionally a closed-loop set first, then a reading every interval and
// the core's decisions. Stop() ends it at once (the wait between readings is cut short; an exchange under
// way is finished, and nothing moves after it). A motor error (a lost line) stops it too, with the reason.
class HoldRunner {
public:
    // motor and meter must outlive the runner; the callbacks run on its thread.
    HoldRunner(calibration::Motor &motor, calibration::PowerSource meter, Plan plan, double setpointW,
               HoldOptions options, HoldCallbacks callbacks = {}, std::optional<SetOptions> setFirst = SetOptions{});
    ~HoldRunner(); // stops and joins
    HoldRunner(const HoldRunner &) = delete;
    HoldRunner &operator=(const HoldRunner &) = delete;

    void Start();
    // Asks the hold to end; returns at once. reason is the Stopped state's message.
    void Stop(const std::string &reason = "stopped");
    // Returns when the thread has ended (after Stop, or a motor error).
    void Wait();
    bool running() const;

    HoldState state() const;
    std::string message() const;
    std::vector<HoldReading> readings() const; // every reading so far
    std::optional<SetResult> setResult() const;

private:
    void Run();
    bool Sleep(std::chrono::steady_clock::duration duration); // false when stopped
    void Publish(const Step &step);

    calibration::Motor &motor_;
    calibration::PowerSource meter_;
    Plan plan_;
    double setpointW_;
    HoldOptions options_;
    HoldCallbacks callbacks_;
    std::optional<SetOptions> setFirst_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::string stopReason_;
    HoldState state_ = HoldState::Holding;
    std::string message_;
    std::vector<HoldReading> readings_;
    std::optional<SetResult> setResult_;
    std::thread::id runnerId_; // set once, by the runner's thread as it starts
    std::mutex joinMutex_;     // guards thread_: one Wait joins, the others wait for it
    std::thread thread_;
};

} // namespace powerloop
