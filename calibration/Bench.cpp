// The attenuator as the calibration drives it.
#include "calibration/Bench.h"

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

double OptivaneMotor::AngleDeg() {
    float degree = 0.0f;
    KORVAN::AttenuatorStatus status = KORVAN::Ok;
    try {
        status = handle_.GetMotorDegree(&degree, timeoutMs_);
    } catch (const std::exception &error) {
        throw MotorError(KORVAN::SerialUndefinedError,
                         port_ + ": reading the angle: unreadable reply from the device (" + error.what() + ")");
    }
    if (status != KORVAN::Ok)
        throw MotorError(status, port_ + ": reading the angle: " + KORVAN::StatusText(status) + " (" +
                                     std::to_string(static_cast<int>(status)) + ")");
    return degree;
}

void OptivaneMotor::MoveToDeg(double angle) {
    KORVAN::AttenuatorStatus status = KORVAN::Ok;
    try {
        status = handle_.SetMotorDegree(static_cast<float>(angle), timeoutMs_);
    } catch (const std::exception &error) {
        throw MotorError(KORVAN::SerialUndefinedError, port_ + ": moving to " + Degrees(angle) +
                                                           ": unreadable reply from the device (" + error.what() + ")");
    }
    if (status != KORVAN::Ok)
        throw MotorError(status, port_ + ": moving to " + Degrees(angle) + ": " + KORVAN::StatusText(status) + " (" +
                                     std::to_string(static_cast<int>(status)) + ")");
}

} // namespace calibration
