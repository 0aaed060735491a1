// The one object through which the user interface reaches the attenuator: the properties, signals and
// operations that QML binds to, the connect workers and the monitor thread that watches the link.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <QAbstractListModel>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringListModel>
#include <QThread>
#include <QTimer>
#include <QVector>

#include "core/QueuedRelay.h"
#include "optivane/optivane.h"
#include "settings/DeviceConfig.h"
#include "settings/SortedFloatingListModel.h"

class Backend : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString connectedSerialName READ getConnectedSerialName WRITE setConnectedSerialName NOTIFY
                   motorConnectedChanged)
    Q_PROPERTY(QString connectedSerialAlias READ getConnectedSerialAlias WRITE setConnectedSerialAlias NOTIFY
                   deviceAliasChanged)
    Q_PROPERTY(
        QStringListModel *visibleSerialPortNames READ getVisibleSerialPortNames NOTIFY visibleSerialPortNamesChanged)
    Q_PROPERTY(int currentIndexOfVisibleSerialPortNames READ getCurrentIndexOfVisibleSerialPortNames NOTIFY
                   currentIndexOfVisibleSerialPortNamesChanged)
    Q_PROPERTY(QAbstractListModel *presetListModel READ getPresetListModel NOTIFY presetListModelChanged)
    Q_PROPERTY(float transmittance READ getTransmittance WRITE ApplyTransmittance NOTIFY motorTransmittanceChanged)
    Q_PROPERTY(float degree READ getDegree WRITE ApplyDegree NOTIFY motorDegreeChanged)
    Q_PROPERTY(int step READ getStep WRITE ApplyStep NOTIFY motorStepChanged)
    Q_PROPERTY(double offsetDegree READ getOffsetDegree WRITE ApplyOffsetDegree NOTIFY offsetDegreeChanged)
    Q_PROPERTY(bool motorConnected READ getMotorConnected NOTIFY motorConnectedChanged)
    Q_PROPERTY(bool busy READ getBusy WRITE setBusy NOTIFY busyChanged)
    Q_PROPERTY(bool autoConnectPossibleSerial READ getAutoConnectPossibleSerial WRITE setAutoConnectPossibleSerial
                   NOTIFY autoConnectPossibleSerialChanged)
    Q_PROPERTY(bool initTransmittanceZero READ getInitTransmittanceZero WRITE setInitTransmittanceZero NOTIFY
                   initTransmittanceZeroChanged)
    Q_PROPERTY(bool terminateTransmittanceZero READ getTerminateTransmittanceZero WRITE setTerminateTransmittanceZero
                   NOTIFY terminateTransmittanceZeroChanged)
    Q_PROPERTY(bool mechanicalCalibrationTransmittanceZero READ getMechanicalCalibrationTransmittanceZero WRITE
                   setMechanicalCalibrationTransmittanceZero NOTIFY mechanicalCalibrationTransmittanceZeroChanged)
    Q_PROPERTY(bool darkMode READ getDarkMode WRITE setDarkMode NOTIFY darkModeChanged)
    Q_PROPERTY(QString motorStatusDescription READ getMotorStatusDescription NOTIFY motorErrorCodeChanged)
    Q_PROPERTY(float transmittanceRangeMin READ getTransmittanceRangeMin WRITE ApplyTransmittanceRangeMin NOTIFY
                   transmittanceRangeMinChanged)
    Q_PROPERTY(float transmittanceRangeMax READ getTransmittanceRangeMax WRITE ApplyTransmittanceRangeMax NOTIFY
                   transmittanceRangeMaxChanged)

