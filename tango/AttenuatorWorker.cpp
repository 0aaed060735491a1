// One attenuator driven from one thread of its own; see AttenuatorWorker.h.
#include "AttenuatorWorker.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <sstream>

namespace optivane_tango {

namespace {

using Clock = std::chrono::steady_clock;

// The library reports a reply without a readable number by an exception; here it counts as the
// unreadable reply it is, so that no command or poll ends the thread.
template <typename Call> int Guarded(Call &&call) noexcept {
    try {
        return call();
    } catch (const std::exception &) {
    }
    return KORVAN::SerialUndefinedError;
}

bool LinkDown(int status) {
    return status == KORVAN::SerialClosed || status == KORVAN::SerialTimeout;
}

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string DeviceText(int status) {
    return std::string(KORVAN::StatusText(status)) + " (" + std::to_string(status) + ")";
}

// "1.2 mW", "350 µW": a power as a lab user writes it, and as the power loop's messages give it.
std::string Watts(double watts) {
    static const struct {
        double scale;
        const char *unit;
    } units[] = {{1.0, "W"}, {1e-3, "mW"}, {1e-6, "µW"}, {1e-9, "nW"}};
    for (const auto &u : units) {
        if (std::fabs(watts) >= u.scale || u.scale == 1e-9) {
            char text[48];
            std::snprintf(text, sizeof text, "%.5g %s", watts / u.scale, u.unit);
            return text;
        }
    }
    return Number(watts) + " W";
}

std::string Percent(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f %%", 100.0 * fraction);
    return text;
}

std::string SetOutcome(const powerloop::SetResult &result, const powerloop::Plan &plan) {
    const std::string moves = std::to_string(result.moves) + (result.moves == 1 ? " move" : " moves") +
                              (plan.curve.measured() ? " from the calibration" : " without a calibration");
    if (result.reached)
        return Watts(result.setpointW) + " reached: " + Watts(result.powerW) + " (" + Percent(result.relativeError) +
               ") in " + moves;
    return Watts(result.setpointW) + " not reached (" + powerloop::ReasonName(result.reason) + ") after " + moves +
           ": " + result.message;
}

} // namespace

const char *StateName(State state) {
    switch (state) {
    case State::Init:
        return "INIT";
    case State::On:
        return "ON";
    case State::Moving:
        return "MOVING";
    case State::Disable:
        return "DISABLE";
    case State::Fault:
        return "FAULT";
    case State::Running:
        return "RUNNING";
    case State::Alarm:
        return "ALARM";
    }
    return "UNKNOWN";
}

frontend::PortProfile Profile(const Settings &s) {
    frontend::PortProfile profile;
    profile.offsetDeg = s.offsetDegree;
    profile.spanDeg = s.spanDegree;
    profile.rangeMin = s.rangeMin;
    profile.rangeMax = s.rangeMax;
    return profile;
}

std::string CheckSettings(const Settings &s) {
    if (s.port.empty())
        return "Port is not set";
    if (!std::isfinite(s.offsetDegree) || !std::isfinite(s.spanDegree) || s.spanDegree == 0.0)
        return "OffsetDegree and SpanDegree must be numbers, SpanDegree not 0";
    // A closed handle answers its argument checks without any I/O: the library judges the curve.
    KORVAN::Optivane closed;
    if (closed.SetTransmittance(0.5f, s.offsetDegree, s.spanDegree, 0) == KORVAN::ParameterOutOfRange)
        return "OffsetDegree " + Number(s.offsetDegree) + " and SpanDegree " + Number(s.spanDegree) +
               " place the curve beyond what the attenuator accepts";
    if (!(0.0 <= s.rangeMin && s.rangeMin < s.rangeMax && s.rangeMax <= 1.0))
        return "RangeMin and RangeMax must satisfy 0 <= RangeMin < RangeMax <= 1";
    if (s.timeoutMs <= 0 || s.pollPeriodMs <= 0 || s.reconnectPeriodMs <= 0)
        return "TimeoutMs and PollPeriodMs must be positive";
    if (!(s.powerTolerance > 0.0 && s.powerTolerance < 1.0))
        return "PowerTolerance must be a fraction above 0 and below 1 (0.01 is 1 %)";
    if (s.maxMoves < 1 || s.maxMoves > 100)
        return "MaxMoves must be 1 to 100";
    if (s.holdIntervalMs < 50)
        return "HoldIntervalMs must be 50 or more";
    return {};
}

bool Readings::operator==(const Readings &o) const {
    return state == o.state && status == o.status && deviceStatus == o.deviceStatus &&
           positionValid == o.positionValid && transmittance == o.transmittance && angle == o.angle &&
           steps == o.steps && identityValid == o.identityValid && serialNumber == o.serialNumber &&
           yearOfManufacture == o.yearOfManufacture && mechanicalOffset == o.mechanicalOffset &&
           powerValid == o.powerValid && powerW == o.powerW && powerError == o.powerError && setpointW == o.setpointW;
}

AttenuatorWorker::AttenuatorWorker(Settings settings, Listener listener, calibration::PowerSource meter)
    : settings_(std::move(settings)), listener_(std::move(listener)), meter_(std::move(meter)),
      motor_(device_, settings_.port, settings_.timeoutMs) {
    const std::string problem = CheckSettings(settings_);
    if (!problem.empty())
        throw std::invalid_argument(problem);
    readings_.status = "Connecting to " + settings_.port;
    readings_.powerError = meter_ ? "No reading yet" : "No power meter";
    published_ = readings_;
    thread_ = std::thread([this] { run(); });
}

AttenuatorWorker::~AttenuatorWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    Guarded([this] {
        device_.Disconnect();
        return 0;
    });
}

