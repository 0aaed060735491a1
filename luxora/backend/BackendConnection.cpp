// Bringing a device up and down: the connect workers, the release sequence, the monitor thread that
// notices a changed link, and the status texts.
#include <chrono>

#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>

#include "backend/Backend.h"
#include "backend/DeviceCall.h"

namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(250);
// Twice the poll period: the monitor's next poll falls into it and sees the port closed, so the new link
// is seen as a change. The worker also waits for the disconnection steps themselves, which a slow save
// can stretch beyond the pause.
constexpr auto kReleasePause = std::chrono::milliseconds(500);
constexpr qint64 kSavePeriodMs = 30000;

bool LinkLost(KORVAN::AttenuatorStatus status) {
    return status == KORVAN::SerialClosed || status == KORVAN::SerialTimeout;
}

// The library cannot say why a port did not open; a device the user may not open is the usual cause on
// Linux, and the fix is not obvious from "Failed to connect device" alone.
void ReportMissingPermission(const QString &portName) {
    const QFileInfo device(QString::fromStdString(KORVAN::Ports::DevicePath(portName.toStdString())));
    if (!device.exists() || (device.isReadable() && device.isWritable())) {
        return;
    }
    const QFileInfo target(device.canonicalFilePath());
    if (target.permission(QFileDevice::ReadGroup | QFileDevice::WriteGroup)) {
        qCritical().noquote() << QStringLiteral("No permission to open %1 (%2). Add your user to the device's group "
                                                "\"%3\" (usually dialout), for example with: sudo usermod -aG %3 "
                                                "$USER, then log out and log in again for it to take effect.")
                                     .arg(portName, target.filePath(), target.group());
    } else {
        qCritical().noquote() << QStringLiteral("No permission to open %1 (%2). Its group \"%3\" may not use it "
                                                "either; serial devices usually belong to the group dialout: give "
                                                "the device to that group (for example with a udev rule), add your "
                                                "user with: sudo usermod -aG dialout $USER, then log out and log in "
                                                "again for it to take effect.")
                                     .arg(portName, target.filePath(), target.group());
    }
}

} // namespace

void Backend::ConnectMotorViaSerial(int visible_serial_port_index) {
    std::lock_guard<std::mutex> lock(workerMutex);
    if (busy) {
        return;
    }
    if (workerThread.joinable()) {
        workerThread.join();
    }
    if (visible_serial_port_index == 0) {
        DisconnectMotor();
        return;
    }
    busy = true;
    emit busyChanged();
    // The worker reads its own copy: the GUI thread may reset the model while it runs.
    const QStringList portNames = visibleSerialPortNames ? visibleSerialPortNames->stringList() : QStringList();
    workerThread = std::thread(&Backend::ConnectWorker, this, visible_serial_port_index, portNames);
}

void Backend::Init() {
    std::lock_guard<std::mutex> lock(workerMutex);
    if (busy) {
        return;
    }
    if (workerThread.joinable()) {
        workerThread.join();
    }
    busy = true;
    emit busyChanged();
    const QStringList portNames = visibleSerialPortNames ? visibleSerialPortNames->stringList() : QStringList();
    workerThread = std::thread(&Backend::AutoConnectWorker, this, portNames);
}

void Backend::DisconnectMotor() {
    ReleaseDevice();
}

void Backend::ConnectWorker(int index, const QStringList &portNames) {
    ReleaseBeforeConnecting();
    if (index < 0 || index >= portNames.size()) {
        qCritical() << "ConnectMotorViaSerial failed: Index is not recognized";
        busy = false;
        emit busyChanged();
        return;
    }
    const QString portName = portNames.at(index);
    qInfo() << "Trying to connect device" << portName;
    if (!ConnectPort(portName)) {
        ReportFailedConnect(portName, true);
        emit currentIndexOfVisibleSerialPortNamesChanged();
    }
    busy = false;
    emit busyChanged();
}

void Backend::AutoConnectWorker(const QStringList &portNames) {
    ReleaseBeforeConnecting();
    if (getAutoConnectPossibleSerial()) {
        for (int row = 1; row < portNames.size(); ++row) {
            const QString portName = portNames.at(row);
            qInfo() << "Trying to connect device" << portName;
            if (ConnectPort(portName)) {
                break;
            }
            ReportFailedConnect(portName, false);
        }
    }
    busy = false;
    emit busyChanged();
}

void Backend::ReleaseBeforeConnecting() {
    // Counted before the link is looked at: steps that start after this point are the ones for this release.
    std::uint64_t seen = 0;
    {
        std::lock_guard<std::mutex> lock(disconnectionMutex);
        seen = disconnections;
    }
    if (!motorConnected) {
        return;
    }
    ReleaseDevice();
    const auto earliest = std::chrono::steady_clock::now() + kReleasePause;
    {
        std::unique_lock<std::mutex> lock(disconnectionMutex);
        disconnectionDone.wait(lock, [&] { return disconnections != seen || !monitorRunning; });
    }
    std::this_thread::sleep_until(earliest);
}

bool Backend::ConnectPort(const QString &portName) {
    std::lock_guard<std::mutex> link(linkMutex);
    if (!devicecall::Connect(device, portName.toUtf8().toStdString())) {
        return false;
    }
    std::lock_guard<std::mutex> state(stateMutex);
    connectedSerialName = portName;
    return true;
}

