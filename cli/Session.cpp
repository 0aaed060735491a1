// One open device for one command.
#include "Session.h"

#include <algorithm>
#include <cmath>

#include "frontend/PortDiagnosis.h"

namespace cli {

Session::Session(const std::string &port, const Options &options)
    : port_(port), profile_(frontend::LoadPortProfile(port)),
      timeoutMs_(std::max(1, static_cast<int>(std::lround(options.timeoutSeconds * 1000.0)))) {
    if (options.offsetDeg)
        profile_.offsetDeg = *options.offsetDeg;
    if (options.spanDeg)
        profile_.spanDeg = *options.spanDeg;
}

void Session::Open() {
    if (!Connect())
        throw Failure(kExitLink, frontend::DiagnoseConnectFailure(port_).message);
}

bool Session::Connect() {
    try {
        return handle_.Connect(port_);
    } catch (const std::exception &error) {
        // A port that refuses its serial settings, or a device whose scale cannot be read, is no usable link.
        throw Failure(kExitLink, port_ + ": " + error.what());
    }
}

bool Session::Reconnect() {
    try {
        handle_.Disconnect();
        return handle_.Connect(port_);
    } catch (const std::exception &) {
        return false;
    }
}

int ExitStatusOf(KORVAN::AttenuatorStatus status) {
    if (status == KORVAN::Ok)
        return kExitOk;
    if (status == KORVAN::ParameterOutOfRange)
        return kExitUsage;
    return status < KORVAN::Ok ? kExitLink : kExitDeviceStatus;
}

void Session::Check(KORVAN::AttenuatorStatus status, const std::string &what) const {
    if (status == KORVAN::Ok)
        return;
    std::string message = port_ + ": " + what + ": " + KORVAN::StatusText(status) + " (" +
                          std::to_string(static_cast<int>(status)) + ")";
    if (status == KORVAN::ParameterOutOfRange)
        message += "; nothing was sent";
    throw Failure(ExitStatusOf(status), message);
}

KORVAN::AttenuatorStatus Session::TryRead(Reading *reading) {
    KORVAN::AttenuatorStatus status = Guarded([&] { return handle_.GetMotorSteps(&reading->steps, timeoutMs_); });
    if (status == KORVAN::Ok)
        status = Guarded([&] { return handle_.GetMotorDegree(&reading->degree, timeoutMs_); });
    if (status == KORVAN::Ok)
        status = Guarded([&] {
            return handle_.GetTransmittance(&reading->transmittance, profile_.offsetDeg, profile_.spanDeg, timeoutMs_);
        });
    return status;
}

Reading Session::Read() {
    Reading reading;
    Check(TryRead(&reading), "reading");
    return reading;
}

} // namespace cli