Readings AttenuatorWorker::readings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readings_;
}

void AttenuatorWorker::moveToTransmittance(double transmittance) {
    if (!std::isfinite(transmittance))
        throw Refused("Transmittance must be a number");
    if (transmittance < settings_.rangeMin || transmittance > settings_.rangeMax)
        throw Refused("Transmittance " + Number(transmittance) + " is outside the permitted range " +
                      Number(settings_.rangeMin) + " to " + Number(settings_.rangeMax) + "; nothing was sent");
    accept({JobKind::Transmittance, transmittance});
}

void AttenuatorWorker::moveToAngle(double degrees) {
    if (!std::isfinite(degrees))
        throw Refused("Angle must be a number");
    accept({JobKind::Angle, degrees});
}

void AttenuatorWorker::moveToSteps(int steps) {
    accept({JobKind::Steps, static_cast<double>(steps)});
}

void AttenuatorWorker::home() {
    accept({JobKind::Home, 0.0});
}

void AttenuatorWorker::startOptimization() {
    accept({JobKind::Optimization, 0.0});
}

void AttenuatorWorker::startCleaning() {
    accept({JobKind::Cleaning, 0.0});
}

void AttenuatorWorker::setPower(double watts, powerloop::Plan plan) {
    if (!meter_)
        throw Refused("No power meter: a power set-point needs the property Meter; nothing was sent");
    if (!(std::isfinite(watts) && watts > 0.0))
        throw Refused("A power set-point must be a number of watts above 0; nothing was sent");
    accept({JobKind::Power, watts, std::make_shared<const powerloop::Plan>(std::move(plan))});
}

void AttenuatorWorker::hold(double watts, powerloop::Plan plan) {
    if (!meter_)
        throw Refused("No power meter: a hold needs the property Meter; nothing was sent");
    if (!(std::isfinite(watts) && watts > 0.0))
        throw Refused("A hold's set-point must be a number of watts above 0; nothing was sent");
    accept({JobKind::Hold, watts, std::make_shared<const powerloop::Plan>(std::move(plan))});
}

void AttenuatorWorker::release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (readings_.state != State::Running && readings_.state != State::Alarm)
            return;
        releaseRequested_ = true;
    }
    wake_.notify_all();
}

