// The hold on a thread of its own, for every front end.
#include <cmath>

#include "Internal.h"

namespace powerloop {

namespace {

// A long hold keeps the newest readings only.
constexpr std::size_t kKeptReadings = 100000;
// Further from where the hold left it than a step's rounding: moved by another program.
constexpr double kMovedElsewhereDeg = 0.05;

} // namespace

HoldRunner::HoldRunner(calibration::Motor &motor, calibration::PowerSource meter, Plan plan, double setpointW,
                       HoldOptions options, HoldCallbacks callbacks, std::optional<SetOptions> setFirst)
    : motor_(motor), meter_(std::move(meter)), plan_(std::move(plan)), setpointW_(setpointW), options_(options),
      callbacks_(std::move(callbacks)), setFirst_(setFirst) {
    // The core refuses what it cannot hold before any thread starts.
    HoldCore check(plan_, setpointW_, options_, plan_.LowDeg());
}

HoldRunner::~HoldRunner() {
    Stop();
    Wait();
}

void HoldRunner::Start() {
    std::lock_guard<std::mutex> join(joinMutex_);
    if (thread_.joinable())
        return;
    running_ = true;
    thread_ = std::thread([this] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            runnerId_ = std::this_thread::get_id();
        }
        Run();
    });
}

void HoldRunner::Stop(const std::string &reason) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopRequested_)
            stopReason_ = reason;
        stopRequested_ = true;
    }
    wake_.notify_all();
}

void HoldRunner::Wait() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // From a callback, on the runner's own thread, there is nothing to wait for.
        if (runnerId_ == std::this_thread::get_id())
            return;
    }
    std::lock_guard<std::mutex> join(joinMutex_);
    if (thread_.joinable())
        thread_.join();
}

bool HoldRunner::running() const {
    return running_;
}

HoldState HoldRunner::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

std::string HoldRunner::message() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return message_;
}

std::vector<HoldReading> HoldRunner::readings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readings_;
}

std::optional<SetResult> HoldRunner::setResult() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return setResult_;
}

bool HoldRunner::Sleep(std::chrono::steady_clock::duration duration) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, duration, [this] { return stopRequested_.load(); });
    return !stopRequested_;
}

void HoldRunner::Publish(const Step &step) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = step.state;
        if (!step.message.empty())
            message_ = step.message;
    }
    if ((step.stateChanged || !step.message.empty()) && callbacks_.state)
        callbacks_.state(step.state, step.message);
}

void HoldRunner::Run() {
    const auto stopped = [this] { return stopRequested_.load(); };
    std::string ending;
    std::optional<HoldCore> core;
    try {
        double angle = motor_.AngleDeg();
        BeamModel model;
        if (setFirst_ && !stopped()) {
            const SetResult result = SetPower(motor_, meter_, plan_, setpointW_, *setFirst_, stopped);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                setResult_ = result;
            }
            if (callbacks_.set)
                callbacks_.set(result);
            angle = result.angleDeg;
            model = result.model;
        }
        core.emplace(plan_, setpointW_, options_, angle, model);
        const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(options_.intervalSeconds));
        auto next = std::chrono::steady_clock::now();
        while (!stopped()) {
            if (options_.watchMotor) {
                const double now = motor_.AngleDeg();
                if (std::fabs(now - core->angleDeg()) > kMovedElsewhereDeg)
                    throw std::runtime_error("the attenuator was moved by something else (from " +
                                             detail::Degrees(core->angleDeg()) + " to " + detail::Degrees(now) + ")");
            }
            HoldReading reading;
            try {
                reading.powerW = meter_();
                reading.valid = std::isfinite(reading.powerW) && reading.powerW >= 0;
                if (!reading.valid)
                    reading.error = "the reading " + std::to_string(reading.powerW) + " is no power";
            } catch (const std::exception &error) {
                reading.error = error.what();
            }
            // Nothing is decided on a reading taken while a stop came.
            if (stopped())
                break;
            reading.time = std::chrono::system_clock::now();
            const Step step = reading.valid ? core->OnReading(reading.powerW) : core->OnFailedReading(reading.error);
            reading.angleDeg = core->angleDeg();
            reading.state = core->state();
            reading.relativeError = reading.valid ? (reading.powerW - setpointW_) / setpointW_ : 0.0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (readings_.size() >= kKeptReadings)
                    readings_.erase(readings_.begin(), readings_.begin() + kKeptReadings / 2);
                readings_.push_back(reading);
            }
            if (callbacks_.reading)
                callbacks_.reading(reading);
            Publish(step);
            if (step.move && !stopped()) {
                Correction correction;
                correction.time = std::chrono::system_clock::now();
                correction.fromDeg = core->angleDeg();
                correction.toDeg = step.angleDeg;
                correction.powerW = reading.powerW;
                correction.relativeError = reading.relativeError;
                // A motor error (a lost line) ends the hold below, with the reason.
                detail::Approach(motor_, plan_, core->angleDeg(), step.angleDeg, options_.backlashDeg);
                core->Moved(step.angleDeg);
                if (callbacks_.correction)
                    callbacks_.correction(correction);
            }
            next += interval;
            const auto now = std::chrono::steady_clock::now();
            // A reading late by more than an interval starts a new schedule rather than a burst.
            if (next < now)
                next = now;
            if (!Sleep(next - now))
                break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ending = stopReason_;
    } catch (const std::exception &error) {
        ending = std::string(error.what()) + ": the hold stopped; the attenuator stays where it is";
    }
    Step last;
    if (core) {
        last = core->Stop(ending);
    } else {
        last.state = HoldState::Stopped;
        last.stateChanged = true;
        last.message = ending;
    }
    Publish(last);
    running_ = false;
}

} // namespace powerloop
