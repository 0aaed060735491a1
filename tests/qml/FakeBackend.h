// A stand-in for the Backend. FakeBackendInterface has exactly the Backend's QML-facing meta-object (a test
// compares the two), so the screens cannot rely on a name the program lacks; FakeBackend adds the test side:
// it lists the writes and operations the screens make and counts the reads that are device exchanges.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringListModel>
#include <QVariant>
#include <QVariantList>

#include "settings/SortedFloatingListModel.h"

// The Backend's properties, signals and invokables, in its order, with plain fields behind them.
class FakeBackendInterface : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString connectedSerialName READ connectedSerialName WRITE setConnectedSerialName NOTIFY motorConnectedChanged)
    Q_PROPERTY(QString connectedSerialAlias READ connectedSerialAlias WRITE setConnectedSerialAlias NOTIFY deviceAliasChanged)
    Q_PROPERTY(QStringListModel *visibleSerialPortNames READ visibleSerialPortNames NOTIFY visibleSerialPortNamesChanged)
    Q_PROPERTY(int currentIndexOfVisibleSerialPortNames READ currentIndexOfVisibleSerialPortNames NOTIFY currentIndexOfVisibleSerialPortNamesChanged)
    Q_PROPERTY(QAbstractListModel *presetListModel READ presetListModel NOTIFY presetListModelChanged)
    Q_PROPERTY(float transmittance READ transmittance WRITE setTransmittance NOTIFY motorTransmittanceChanged)
    Q_PROPERTY(float degree READ degree WRITE setDegree NOTIFY motorDegreeChanged)
    Q_PROPERTY(int step READ step WRITE setStep NOTIFY motorStepChanged)
    Q_PROPERTY(double offsetDegree READ offsetDegree WRITE setOffsetDegree NOTIFY offsetDegreeChanged)
    Q_PROPERTY(bool motorConnected READ motorConnected NOTIFY motorConnectedChanged)
    Q_PROPERTY(bool busy MEMBER m_busy NOTIFY busyChanged)
    Q_PROPERTY(bool autoConnectPossibleSerial READ autoConnectPossibleSerial WRITE setAutoConnectPossibleSerial NOTIFY
                   autoConnectPossibleSerialChanged)
    Q_PROPERTY(bool initTransmittanceZero READ initTransmittanceZero WRITE setInitTransmittanceZero NOTIFY
                   initTransmittanceZeroChanged)
    Q_PROPERTY(bool terminateTransmittanceZero READ terminateTransmittanceZero WRITE setTerminateTransmittanceZero
                   NOTIFY terminateTransmittanceZeroChanged)
    Q_PROPERTY(bool mechanicalCalibrationTransmittanceZero READ mechanicalCalibrationTransmittanceZero WRITE
                   setMechanicalCalibrationTransmittanceZero NOTIFY mechanicalCalibrationTransmittanceZeroChanged)
    Q_PROPERTY(bool darkMode READ darkMode WRITE setDarkMode NOTIFY darkModeChanged)
    Q_PROPERTY(QString motorStatusDescription READ motorStatusDescription NOTIFY motorErrorCodeChanged)
    Q_PROPERTY(float transmittanceRangeMin READ transmittanceRangeMin WRITE setTransmittanceRangeMin NOTIFY
                   transmittanceRangeMinChanged)
    Q_PROPERTY(float transmittanceRangeMax READ transmittanceRangeMax WRITE setTransmittanceRangeMax NOTIFY
                   transmittanceRangeMaxChanged)