void AttenuatorWorker::accept(Job job) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (readings_.state) {
    case State::On:
        break;
    case State::Moving:
        throw Refused("Refused while MOVING: the previous move has not ended; Stop ends it");
    case State::Disable:
        throw Refused("Refused while DISABLE: a maintenance routine runs; Stop ends it");
    case State::Running:
    case State::Alarm:
        throw Refused("Refused while " + std::string(StateName(readings_.state)) +
                      ": a hold keeps the power; Release or Stop ends it");
    case State::Init:
    case State::Fault:
        throw Refused("Refused while " + std::string(StateName(readings_.state)) + ": " + readings_.status);
    }

    // The library's own argument checks, on a handle without a port: what it would refuse is refused
    // here, before the state changes, with the same narrowing to float as the real call.
    int checked = KORVAN::Ok;
    std::string what;
    switch (job.kind) {
    case JobKind::Transmittance:
        checked =
            probe_.SetTransmittance(static_cast<float>(job.value), settings_.offsetDegree, settings_.spanDegree, 0);
        what = "Transmittance " + Number(job.value);
        break;
    case JobKind::Angle:
        checked = probe_.SetMotorDegree(static_cast<float>(job.value), 0);
        what = "Angle " + Number(job.value);
        break;
    case JobKind::Steps:
        checked = probe_.SetMotorSteps(static_cast<int>(job.value), 0);
        what = "Steps " + Number(job.value);
        break;
    case JobKind::Home:
    case JobKind::Optimization:
    case JobKind::Cleaning:
    case JobKind::Power:
    case JobKind::Hold:
        break;
    }
    if (checked == KORVAN::ParameterOutOfRange)
        throw Refused(what + " is outside what the attenuator accepts; nothing was sent");

    job_ = job;
    note_.clear();
    const bool routine = job.kind == JobKind::Optimization || job.kind == JobKind::Cleaning;
    readings_.state = routine ? State::Disable : job.kind == JobKind::Hold ? State::Running : State::Moving;
    readings_.status = routine ? "Starting a maintenance routine" : "Moving";
    if (job.kind == JobKind::Power || job.kind == JobKind::Hold) {
        readings_.setpointW = job.value;
        readings_.status = (job.kind == JobKind::Hold ? "Hold at " : "Setting the power to ") + Watts(job.value) +
                           (job.kind == JobKind::Hold ? ": first set with the meter" : " with the meter");
    }
    wake_.notify_all();
}

void AttenuatorWorker::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
}

void AttenuatorWorker::reconnect() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reconnectRequested_ = true;
    }
    wake_.notify_all();
}

Readings AttenuatorWorker::read(Quantity quantity, int waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (readings_.state != State::On || quit_)
        return readings_;
    auto request = std::make_shared<ReadRequest>();
    request->quantity = quantity;
    reads_.push_back(request);
    wake_.notify_all();
    readsDone_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return request->done; });
    if (!request->done)
        reads_.erase(std::remove(reads_.begin(), reads_.end(), request), reads_.end());
    return readings_;
}

