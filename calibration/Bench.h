// What a calibration and a power loop drive: a motor that turns to an angle, and a source of power
// readings (a PowerMeter, or any callable a user already has).
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "optivane/optivane.h"

namespace calibration {

// One reading in watts; throws (any std::exception) when there is none.
using PowerSource = std::function<double()>;

// A move or read of the attenuator that did not succeed; status is the library's result.
struct MotorError : std::runtime_error {
    MotorError(KORVAN::AttenuatorStatus status, const std::string &message)
        : std::runtime_error(message), status(status) {}
    KORVAN::AttenuatorStatus status;
};

class Motor {
public:
    virtual ~Motor() = default;
    virtual double AngleDeg() = 0;            // throws MotorError
    virtual void MoveToDeg(double angle) = 0; // returns when the device has answered; throws MotorError
};

// The Motor of a connected handle; port names it in messages. It moves and reads in motor steps through
// the device's own scale (read once, on first use), so that an angle read and moved to again is the same
// step: the library's float degrees would lose one on the way.
class OptivaneMotor : public Motor {
public:
    OptivaneMotor(KORVAN::Optivane &handle, std::string port, int timeoutMs);
    double AngleDeg() override;
    void MoveToDeg(double angle) override;

private:
    double StepsPerDegree();

    KORVAN::Optivane &handle_;
    std::string port_;
    int timeoutMs_;
    double stepsPerDegree_ = 0.0;
};

} // namespace calibration