public:
    explicit Backend(QObject *parent = nullptr);
    // Ends the monitor and joins the last worker; no device call, no log.
    ~Backend() override;

    // Called once after the event loop has returned: saves a connected device's settings, stops the
    // motor, optionally drives the transmittance to zero, closes the port.
    void Shutdown();

    // Property reads. transmittance, degree and step are device reads on the caller's thread;
    // they and offsetDegree read 0 while busy.
    QString getConnectedSerialName() const;
    QString getConnectedSerialAlias() const;
    QStringListModel *getVisibleSerialPortNames() const;
    int getCurrentIndexOfVisibleSerialPortNames() const;
    QAbstractListModel *getPresetListModel() const;
    float getTransmittance();
    float getDegree();
    int getStep();
    double getOffsetDegree() const;
    bool getMotorConnected() const;
    bool getBusy() const;
    bool getAutoConnectPossibleSerial() const;
    bool getInitTransmittanceZero() const;
    bool getTerminateTransmittanceZero() const;
    bool getMechanicalCalibrationTransmittanceZero() const;
    bool getDarkMode() const;
    QString getMotorStatusDescription() const;
    float getTransmittanceRangeMin() const;
    float getTransmittanceRangeMax() const;

    // Plain stored properties.
    void setConnectedSerialName(const QString &name); // emits nothing
    void setConnectedSerialAlias(const QString &alias);
    void setBusy(bool value);
    void setDarkMode(bool value);

    // Commands behind the property writes; each leaves its result in motorStatus and logs a trail.
    void ApplyTransmittance(float transmittance);
    void ApplyDegree(float degree);
    void ApplyStep(int step);
    void ApplyOffsetDegree(double degree);
    void ApplyTransmittanceRangeMin(float value);
    void ApplyTransmittanceRangeMax(float value);
    void setAutoConnectPossibleSerial(bool value);
    void setInitTransmittanceZero(bool value);
    void setTerminateTransmittanceZero(bool value);
    void setMechanicalCalibrationTransmittanceZero(bool value);

    Q_INVOKABLE void ConnectMotorViaSerial(int visible_serial_port_index);
    Q_INVOKABLE void Init();
    Q_INVOKABLE void DisconnectMotor();
    Q_INVOKABLE bool PushPreset(float transmittance);
    Q_INVOKABLE void RemovePreset(int index);
    Q_INVOKABLE void StartMotorOptimization();
    Q_INVOKABLE void StartMotorCleaningMechanics();
    Q_INVOKABLE void EmergencyStop();
    Q_INVOKABLE void StartScanningSerialPort();
    Q_INVOKABLE void StopScanningSerialPort();
    Q_INVOKABLE void MechanicalCalibration();

    // The header line's text for an AttenuatorStatus value.
    static QString StatusDescription(int status);

    // Reads the connected port's file (monitor thread) and hands its values to the GUI thread.
    // Returns the record as it will be applied, for the connection steps that follow.
    DeviceConfig LoadDeviceConfig();
    // Writes the present settings to the file named at the last connection.
    void SaveDeviceConfig();
    // Makes the user interface read transmittance, degree and step again.
    void RefreshMotorReadouts();

public slots:
    void UpdateVisibleSerialPortNames();

signals:
    void visibleSerialPortNamesChanged();
    void currentIndexOfVisibleSerialPortNamesChanged();
    void presetListModelChanged();
    void motorTransmittanceChanged();
    void motorDegreeChanged();
    void motorStepChanged();
    void offsetDegreeChanged();
    void resolutionRangeDegreeChanged();
    void motorConnectedChanged(bool connected);
    void busyChanged();
    void autoConnectPossibleSerialChanged();
    void initTransmittanceZeroChanged();
    void terminateTransmittanceZeroChanged();
    void mechanicalCalibrationTransmittanceZeroChanged();
    void darkModeChanged();
    void motorErrorCodeChanged();
    void deviceAliasChanged();
    void transmittanceRangeMinChanged();
    void transmittanceRangeMaxChanged();