void AttenuatorWorker::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    Clock::time_point nextPoll = Clock::now();
    Clock::time_point nextAttempt = Clock::now();
    Clock::time_point nextMeter = Clock::now();
    // The whole position (transmittance and angle too) after anything that may have moved the motor;
    // otherwise the step count alone, and the rest only when it changed.
    bool wholePosition = true;
    for (;;) {
        publish(lock);
        if (quit_)
            break;

        if (stopRequested_) {
            stopRequested_ = false;
            releaseRequested_ = false;
            // Stop means no move: an accepted command that has not started yet goes too, and a hold
            // ends before the motor is told to stop.
            job_.reset();
            if (hold_)
                endHold("ended by Stop");
            if (connected_) {
                lock.unlock();
                sendStop();
                lock.lock();
            }
            nextPoll = Clock::now();
            wholePosition = true;
            continue;
        }

        if (releaseRequested_) {
            releaseRequested_ = false;
            if (hold_) {
                endHold("released");
                settle(readings_.deviceStatus);
            }
            continue;
        }

        if (reconnectRequested_) {
            reconnectRequested_ = false;
            job_.reset();
            if (hold_)
                endHold("ended by Reconnect");
            lock.unlock();
            Guarded([this] {
                device_.Disconnect();
                return 0;
            });
            lock.lock();
            connected_ = false;
            maintenance_ = false;
            readings_.state = State::Init;
            readings_.status = "Connecting to " + settings_.port;
            readings_.positionValid = false;
            nextAttempt = Clock::now();
            continue;
        }

        const bool meterDue = meter_ && !hold_ && !job_ && Clock::now() >= nextMeter;
        const Clock::time_point meterWake = meter_ && !hold_ ? nextMeter : Clock::now() + std::chrono::hours(1);
        if (!connected_) {
            if (Clock::now() >= nextAttempt) {
                lock.unlock();
                connect();
                lock.lock();
                nextAttempt = Clock::now() + std::chrono::milliseconds(settings_.reconnectPeriodMs);
                nextPoll = Clock::now();
                wholePosition = true;
                continue;
            }
            if (meterDue) {
                lock.unlock();
                nextMeter = pollMeter();
                lock.lock();
                continue;
            }
            wake_.wait_until(lock, std::min(nextAttempt, meterWake));
            continue;
        }

        if (job_) {
            const Job job = *job_;
            lock.unlock();
            const bool power = job.kind == JobKind::Power || job.kind == JobKind::Hold;
            const int status = power ? runPowerJob(job) : runJob(job);
            lock.lock();
            // Cleared together with the state change, so that a command accepted right after the
            // device answered is never taken for this one.
            job_.reset();
            if (job.kind == JobKind::Optimization || job.kind == JobKind::Cleaning)
                maintenance_ = status == KORVAN::Busy;
            readings_.deviceStatus = status;
            if (!LinkDown(status)) {
                settle(status);
            } else {
                // The poll that follows tells a lost link from a move that outlasted the time limit.
                readings_.state = State::Fault;
                readings_.status = std::string("No answer from the device: ") + KORVAN::StatusText(status);
            }
            nextPoll = Clock::now();
            wholePosition = true;
            continue;
        }

        if (!reads_.empty()) {
            serveReads(lock);
            continue;
        }

        if (hold_ && Clock::now() >= hold_->nextReading) {
            lock.unlock();
            holdStep();
            lock.lock();
            nextPoll = Clock::now();
            wholePosition = true;
            continue;
        }

        if (meterDue) {
            lock.unlock();
            nextMeter = pollMeter();
            lock.lock();
            continue;
        }

        if (Clock::now() >= nextPoll) {
            lock.unlock();
            poll(wholePosition);
            lock.lock();
            wholePosition = false;
            nextPoll = Clock::now() + std::chrono::milliseconds(settings_.pollPeriodMs);
            continue;
        }
        wake_.wait_until(lock, std::min({nextPoll, meterWake, hold_ ? hold_->nextReading : nextPoll}));
    }
}

void AttenuatorWorker::publish(std::unique_lock<std::mutex> &lock) {
    if (readings_ == published_)
        return;
    published_ = readings_;
    const Readings copy = readings_;
    lock.unlock();
    if (listener_)
        listener_(copy);
    lock.lock();
}

void AttenuatorWorker::connect() {
    bool opened = false;
    try {
        opened = device_.Connect(settings_.port);
    } catch (const std::exception &) {
        // The library keeps a port whose setting or handshake threw; a failed attempt leaves none.
        Guarded([this] {
            device_.Disconnect();
            return 0;
        });
    }
    if (!opened) {
        std::lock_guard<std::mutex> lock(mutex_);
        readings_.state = State::Fault;
        readings_.status = "Cannot connect to " + settings_.port +
                           " (no such port, in use by another program, or no attenuator answers); trying again every " +
                           std::to_string(settings_.reconnectPeriodMs) + " ms" +
                           (note_.empty() ? std::string() : "; " + note_);
        readings_.deviceStatus = KORVAN::SerialClosed;
        readings_.positionValid = false;
        return;
    }

    // GetMotorInfo makes two exchanges, each with half of its limit.
    KORVAN::MotorInfo info;
    const int identity = Guarded([&] { return device_.GetMotorInfo(&info, 2 * settings_.timeoutMs); });
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = true;
    maintenance_ = false;
    readings_.identityValid = identity == KORVAN::Ok;
    readings_.serialNumber = readings_.identityValid ? info.serialNumber : std::string();
    readings_.yearOfManufacture = readings_.identityValid ? info.yearOfManufacture : std::string();
    readings_.mechanicalOffset = readings_.identityValid ? info.mechanicalOffset : std::string();
    // The state follows from the first poll, which comes next.
}