public:
    QString connectedSerialName() const { return m_connectedSerialName; }
    QString connectedSerialAlias() const { return m_alias; }
    QStringListModel *visibleSerialPortNames() { return &m_ports; }
    int currentIndexOfVisibleSerialPortNames() const { return m_currentIndex; }
    QAbstractListModel *presetListModel() { return &m_presets; }
    // Device reads: 0 while busy, as the Backend answers without asking the device.
    float transmittance() { return ++m_transmittanceReads, m_busy ? 0.0f : m_transmittance; }
    float degree() { return ++m_degreeReads, m_busy ? 0.0f : m_degree; }
    int step() { return ++m_stepReads, m_busy ? 0 : m_step; }
    double offsetDegree() const { return m_offsetDegree; }
    bool motorConnected() const { return m_motorConnected; }
    bool autoConnectPossibleSerial() const { return m_autoConnect; }
    bool initTransmittanceZero() const { return m_initZero; }
    bool terminateTransmittanceZero() const { return m_terminateZero; }
    bool mechanicalCalibrationTransmittanceZero() const { return m_calibrationZero; }
    bool darkMode() const { return m_darkMode; }
    QString motorStatusDescription() const { return m_status; }
    float transmittanceRangeMin() const { return m_rangeMin; }
    float transmittanceRangeMax() const { return m_rangeMax; }

    void setConnectedSerialName(const QString &value) { m_connectedSerialName = value; }
    void setConnectedSerialAlias(const QString &value) { store("connectedSerialAlias", m_alias, value, &FakeBackendInterface::deviceAliasChanged); }
    void setTransmittance(float value) { move("transmittance", m_transmittance, value); }
    void setDegree(float value) { move("degree", m_degree, value); }
    void setStep(int value) { move("step", m_step, value); }
    void setOffsetDegree(double value) { store("offsetDegree", m_offsetDegree, value, &FakeBackendInterface::offsetDegreeChanged, true); }
    void setAutoConnectPossibleSerial(bool value) { store("autoConnectPossibleSerial", m_autoConnect, value, &FakeBackendInterface::autoConnectPossibleSerialChanged); }
    void setInitTransmittanceZero(bool value) { store("initTransmittanceZero", m_initZero, value, &FakeBackendInterface::initTransmittanceZeroChanged); }
    void setTerminateTransmittanceZero(bool value) { store("terminateTransmittanceZero", m_terminateZero, value, &FakeBackendInterface::terminateTransmittanceZeroChanged); }
    void setMechanicalCalibrationTransmittanceZero(bool value) { store("mechanicalCalibrationTransmittanceZero", m_calibrationZero, value, &FakeBackendInterface::mechanicalCalibrationTransmittanceZeroChanged); }
    void setDarkMode(bool value) { store("darkMode", m_darkMode, value, &FakeBackendInterface::darkModeChanged); }
    // The range setters announce even a refused value, so they always emit.
    void setTransmittanceRangeMin(float value) { store("transmittanceRangeMin", m_rangeMin, value, &FakeBackendInterface::transmittanceRangeMinChanged, true); }
    void setTransmittanceRangeMax(float value) { store("transmittanceRangeMax", m_rangeMax, value, &FakeBackendInterface::transmittanceRangeMaxChanged, true); }

    Q_INVOKABLE void ConnectMotorViaSerial(int visible_serial_port_index) { record(QString("ConnectMotorViaSerial(%1)").arg(visible_serial_port_index)); }
    Q_INVOKABLE void Init() { record("Init()"); }
    Q_INVOKABLE void DisconnectMotor() { record("DisconnectMotor()"); }
    Q_INVOKABLE bool PushPreset(float transmittance);
    Q_INVOKABLE void RemovePreset(int index);
    Q_INVOKABLE void StartMotorOptimization() { record("StartMotorOptimization()"); }
    Q_INVOKABLE void StartMotorCleaningMechanics() { record("StartMotorCleaningMechanics()"); }
    Q_INVOKABLE void EmergencyStop() { record("EmergencyStop()"); }
    Q_INVOKABLE void StartScanningSerialPort() { record("StartScanningSerialPort()"); }
    Q_INVOKABLE void StopScanningSerialPort() { record("StopScanningSerialPort()"); }
    Q_INVOKABLE void MechanicalCalibration() { record("MechanicalCalibration()"); }

public slots:
    void UpdateVisibleSerialPortNames() { record("UpdateVisibleSerialPortNames()"); }

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

protected:
    // A write or operation of the screens; the test side lists them.
    virtual void record(const QString &call) = 0;
    // Six significant digits, so a single-precision value reads as the decimal it was written as.
    static QString text(double value) { return QString::number(value); }
    static QString text(int value) { return QString::number(value); }
    static QString text(bool value) { return value ? "true" : "false"; }
    static QString text(const QString &value) { return value; }

    template <typename T>
    void store(const char *name, T &field, const T &value, void (FakeBackendInterface::*notify)(), bool always = false) {
        record(QString(name) + "=" + text(value));
        if (field == value && !always)
            return;
        field = value;
        emit(this->*notify)();
    }

    // A motion command: the new position is announced through the three read-out signals.
    template <typename T>
    void move(const char *name, T &field, T value) {
        record(QString(name) + "=" + text(value));
        field = value;
        announceReadout();
    }

    void announceReadout() {
        emit motorTransmittanceChanged();
        emit motorDegreeChanged();
        emit motorStepChanged();
    }

    QString m_connectedSerialName;
    QString m_alias;
    QStringListModel m_ports;
    int m_currentIndex = 0;
    SortedFloatingListModel m_presets;
    float m_transmittance = 0.0f;
    float m_degree = 0.0f;
    int m_step = 0;
    double m_offsetDegree = 0.0;
    bool m_motorConnected = false;
    bool m_busy = false;
    bool m_autoConnect = true;
    bool m_initZero = true;
    bool m_terminateZero = true;
    bool m_calibrationZero = true;
    bool m_darkMode = false;
    QString m_status = "Ok";
    float m_rangeMin = 0.0f;
    float m_rangeMax = 1.0f;
    int m_transmittanceReads = 0;
    int m_degreeReads = 0;
    int m_stepReads = 0;
};

class FakeBackend : public FakeBackendInterface {
    Q_OBJECT
    Q_PROPERTY(QStringList calls MEMBER m_calls NOTIFY callsChanged)
    Q_PROPERTY(int transmittanceReads MEMBER m_transmittanceReads)
    Q_PROPERTY(int degreeReads MEMBER m_degreeReads)
    Q_PROPERTY(int stepReads MEMBER m_stepReads)

public:
    // A new device position, announced as the Backend announces one.
    Q_INVOKABLE void setReadout(float transmittance, float degree, int step);
    Q_INVOKABLE void setPresets(const QVariantList &percents);
    Q_INVOKABLE void setPorts(const QStringList &names) { m_ports.setStringList(QStringList{"No connection"} + names); }
    // A property changed by the Backend itself (as when a device's settings load or the link comes up),
    // read-only ones included: stored and announced, not recorded as a write of the screens; what the
    // screens write back in answer is recorded.
    Q_INVOKABLE void load(const QString &name, const QVariant &value);
    Q_INVOKABLE void clearCalls() { m_calls.clear(), emit callsChanged(); }
    // Back to a fresh Backend's state with nothing recorded.
    Q_INVOKABLE void reset();

signals:
    void callsChanged();

protected:
    void record(const QString &call) override;

private:
    QStringList m_calls;
    bool m_quiet = false;
};
