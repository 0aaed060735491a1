// The motion and maintenance commands that arrive from the user interface, the range limits and the
// system-behaviour switches. All run on the GUI thread and call the device synchronously.
#include <cmath>

#include <QDebug>

#include "backend/Backend.h"
#include "backend/DeviceCall.h"

namespace {

// Read-backs within this of zero count as the attenuator being closed.
constexpr float kZeroTolerance = 0.001f;
// A device that never confirms zero (it answers Busy to everything during maintenance, for example)
// must not hold the user interface forever.
constexpr int kMaxStopRounds = 10;

// How many unanswered calls a stop tolerates. One missed reply (a reply late beyond the limit, a dropped
// line of output) must not keep the beam open; a device that stays silent must not hold the user
// interface for every round.
constexpr int kMaxStopTimeouts = 2;

// Counts the call's timeout; true when the stop cannot go on: the line is gone or the device stays silent.
bool StopCannotGoOn(KORVAN::AttenuatorStatus status, int &timeouts) {
    if (status == KORVAN::SerialTimeout) {
        ++timeouts;
    }
    return status == KORVAN::SerialClosed || timeouts >= kMaxStopTimeouts;
}

// A routine or calibration that was not answered Ok may be running, and the Backend stays busy until a
// stop. On a closed line nothing runs, and busy would outlast the disconnection steps that clear it,
// leaving a program that drops every new connection and has no stop button to offer.
bool RoutineMayRun(int status) {
    return status != KORVAN::Ok && status != KORVAN::SerialClosed;
}

bool IsFraction(float value) {
    // Written so that not-a-number fails too: a NaN limit would switch the clamp off.
    return value >= 0.0f && value <= 1.0f;
}

} // namespace

void Backend::StatusTrail(KORVAN::AttenuatorStatus status) {
    motorStatus = status;
    qInfo() << " =>" << StatusDescription(status);
}

void Backend::ApplyTransmittance(float transmittance) {
    float target = 0.0f;
    double offset = 0.0;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        target = transmittanceRangeMin > transmittance   ? transmittanceRangeMin
                 : transmittanceRangeMax < transmittance ? transmittanceRangeMax
                                                         : transmittance;
        offset = offsetDegree;
    }
    qInfo() << "Set transmittance to" << target;
    StatusTrail(devicecall::Guarded(
        [&] { return device.SetTransmittance(target, offset, kTransmittanceSpanDeg, kDeviceTimeoutMs); }));
    // A non-number passes the clamp and is refused by the library; it must not become the value that the
    // next connection restores and the settings file keeps.
    if (!std::isnan(target)) {
        std::lock_guard<std::mutex> lock(stateMutex);
        lastUserTransmittance = target;
    }
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();

    int steps = 0;
    float degree = 0.0f;
    float readBack = 0.0f;
    if (!busy) {
        devicecall::Guarded([&] { return device.GetMotorSteps(&steps, kDeviceTimeoutMs); });
    }
    if (!busy) {
        devicecall::Guarded([&] { return device.GetMotorDegree(&degree, kDeviceTimeoutMs); });
    }
    if (!busy) {
        devicecall::Guarded(
            [&] { return device.GetTransmittance(&readBack, offset, kTransmittanceSpanDeg, kDeviceTimeoutMs); });
    }
    qInfo() << " => tr,deg,stp=" << Qt::fixed << readBack << "," << degree << "," << steps;
}

void Backend::ApplyDegree(float degree) {
    qInfo() << "Set absolute degree to" << degree;
    StatusTrail(devicecall::Guarded([&] { return device.SetMotorDegree(degree, kDeviceTimeoutMs); }));
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();
}

void Backend::ApplyStep(int step) {
    qInfo() << "Set steps to" << step;
    StatusTrail(devicecall::Guarded([&] { return device.SetMotorSteps(step, kDeviceTimeoutMs); }));
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();
}

void Backend::ApplyOffsetDegree(double degree) {
    qInfo() << "Set transmittance offset degree to" << degree;
    qInfo() << " =>" << StatusDescription(motorStatus);
    // An offset that is not a finite angle would make every transmittance call fail and could not be
    // stored; the old one stays, and the signal makes the screens show it again.
    if (std::isfinite(degree)) {
        std::lock_guard<std::mutex> lock(stateMutex);
        offsetDegree = degree;
    }
    emit offsetDegreeChanged();
}

void Backend::ApplyTransmittanceRangeMax(float value) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (value == transmittanceRangeMax) {
            return;
        }
    }
    if (!IsFraction(value) || value <= getTransmittanceRangeMin()) {
        emit transmittanceRangeMaxChanged();
        return;
    }
    qInfo() << "Set transmittance range max to" << Qt::fixed << value;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        transmittanceRangeMax = value;
    }
    emit transmittanceRangeMaxChanged();
    if (getTransmittance() > value) {
        ApplyTransmittance(value);
    }
}

