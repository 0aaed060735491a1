// Moving settings between the connected port's configuration file and the Backend.
#include <algorithm>

#include <QDebug>

#include "backend/Backend.h"

namespace {

// Only this many stored presets are considered at a load.
constexpr int kMaxStoredPresets = 255;

bool InPresetRange(float value) {
    return value >= 0.0f && value <= 100.0f;
}

// The configuration file is named after the port, so only a COMn name may form it.
bool IsComPortName(const QString &name) {
    return KORVAN::Ports::ComNumber(name.toStdString()) >= 0;
}

} // namespace

DeviceConfig Backend::LoadDeviceConfig() {
    DeviceConfig record;
    const QString name = getConnectedSerialName();
    if (IsComPortName(name)) {
        SetConfigFileName(name + QStringLiteral(".json"));
        configFileNamed = true;
        LoadConfig(record);
    } else {
        configFileNamed = false;
        qCritical() << "Settings not loaded: port name" << name << "is not a COM port name";
    }

    // What the preset model will hold once the GUI thread has applied the record: a save before then
    // must already write these.
    DeviceConfig pending = record;
    pending.presets.clear();
    for (int i = 0; i < std::min(kMaxStoredPresets, record.presets.size()); ++i) {
        if (InPresetRange(record.presets.at(i))) {
            pending.presets.append(record.presets.at(i));
        }
    }
    std::stable_sort(pending.presets.begin(), pending.presets.end());
    pending.presets.erase(std::unique(pending.presets.begin(), pending.presets.end()), pending.presets.end());
    if (pending.presets.size() > static_cast<int>(kMaxPresets)) {
        pending.presets.resize(static_cast<int>(kMaxPresets));
    }

    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        generation = ++pendingGeneration;
        pendingConfig = pending;
    }
    // The model and the fields belong to the GUI thread. Not waited for: Shutdown waits for this thread
    // on the GUI thread, so a blocking hand-over could deadlock.
    guiRelay->Post([this, record, generation] { ApplyDeviceConfig(record, generation); });
    return record;
}

void Backend::ApplyDeviceConfig(const DeviceConfig &record, std::uint64_t generation) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        connectedSerialAlias = record.alias;
        offsetDegree = record.offsetDegree;
    }

    // Presets of a port connected earlier must not reach this port's file.
    while (presetListModel->Count() > 0) {
        presetListModel->Remove(static_cast<int>(presetListModel->Count() - 1));
    }
    for (int i = 0; i < std::min(kMaxStoredPresets, record.presets.size()); ++i) {
        if (InPresetRange(record.presets.at(i))) {
            presetListModel->Insert(record.presets.at(i));
        }
    }
    while (presetListModel->Count() > kMaxPresets) {
        presetListModel->Remove(static_cast<int>(presetListModel->Count() - 1));
    }
    MirrorPresets();

    {
        std::lock_guard<std::mutex> lock(stateMutex);
        autoConnectPossibleSerial = record.autoConnectPossibleSerial;
        initTransmittanceZero = record.initTransmittanceZero;
        terminateTransmittanceZero = record.terminateTransmittanceZero;
        mechanicalCalibrationTransmittanceZero = record.mechanicalCalibrationTransmittanceZero;
        darkMode = record.darkMode;
        lastUserTransmittance = record.lastUserTransmittance;
        transmittanceRangeMin = record.transmittanceRangeMin;
        transmittanceRangeMax = record.transmittanceRangeMax;
        if (pendingGeneration == generation) {
            pendingConfig.reset();
        }
    }

    emit deviceAliasChanged();
    emit presetListModelChanged();
    emit autoConnectPossibleSerialChanged();
    emit initTransmittanceZeroChanged();
    emit terminateTransmittanceZeroChanged();
    emit mechanicalCalibrationTransmittanceZeroChanged();
    emit darkModeChanged();
    emit transmittanceRangeMinChanged();
    emit transmittanceRangeMaxChanged();
}

void Backend::SaveDeviceConfig() {
    if (!configFileNamed) {
        return;
    }
    SaveConfig(SettingsSnapshot());
}

DeviceConfig Backend::SettingsSnapshot() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    if (pendingConfig) {
        return *pendingConfig;
    }
    DeviceConfig record;
    record.alias = connectedSerialAlias;
    record.presets = presetMirror;
    record.offsetDegree = static_cast<float>(offsetDegree);
    record.autoConnectPossibleSerial = autoConnectPossibleSerial;
    record.initTransmittanceZero = initTransmittanceZero;
    record.terminateTransmittanceZero = terminateTransmittanceZero;
    record.mechanicalCalibrationTransmittanceZero = mechanicalCalibrationTransmittanceZero;
    record.darkMode = darkMode;
    record.lastUserTransmittance = lastUserTransmittance;
    record.transmittanceRangeMin = transmittanceRangeMin;
    record.transmittanceRangeMax = transmittanceRangeMax;
    return record;
}