int AttenuatorWorker::runJob(const Job &job) {
    const int timeout = settings_.timeoutMs;
    switch (job.kind) {
    case JobKind::Transmittance:
        return Guarded([&] {
            return device_.SetTransmittance(static_cast<float>(job.value), settings_.offsetDegree, settings_.spanDegree,
                                            timeout);
        });
    case JobKind::Angle:
        return Guarded([&] { return device_.SetMotorDegree(static_cast<float>(job.value), timeout); });
    case JobKind::Steps:
        return Guarded([&] { return device_.SetMotorSteps(static_cast<int>(job.value), timeout); });
    case JobKind::Home:
        return Guarded([&] { return device_.MechanicalCalibration(timeout); });
    case JobKind::Optimization:
        return Guarded([&] { return device_.StartOptimization(timeout); });
    case JobKind::Cleaning:
        return Guarded([&] { return device_.StartCleaningMechanics(timeout); });
    case JobKind::Power:
    case JobKind::Hold:
        break; // runPowerJob
    }
    return KORVAN::SerialUndefinedError;
}

bool AttenuatorWorker::interrupted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopRequested_ || releaseRequested_ || reconnectRequested_ || quit_;
}

int AttenuatorWorker::runPowerJob(const Job &job) {
    powerloop::SetOptions options;
    options.tolerance = settings_.powerTolerance;
    options.maxMoves = settings_.maxMoves;
    const calibration::PowerSource source = [this] { return readMeter(); };
    powerloop::SetResult result;
    try {
        result = powerloop::SetPower(motor_, source, *job.plan, job.value, options, [this] { return interrupted(); });
    } catch (const calibration::MotorError &error) {
        std::lock_guard<std::mutex> lock(mutex_);
        note_ = "the power set to " + Watts(job.value) + " ended: " + error.what();
        return error.status;
    } catch (const std::exception &error) {
        // A set-point or option the loop refused: nothing moved.
        std::lock_guard<std::mutex> lock(mutex_);
        note_ = "the power set to " + Watts(job.value) + " was refused: " + error.what();
        return KORVAN::Ok;
    }

    std::lock_guard<std::mutex> lock(mutex_);
    if (result.reason == powerloop::Reason::Cancelled) {
        note_ = job.kind == JobKind::Hold ? "the hold at " + Watts(job.value) + " ended during its first set"
                                          : "the power set to " + Watts(job.value) + " was cancelled";
        return KORVAN::Ok;
    }
    if (job.kind == JobKind::Power) {
        note_ = "power set-point " + SetOutcome(result, *job.plan);
        return KORVAN::Ok;
    }
    // The hold starts where the set left the motor, with what it learnt of the beam; a set that did not
    // reach the set-point leaves the hold to say why, in its own state.
    powerloop::HoldOptions holdOptions;
    holdOptions.tolerance = settings_.powerTolerance;
    holdOptions.intervalSeconds = settings_.holdIntervalMs / 1000.0;
    holdOptions.backlashDeg = options.backlashDeg;
    HoldRun run;
    run.setpointW = job.value;
    run.plan = job.plan;
    run.backlashDeg = holdOptions.backlashDeg;
    try {
        run.core =
            std::make_unique<powerloop::HoldCore>(*job.plan, job.value, holdOptions, result.angleDeg, result.model);
    } catch (const std::exception &error) {
        note_ = "the hold at " + Watts(job.value) + " was refused: " + error.what();
        return KORVAN::Ok;
    }
    // A set that had no reading to go by leaves a hold without one: frozen from the start.
    if (result.reason == powerloop::Reason::MeterNotAnswering)
        run.core->OnFailedReading(readings_.powerError);
    run.nextReading = Clock::now() + std::chrono::milliseconds(settings_.holdIntervalMs);
    hold_ = std::move(run);
    note_ = "first set " + SetOutcome(result, *job.plan);
    return KORVAN::Ok;
}