void Backend::ApplyTransmittanceRangeMin(float value) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (value == transmittanceRangeMin) {
            return;
        }
    }
    if (!IsFraction(value) || value >= getTransmittanceRangeMax()) {
        emit transmittanceRangeMinChanged();
        return;
    }
    qInfo() << "Set transmittance range min to" << Qt::fixed << value;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        transmittanceRangeMin = value;
    }
    emit transmittanceRangeMinChanged();
    if (value > getTransmittance()) {
        ApplyTransmittance(value);
    }
}

void Backend::EmergencyStop() {
    qInfo() << "Stop motor";
    const double offset = [this] {
        std::lock_guard<std::mutex> lock(stateMutex);
        return offsetDegree;
    }();
    float transmittance = 0.0f;
    int timeouts = 0;
    bool confirmed = false;
    for (int round = 1;; ++round) {
        if (busy || motorStatus != KORVAN::Ok) {
            const KORVAN::AttenuatorStatus stopped = devicecall::Guarded([&] { return device.Stop(kDeviceTimeoutMs); });
            StatusTrail(stopped);
            if (StopCannotGoOn(stopped, timeouts)) {
                break;
            }
        }
        qInfo() << " => set transmittance to 0, current transmittance offset=" << offset;
        if (StopCannotGoOn(devicecall::Guarded([&] {
                               return device.SetTransmittance(0.0f, offset, kTransmittanceSpanDeg, kDeviceTimeoutMs);
                           }),
                           timeouts)) {
            break;
        }
        transmittance = 0.0f;
        const KORVAN::AttenuatorStatus read = devicecall::Guarded(
            [&] { return device.GetTransmittance(&transmittance, offset, kTransmittanceSpanDeg, kDeviceTimeoutMs); });
        if (StopCannotGoOn(read, timeouts)) {
            break;
        }
        // Only an answered read confirms zero: a failed one leaves 0 behind, which says nothing about the beam.
        confirmed = read == KORVAN::Ok && -kZeroTolerance < transmittance && transmittance < kZeroTolerance;
        if (confirmed || round >= kMaxStopRounds) {
            break;
        }
    }
    // The log of a safety action must not read as clean when the beam may still be open.
    if (!confirmed) {
        qCritical() << "STOP could not confirm transmittance 0";
    }
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();
    const bool wasBusy = busy;
    ClearBusy();
    // The readouts just announced read as 0 while busy; announce them again now that they read the device,
    // or the screens would show 0 until the next move.
    if (wasBusy) {
        emit motorTransmittanceChanged();
        emit motorDegreeChanged();
        emit motorStepChanged();
    }
    qInfo() << "STOP done";
    StatusTrail(devicecall::Guarded([&] { return device.GetCurrentStatus(kDeviceTimeoutMs); }));
}

void Backend::StartMotorOptimization() {
    qInfo() << "Start motor optimization";
    StatusTrail(devicecall::Guarded([&] { return device.StartOptimization(kDeviceTimeoutMs); }));
    emit motorErrorCodeChanged();
    if (RoutineMayRun(motorStatus)) {
        busy = true;
        emit busyChanged();
    }
}

void Backend::StartMotorCleaningMechanics() {
    qInfo() << "Start motor cleaning";
    StatusTrail(devicecall::Guarded([&] { return device.StartCleaningMechanics(kDeviceTimeoutMs); }));
    emit motorErrorCodeChanged();
    if (RoutineMayRun(motorStatus)) {
        busy = true;
        emit busyChanged();
    }
}

void Backend::MechanicalCalibration() {
    qInfo() << "Mechanical calibration";
    StatusTrail(devicecall::Guarded([&] { return device.MechanicalCalibration(kDeviceTimeoutMs); }));
    emit motorErrorCodeChanged();
    if (motorStatus != KORVAN::Ok) {
        if (RoutineMayRun(motorStatus)) {
            busy = true;
            emit busyChanged();
        }
        return;
    }
    float restore = 0.0f;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        restore = mechanicalCalibrationTransmittanceZero ? 0.0f : lastUserTransmittance;
    }
    ApplyTransmittance(restore);
}

void Backend::setAutoConnectPossibleSerial(bool value) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (autoConnectPossibleSerial == value) {
            return;
        }
        autoConnectPossibleSerial = value;
    }
    qInfo() << "Change system-Init; auto connect:" << value;
    emit autoConnectPossibleSerialChanged();
}

void Backend::setInitTransmittanceZero(bool value) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (initTransmittanceZero == value) {
            return;
        }
        initTransmittanceZero = value;
    }
    qInfo() << "Change system-Init; tr to zero:" << value;
    emit initTransmittanceZeroChanged();
}

void Backend::setTerminateTransmittanceZero(bool value) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (terminateTransmittanceZero == value) {
            return;
        }
        terminateTransmittanceZero = value;
    }
    qInfo() << "Change system-Terminate; tr to zero:" << value;
    emit terminateTransmittanceZeroChanged();
}

void Backend::setMechanicalCalibrationTransmittanceZero(bool value) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (mechanicalCalibrationTransmittanceZero == value) {
            return;
        }
        mechanicalCalibrationTransmittanceZero = value;
    }
    qInfo() << "Change system-Mechanical calib; tr to zero:" << value;
    emit mechanicalCalibrationTransmittanceZeroChanged();
}