private:
    static constexpr int kDeviceTimeoutMs = 3500;
    static constexpr int kMotorInfoTimeoutMs = 7000;
    // Angle from zero to full transmittance, passed to every transmittance call.
    static constexpr double kTransmittanceSpanDeg = 45.0;
    // The preset grid holds at most this many values.
    static constexpr std::size_t kMaxPresets = 40;

    void MonitorDevice();
    void StopMonitor();
    void ConnectWorker(int index, const QStringList &portNames);
    void AutoConnectWorker(const QStringList &portNames);
    // Connect, and on success record the name; false when the port did not open or the device did not answer.
    bool ConnectPort(const QString &portName);
    void ReportFailedConnect(const QString &portName, bool withLineBreak);
    // A worker's first step: releases a connected device and returns once the monitor has run its
    // disconnection steps for it (or has stopped), and no sooner than the release pause.
    void ReleaseBeforeConnecting();
    // Stop, optionally transmittance 0, Disconnect; results unused.
    void ReleaseDevice();
    void RunConnectionSteps();
    void RunDisconnectionSteps();
    void ClearBusy();
    void StatusTrail(KORVAN::AttenuatorStatus status);
    void ApplyDeviceConfig(const DeviceConfig &record, std::uint64_t generation);
    DeviceConfig SettingsSnapshot() const;
    void MirrorPresets();
    void EnsurePortLinks();

    QMetaObject::Connection scanConnection;
    QMetaObject::Connection offsetRefreshConnection;
    QMetaObject::Connection resolutionRefreshConnection;
    QString connectedSerialName; // guarded by stateMutex
    std::mutex workerMutex;
    KORVAN::Optivane device;
    // Carries work from the monitor to the GUI thread; outlives the monitor thread.
    std::unique_ptr<QueuedRelay> guiRelay = std::make_unique<QueuedRelay>();
    std::unique_ptr<QStringListModel> visibleSerialPortNames;
    std::unique_ptr<SortedFloatingListModel> presetListModel;
    QTimer scanTimer;
    std::unique_ptr<QThread> monitorThread;
    std::thread workerThread;
    std::atomic<bool> monitorRunning{true};
    // Set by the monitor as its last step (see StopMonitor).
    std::atomic<bool> monitorFinished{false};
    std::atomic<bool> busy{false};
    std::atomic<int> motorStatus{KORVAN::Ok};
    // The settings below are written on the GUI thread under stateMutex and read elsewhere under it.
    QString connectedSerialAlias = QStringLiteral("");
    double offsetDegree = 0.0;
    bool autoConnectPossibleSerial = true;
    bool initTransmittanceZero = true;
    bool terminateTransmittanceZero = true;
    bool mechanicalCalibrationTransmittanceZero = true;
    bool darkMode = false;
    float lastUserTransmittance = 0.0f;
    std::atomic<bool> motorConnected{false};
    float transmittanceRangeMin = 0.0f;
    float transmittanceRangeMax = 1.0f;

    // Guards the settings, connectedSerialName, the preset mirror and the pending record. Never held
    // during a device call, so a property read on the GUI thread never waits for the serial line.
    mutable std::mutex stateMutex;
    // The preset model's values, for saves on the monitor thread; the model itself is GUI-thread only.
    QVector<float> presetMirror;
    // A loaded record that the GUI thread has not applied yet; saves and releases use it meanwhile.
    std::optional<DeviceConfig> pendingConfig;
    std::uint64_t pendingGeneration = 0;
    // Held by a worker from Connect until the port's name is recorded, and by the monitor for its poll,
    // so that the monitor never sees a new link before its name is known.
    std::mutex linkMutex;
    // Counts the monitor's completed disconnection steps, so that a worker that released a device can wait
    // for them: until they are through, the monitor may still clear the new port's name or release it.
    std::mutex disconnectionMutex;
    std::condition_variable disconnectionDone;
    std::uint64_t disconnections = 0; // guarded by disconnectionMutex
    // Whether the file name was formed from a COM port name at the last connection; saves go nowhere else.
    std::atomic<bool> configFileNamed{false};
};