void Backend::ReportFailedConnect(const QString &portName, bool withLineBreak) {
    if (withLineBreak) {
        qCritical() << "Failed to connect device" << portName << "\n";
    } else {
        qCritical() << "Failed to connect device" << portName;
    }
    ReportMissingPermission(portName);
}

void Backend::ReleaseDevice() {
    bool toZero = false;
    double offset = 0.0;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        toZero = pendingConfig ? pendingConfig->terminateTransmittanceZero : terminateTransmittanceZero;
        offset = pendingConfig ? pendingConfig->offsetDegree : offsetDegree;
    }
    devicecall::Guarded([&] { return device.Stop(kDeviceTimeoutMs); });
    if (toZero) {
        devicecall::Guarded(
            [&] { return device.SetTransmittance(0.0f, offset, kTransmittanceSpanDeg, kDeviceTimeoutMs); });
    }
    devicecall::Disconnect(device);
}

void Backend::ClearBusy() {
    if (busy.exchange(false)) {
        emit busyChanged();
    }
}

void Backend::MonitorDevice() {
    QElapsedTimer sinceSave;
    sinceSave.start();
    while (monitorRunning) {
        const bool previous = motorConnected;
        KORVAN::AttenuatorStatus status = KORVAN::Ok;
        {
            std::lock_guard<std::mutex> link(linkMutex);
            status = devicecall::Guarded([&] { return device.GetCurrentStatus(kDeviceTimeoutMs); });
        }
        const bool up = !LinkLost(status);
        motorConnected.exchange(up);
        if (up != previous) {
            if (up) {
                RunConnectionSteps();
            } else {
                RunDisconnectionSteps();
            }
        }
        if (motorConnected) {
            emit motorErrorCodeChanged();
            if (sinceSave.elapsed() > kSavePeriodMs) {
                SaveDeviceConfig();
                sinceSave.restart();
            }
        }
        std::this_thread::sleep_for(kPollPeriod);
        std::this_thread::yield();
    }
    monitorFinished.store(true, std::memory_order_release);
}

void Backend::RunConnectionSteps() {
    // The record's values are the Backend's from here on; the GUI thread applies them in its own time.
    const DeviceConfig record = LoadDeviceConfig();
    const double offset = record.offsetDegree;
    const float start = record.initTransmittanceZero ? 0.0f : record.lastUserTransmittance;
    devicecall::Guarded(
        [&] { return device.SetTransmittance(start, offset, kTransmittanceSpanDeg, kDeviceTimeoutMs); });

    KORVAN::MotorInfo info;
    devicecall::Guarded([&] { return device.GetMotorInfo(&info, kMotorInfoTimeoutMs); });
    float transmittance = 0.0f;
    devicecall::Guarded(
        [&] { return device.GetTransmittance(&transmittance, offset, kTransmittanceSpanDeg, kDeviceTimeoutMs); });

    qInfo() << "Device" << getConnectedSerialName() << "is connected successfully\n"
            << "============================\n"
            << "  Device alias: " << record.alias << "\n"
            << "  Motor S/N: " << info.serialNumber.c_str() << "\n"
            << "  Motor YOM: " << info.yearOfManufacture.c_str() << "\n"
            << "  Motor F/R: " << info.fr.c_str() << "\n"
            << "  Motor H/R: " << info.hr.c_str() << "\n"
            << "  Motor td: " << info.td.c_str() << "\n"
            << "  Motor ppd: " << info.ppd.c_str() << "\n"
            << "  Motor mechanical offset: " << info.mechanicalOffset.c_str() << "\n"
            << "============================\n"
            << "  Transmittance offset: " << offset << "\n"
            << "  Transmittance range min: " << record.transmittanceRangeMin << "\n"
            << "  Transmittance range max: " << record.transmittanceRangeMax << "\n"
            << "  Last transmittance: " << Qt::fixed << transmittance << "\n"
            << "============================\n"
            << "  System-Init; auto connect: " << record.autoConnectPossibleSerial << "\n"
            << "  System-Init; tr to zero: " << record.initTransmittanceZero << "\n"
            << "  System-Terminate; tr to zero: " << record.terminateTransmittanceZero << "\n"
            << "  System-Mechanical calib; tr to zero: " << record.mechanicalCalibrationTransmittanceZero << "\n"
            << "============================";

    emit motorConnectedChanged(motorConnected);
    emit currentIndexOfVisibleSerialPortNamesChanged();
    emit offsetDegreeChanged();
    emit resolutionRangeDegreeChanged();

    motorStatus = devicecall::Guarded([&] { return device.GetCurrentStatus(kDeviceTimeoutMs); });
    emit motorErrorCodeChanged();
}

void Backend::RunDisconnectionSteps() {
    qInfo() << "Device" << getConnectedSerialName() << "was disconnected\n";
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        connectedSerialName = QStringLiteral("");
    }
    SaveDeviceConfig();
    ReleaseDevice();
    {
        std::lock_guard<std::mutex> lock(disconnectionMutex);
        ++disconnections;
    }
    disconnectionDone.notify_all();
    emit motorConnectedChanged(motorConnected);
    emit currentIndexOfVisibleSerialPortNamesChanged();
    ClearBusy();
}

QString Backend::StatusDescription(int status) {
    return QString::fromLatin1(KORVAN::StatusText(status));
}
