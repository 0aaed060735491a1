// The attenuator as the calibration drives it.
#include "calibration/Bench.h"

#include <cmath>
#include <cstdio>

namespace calibration {

namespace {

std::string Degrees(double angle) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f deg", angle);
    return text;
}

} // namespace

OptivaneMotor::OptivaneMotor(KORVAN::Optivane &handle, std::string port, int timeoutMs)
    : handle_(handle), port_(std::move(port)), timeoutMs_(timeoutMs) {}

std::string StatusMessage(const std::string &port, const std::string &what, KORVAN::AttenuatorStatus status) {
    return port + ": " + what + ": " + KORVAN::StatusText(status) + " (" + std::to_string(static_cast<int>(status)) +
           ")";
}

// Runs one library call; its exceptions (an unreadable reply) become MotorError, and so does a status other
// than Ok.
template <typename Call> void Checked(const std::string &port, const std::string &what, Call &&call) {
    KORVAN::AttenuatorStatus status = KORVAN::Ok;
    try {
        status = call();
    } catch (const std::exception &error) {
        throw MotorError(KORVAN::SerialUndefinedError,
                         port + ": " + what + ": unreadable reply from the device (" + error.what() + ")");
    }
    if (status != KORVAN::Ok)
        throw MotorError(status, StatusMessage(port, what, status));
}

double OptivaneMotor::StepsPerDegree() {
    if (stepsPerDegree_ > 0.0)
        return stepsPerDegree_;
    KORVAN::MotorInfo info;
    // Each of its two exchanges gets the whole time limit.
    Checked(port_, "reading the step scale", [&] { return handle_.GetMotorInfo(&info, 2 * timeoutMs_); });
    double td = 0.0, ppd = 0.0;
    try {
        td = std::stod(info.td);
        ppd = std::stod(info.ppd);
    } catch (const std::exception &) {
    }
    if (!(td > 0.0 && ppd > 0.0))
        throw MotorError(KORVAN::SerialUndefinedError,
                         port_ + ": the device's step scale is unreadable (" + info.ppd + " steps in " + info.td + ")");
    stepsPerDegree_ = ppd / td;
    return stepsPerDegree_;
}

double OptivaneMotor::AngleDeg() {
    const double perDegree = StepsPerDegree();
    int steps = 0;
    Checked(port_, "reading the angle", [&] { return handle_.GetMotorSteps(&steps, timeoutMs_); });
    return steps / perDegree;
}

void OptivaneMotor::MoveToDeg(double angle) {
    const double steps = std::round(angle * StepsPerDegree());
    if (!(std::fabs(steps) <= 1e9))
        throw MotorError(KORVAN::ParameterOutOfRange, port_ + ": moving to " + Degrees(angle) + ": out of range");
    Checked(port_, "moving to " + Degrees(angle),
            [&] { return handle_.SetMotorSteps(static_cast<int>(steps), timeoutMs_); });
}

} // namespace calibration