void AttenuatorWorker::holdStep() {
    // Only this thread engages or resets hold_, so the core is used here without the lock.
    powerloop::HoldCore &core = *hold_->core;
    const powerloop::Plan &plan = *hold_->plan;
    powerloop::Step step;
    try {
        step = core.OnReading(readMeter());
    } catch (const std::exception &error) {
        step = core.OnFailedReading(error.what());
    }

    int status = KORVAN::Ok;
    std::string refused;
    // A Stop or Release that came during the reading wins: nothing moves after it.
    if (step.move && !interrupted()) {
        try {
            powerloop::ApproachFromBelow(motor_, plan, step.angleDeg, hold_->backlashDeg);
            core.Moved(step.angleDeg);
        } catch (const calibration::MotorError &error) {
            status = error.status;
        } catch (const std::exception &error) {
            refused = error.what();
        }
    }

    std::unique_lock<std::mutex> lock(mutex_);
    hold_->nextReading = Clock::now() + std::chrono::milliseconds(settings_.holdIntervalMs);
    if (!refused.empty()) {
        endHold(std::string("ended: its move was refused: ") + refused);
        settle(readings_.deviceStatus);
        return;
    }
    if (LinkDown(status)) {
        lock.unlock();
        linkLost(status);
        return;
    }
    readings_.deviceStatus = status;
    settle(status);
}

void AttenuatorWorker::endHold(const std::string &why) {
    // Called with mutex_ held, on the worker's thread.
    note_ = "the hold at " + Watts(hold_->setpointW) + " " + why + "; the attenuator stays where it is";
    hold_.reset();
}

void AttenuatorWorker::showHold() {
    // Called with mutex_ held, with a hold under way.
    const powerloop::HoldCore &core = *hold_->core;
    const bool holding = core.state() == powerloop::HoldState::Holding;
    readings_.state = holding ? State::Running : State::Alarm;
    readings_.status = holding ? "Holding " + Watts(hold_->setpointW)
                               : "Hold at " + Watts(hold_->setpointW) + " " + powerloop::StateName(core.state());
    if (!core.message().empty())
        readings_.status += ": " + core.message();
    else if (!note_.empty())
        readings_.status += "; " + note_;
}

double AttenuatorWorker::readMeter() {
    double watts = 0.0;
    std::string error;
    try {
        watts = meter_();
        if (!(std::isfinite(watts) && watts >= 0.0))
            error = "the meter's reading " + Number(watts) + " is not a power";
    } catch (const std::exception &e) {
        error = e.what();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    readings_.powerValid = error.empty();
    readings_.powerW = error.empty() ? watts : 0.0;
    readings_.powerError = error;
    publish(lock);
    if (!error.empty())
        throw std::runtime_error(error);
    return watts;
}

std::chrono::steady_clock::time_point AttenuatorWorker::pollMeter() {
    // A meter that failed is tried again at the pace of a lost port, so that its time limit does not
    // slow the device's polls.
    try {
        readMeter();
        return Clock::now() + std::chrono::milliseconds(settings_.pollPeriodMs);
    } catch (const std::exception &) {
        return Clock::now() + std::chrono::milliseconds(std::max(settings_.pollPeriodMs, settings_.reconnectPeriodMs));
    }
}

void AttenuatorWorker::sendStop() {
    const int status = Guarded([this] { return device_.Stop(settings_.timeoutMs); });
    std::lock_guard<std::mutex> lock(mutex_);
    maintenance_ = false;
    readings_.deviceStatus = status;
    // The poll that follows at once says what the device does now.
}

void AttenuatorWorker::poll(bool wholePosition) {
    const int timeout = settings_.timeoutMs;
    const int status = Guarded([&] { return device_.GetCurrentStatus(timeout); });
    if (LinkDown(status))
        return linkLost(status);

    // A device busy with a routine or in error answers position requests with its status; the
    // position is read only from an idle device.
    bool positionValid = false;
    float transmittance = 0.0f;
    float angle = 0.0f;
    int steps = 0;
    bool whole = wholePosition;
    if (status == KORVAN::Ok) {
        const int read = Guarded([&] { return device_.GetMotorSteps(&steps, timeout); });
        if (LinkDown(read))
            return linkLost(read);
        positionValid = read == KORVAN::Ok;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            whole = whole || !readings_.positionValid || readings_.steps != steps;
        }
        if (positionValid && whole) {
            const int t = Guarded([&] {
                return device_.GetTransmittance(&transmittance, settings_.offsetDegree, settings_.spanDegree, timeout);
            });
            const int a = Guarded([&] { return device_.GetMotorDegree(&angle, timeout); });
            if (LinkDown(t) || LinkDown(a))
                return linkLost(LinkDown(t) ? t : a);
            positionValid = t == KORVAN::Ok && a == KORVAN::Ok;
        }
    }

    std::lock_guard<std::mutex> lock(mutex_);
    readings_.deviceStatus = status;
    settle(status);
    if (status == KORVAN::Ok && positionValid) {
        readings_.steps = steps;
        if (whole) {
            readings_.transmittance = transmittance;
            readings_.angle = angle;
        }
    }
    readings_.positionValid = status == KORVAN::Ok && positionValid;
}

