// Backend construction, property accessors, presets and the shutdown.
#include "backend/Backend.h"

#include <QDebug>

#include "backend/DeviceCall.h"

Backend::Backend(QObject *parent) : QObject(parent) {
    qRegisterMetaType<QStringListModel *>("QStringListModel*");
    qRegisterMetaType<QAbstractListModel *>("QAbstractListModel*");
    qInfo() << "App start";

    visibleSerialPortNames = std::make_unique<QStringListModel>();
    presetListModel = std::make_unique<SortedFloatingListModel>();

    monitorThread.reset(QThread::create(&Backend::MonitorDevice, this));
    monitorThread->start(QThread::InheritPriority);

    offsetRefreshConnection = connect(this, &Backend::offsetDegreeChanged, this, &Backend::RefreshMotorReadouts);
    resolutionRefreshConnection =
        connect(this, &Backend::resolutionRangeDegreeChanged, this, &Backend::RefreshMotorReadouts);

    UpdateVisibleSerialPortNames();
}

Backend::~Backend() {
    StopMonitor();
    // A joinable thread must not be destroyed, and the worker still uses this object.
    std::lock_guard<std::mutex> lock(workerMutex);
    if (workerThread.joinable()) {
        workerThread.join();
    }
}

void Backend::StopMonitor() {
    monitorRunning = false;
    {
        // A worker waiting for disconnection steps that a stopped monitor will not run must go on.
        std::lock_guard<std::mutex> lock(disconnectionMutex);
    }
    disconnectionDone.notify_all();
    if (monitorThread && monitorThread->isRunning()) {
        monitorThread->wait();
    }
    // QThread::wait already orders the monitor's last steps before what follows; taking the flag it set last
    // makes that order visible to ThreadSanitizer too, which cannot see the synchronisation inside Qt.
    monitorFinished.load(std::memory_order_acquire);
}

void Backend::Shutdown() {
    disconnect(scanConnection);
    disconnect(offsetRefreshConnection);
    disconnect(resolutionRefreshConnection);

    StopMonitor();
    {
        // A worker still connecting would otherwise open a port after the final release below.
        std::lock_guard<std::mutex> lock(workerMutex);
        if (workerThread.joinable()) {
            workerThread.join();
        }
    }

    if (motorConnected) {
        SaveDeviceConfig();
    }
    scanTimer.stop();
    ReleaseDevice();
    visibleSerialPortNames.reset();
    qInfo() << "App end";
}

QString Backend::getConnectedSerialName() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return connectedSerialName;
}

void Backend::setConnectedSerialName(const QString &name) {
    std::lock_guard<std::mutex> lock(stateMutex);
    if (connectedSerialName != name) {
        connectedSerialName = name;
    }
}

QString Backend::getConnectedSerialAlias() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return connectedSerialAlias;
}

void Backend::setConnectedSerialAlias(const QString &alias) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (connectedSerialAlias == alias) {
            return;
        }
        connectedSerialAlias = alias;
    }
    emit deviceAliasChanged();
}

QStringListModel *Backend::getVisibleSerialPortNames() const {
    return visibleSerialPortNames.get();
}

int Backend::getCurrentIndexOfVisibleSerialPortNames() const {
    if (!motorConnected || !visibleSerialPortNames) {
        return 0;
    }
    const int row = visibleSerialPortNames->stringList().indexOf(getConnectedSerialName());
    return row < 0 ? 0 : row;
}

QAbstractListModel *Backend::getPresetListModel() const {
    return presetListModel.get();
}

float Backend::getTransmittance() {
    if (busy) {
        return 0.0f;
    }
    double offset = 0.0;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        offset = offsetDegree;
    }
    float value = 0.0f;
    devicecall::Guarded(
        [&] { return device.GetTransmittance(&value, offset, kTransmittanceSpanDeg, kDeviceTimeoutMs); });
    return value;
}

float Backend::getDegree() {
    if (busy) {
        return 0.0f;
    }
    float value = 0.0f;
    devicecall::Guarded([&] { return device.GetMotorDegree(&value, kDeviceTimeoutMs); });
    return value;
}

int Backend::getStep() {
    if (busy) {
        return 0;
    }
    int value = 0;
    devicecall::Guarded([&] { return device.GetMotorSteps(&value, kDeviceTimeoutMs); });
    return value;
}

double Backend::getOffsetDegree() const {
    if (busy) {
        return 0.0;
    }
    std::lock_guard<std::mutex> lock(stateMutex);
    return offsetDegree;
}

bool Backend::getMotorConnected() const {
    return motorConnected;
}

bool Backend::getBusy() const {
    return busy;
}

void Backend::setBusy(bool value) {
    if (busy.exchange(value) != value) {
        emit busyChanged();
    }
}

bool Backend::getAutoConnectPossibleSerial() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return autoConnectPossibleSerial;
}

bool Backend::getInitTransmittanceZero() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return initTransmittanceZero;
}

bool Backend::getTerminateTransmittanceZero() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return terminateTransmittanceZero;
}

bool Backend::getMechanicalCalibrationTransmittanceZero() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return mechanicalCalibrationTransmittanceZero;
}

bool Backend::getDarkMode() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return darkMode;
}

void Backend::setDarkMode(bool value) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (darkMode == value) {
            return;
        }
        darkMode = value;
    }
    emit darkModeChanged();
}

QString Backend::getMotorStatusDescription() const {
    return StatusDescription(motorStatus);
}

float Backend::getTransmittanceRangeMin() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return transmittanceRangeMin;
}

float Backend::getTransmittanceRangeMax() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return transmittanceRangeMax;
}

bool Backend::PushPreset(float transmittance) {
    if (presetListModel->Count() >= kMaxPresets) {
        return false;
    }
    presetListModel->Insert(transmittance);
    MirrorPresets();
    return true;
}

void Backend::RemovePreset(int index) {
    presetListModel->Remove(index);
    MirrorPresets();
}

void Backend::MirrorPresets() {
    QVector<float> values;
    values.reserve(static_cast<int>(presetListModel->Count()));
    for (std::size_t row = 0; row < presetListModel->Count(); ++row) {
        values.append(presetListModel->At(row));
    }
    std::lock_guard<std::mutex> lock(stateMutex);
    presetMirror = values;
}

void Backend::RefreshMotorReadouts() {
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();
}
