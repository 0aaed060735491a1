// A stand-in for the Backend with the same QML-facing names, types and notify signals. It keeps every value
// the screens write, lists the operations they call, and counts the reads that are device exchanges.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringListModel>
#include <QVariant>
#include <QVariantList>

#include "settings/SortedFloatingListModel.h"

class FakeBackend : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString connectedSerialName READ connectedSerialName WRITE setConnectedSerialName NOTIFY motorConnectedChanged)
    Q_PROPERTY(QString connectedSerialAlias READ connectedSerialAlias WRITE setConnectedSerialAlias NOTIFY deviceAliasChanged)
    Q_PROPERTY(QStringListModel *visibleSerialPortNames READ visibleSerialPortNames NOTIFY visibleSerialPortNamesChanged)
    Q_PROPERTY(int currentIndexOfVisibleSerialPortNames READ currentIndexOfVisibleSerialPortNames WRITE
                   setCurrentIndexOfVisibleSerialPortNames NOTIFY currentIndexOfVisibleSerialPortNamesChanged)
    Q_PROPERTY(QAbstractListModel *presetListModel READ presetListModel NOTIFY presetListModelChanged)
    Q_PROPERTY(float transmittance READ transmittance WRITE setTransmittance NOTIFY motorTransmittanceChanged)
    Q_PROPERTY(float degree READ degree WRITE setDegree NOTIFY motorDegreeChanged)
    Q_PROPERTY(int step READ step WRITE setStep NOTIFY motorStepChanged)
    Q_PROPERTY(double offsetDegree READ offsetDegree WRITE setOffsetDegree NOTIFY offsetDegreeChanged)
    Q_PROPERTY(bool motorConnected READ motorConnected WRITE setMotorConnected NOTIFY motorConnectedChanged)
    Q_PROPERTY(bool busy READ busy WRITE setBusy NOTIFY busyChanged)
    Q_PROPERTY(bool autoConnectPossibleSerial READ autoConnectPossibleSerial WRITE setAutoConnectPossibleSerial NOTIFY
                   autoConnectPossibleSerialChanged)
    Q_PROPERTY(bool initTransmittanceZero READ initTransmittanceZero WRITE setInitTransmittanceZero NOTIFY
                   initTransmittanceZeroChanged)
    Q_PROPERTY(bool terminateTransmittanceZero READ terminateTransmittanceZero WRITE setTerminateTransmittanceZero
                   NOTIFY terminateTransmittanceZeroChanged)
    Q_PROPERTY(bool mechanicalCalibrationTransmittanceZero READ mechanicalCalibrationTransmittanceZero WRITE
                   setMechanicalCalibrationTransmittanceZero NOTIFY mechanicalCalibrationTransmittanceZeroChanged)
    Q_PROPERTY(bool darkMode READ darkMode WRITE setDarkMode NOTIFY darkModeChanged)
    Q_PROPERTY(QString motorStatusDescription READ motorStatusDescription WRITE setMotorStatusDescription NOTIFY
                   motorErrorCodeChanged)
    Q_PROPERTY(float transmittanceRangeMin READ transmittanceRangeMin WRITE setTransmittanceRangeMin NOTIFY
                   transmittanceRangeMinChanged)
    Q_PROPERTY(float transmittanceRangeMax READ transmittanceRangeMax WRITE setTransmittanceRangeMax NOTIFY
                   transmittanceRangeMaxChanged)

    // Test side only: what the screens did, and how often they read the three device values.
    Q_PROPERTY(QStringList calls READ calls NOTIFY callsChanged)
    Q_PROPERTY(int transmittanceReads MEMBER m_transmittanceReads)
    Q_PROPERTY(int degreeReads MEMBER m_degreeReads)
    Q_PROPERTY(int stepReads MEMBER m_stepReads)

public:
    explicit FakeBackend(QObject *parent = nullptr);

    QString connectedSerialName() const { return m_connectedSerialName; }
    QString connectedSerialAlias() const { return m_connectedSerialAlias; }
    QStringListModel *visibleSerialPortNames() { return &m_ports; }
    int currentIndexOfVisibleSerialPortNames() const { return m_currentIndex; }
    QAbstractListModel *presetListModel() { return &m_presets; }
    float transmittance();
    float degree();
    int step();
    double offsetDegree() const { return m_offsetDegree; }
    bool motorConnected() const { return m_motorConnected; }
    bool busy() const { return m_busy; }
    bool autoConnectPossibleSerial() const { return m_autoConnect; }
    bool initTransmittanceZero() const { return m_initZero; }
    bool terminateTransmittanceZero() const { return m_terminateZero; }
    bool mechanicalCalibrationTransmittanceZero() const { return m_calibrationZero; }
    bool darkMode() const { return m_darkMode; }
    QString motorStatusDescription() const { return m_status; }
    float transmittanceRangeMin() const { return m_rangeMin; }
    float transmittanceRangeMax() const { return m_rangeMax; }
    QStringList calls() const { return m_calls; }

    void setConnectedSerialName(const QString &value);
    void setConnectedSerialAlias(const QString &value);
    void setCurrentIndexOfVisibleSerialPortNames(int value);
    void setTransmittance(float value);
    void setDegree(float value);
    void setStep(int value);
    void setOffsetDegree(double value);
    void setMotorConnected(bool value);
    void setBusy(bool value);
    void setAutoConnectPossibleSerial(bool value);
    void setInitTransmittanceZero(bool value);
    void setTerminateTransmittanceZero(bool value);
    void setMechanicalCalibrationTransmittanceZero(bool value);
    void setDarkMode(bool value);
    void setMotorStatusDescription(const QString &value);
    void setTransmittanceRangeMin(float value);
    void setTransmittanceRangeMax(float value);

    Q_INVOKABLE void UpdateVisibleSerialPortNames();
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

    // Test side: a device reading without a command, announced as the Backend announces a new position.
    Q_INVOKABLE void setReadout(float transmittance, float degree, int step);
    // Test side: the preset list and port list as the device settings would leave them.
    Q_INVOKABLE void setPresets(const QVariantList &percents);
    Q_INVOKABLE void setPorts(const QStringList &names);
    // Test side: a property changed by the Backend itself (as when a device's settings load): stored and
    // announced, not recorded as a write of the screens.
    Q_INVOKABLE void load(const QString &name, const QVariant &value);
    // Test side: forgets the recorded calls.
    Q_INVOKABLE void clearCalls();
    // Test side: back to the state of a fresh Backend with nothing recorded.
    Q_INVOKABLE void reset();

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
    void callsChanged();

private:
    void record(const QString &call);

    QString m_connectedSerialName;
    QString m_connectedSerialAlias;
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
    QStringList m_calls;
    bool m_quiet = false;
    int m_transmittanceReads = 0;
    int m_degreeReads = 0;
    int m_stepReads = 0;
};