void AttenuatorWorker::serveReads(std::unique_lock<std::mutex> &lock) {
    const Quantity quantity = reads_.front()->quantity;
    lock.unlock();
    const int timeout = settings_.timeoutMs;
    float value = 0.0f;
    int steps = 0;
    int status = KORVAN::Ok;
    switch (quantity) {
    case Quantity::Transmittance:
        status = Guarded(
            [&] { return device_.GetTransmittance(&value, settings_.offsetDegree, settings_.spanDegree, timeout); });
        break;
    case Quantity::Angle:
        status = Guarded([&] { return device_.GetMotorDegree(&value, timeout); });
        break;
    case Quantity::Steps:
        status = Guarded([&] { return device_.GetMotorSteps(&steps, timeout); });
        break;
    case Quantity::Power:
        // The meter's answer, good or bad, goes into the readings; the device is not asked.
        try {
            readMeter();
        } catch (const std::exception &) {
        }
        break;
    }
    if (LinkDown(status))
        linkLost(status);
    lock.lock();
    if (status == KORVAN::Ok) {
        if (quantity == Quantity::Transmittance)
            readings_.transmittance = value;
        else if (quantity == Quantity::Angle)
            readings_.angle = value;
        else if (quantity == Quantity::Steps)
            readings_.steps = steps;
    } else if (!LinkDown(status)) {
        // A device that answers a position request with its status is not idle after all.
        readings_.deviceStatus = status;
        readings_.positionValid = false;
        settle(status);
    }
    // One exchange answers every waiting read of the same quantity.
    for (const auto &request : reads_) {
        if (request->quantity == quantity)
            request->done = true;
    }
    reads_.erase(std::remove_if(reads_.begin(), reads_.end(), [](const auto &r) { return r->done; }), reads_.end());
    readsDone_.notify_all();
}

void AttenuatorWorker::linkLost(int status) {
    Guarded([this] {
        device_.Disconnect();
        return 0;
    });
    std::lock_guard<std::mutex> lock(mutex_);
    // A command accepted before the loss is not carried out after the reconnection, and a hold does not
    // resume on a line that came back: no move by surprise.
    job_.reset();
    if (hold_)
        endHold("ended");
    connected_ = false;
    maintenance_ = false;
    readings_.deviceStatus = status;
    readings_.state = State::Fault;
    readings_.status = "Link to " + settings_.port + " lost (" + KORVAN::StatusText(status) + "); reconnecting" +
                       (note_.empty() ? std::string() : "; " + note_);
    readings_.positionValid = false;
}

void AttenuatorWorker::settle(int status) {
    // Called with mutex_ held. A command accepted meanwhile keeps the state it set until it has run.
    if (job_)
        return;
    // A hold keeps going only on a device that answers Ok.
    if (hold_ && status != KORVAN::Ok)
        endHold(std::string("ended by the device status ") + DeviceText(status));
    if (status == KORVAN::Ok) {
        maintenance_ = false;
        if (hold_)
            return showHold();
        readings_.state = State::On;
        readings_.status = "Ready on " + settings_.port + (note_.empty() ? std::string() : "; " + note_);
    } else if (status == KORVAN::Busy) {
        readings_.state = State::Disable;
        readings_.status = maintenance_ ? "Maintenance routine running; Stop ends it" : "Device busy";
    } else {
        readings_.state = State::Fault;
        readings_.status = (status > 0 ? "Device status: " : "Device error: ") + DeviceText(status) +
                           (note_.empty() ? std::string() : "; " + note_);
    }
}

} // namespace optivane_tango
