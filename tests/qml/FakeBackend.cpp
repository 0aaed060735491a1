#include "FakeBackend.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalBlocker>

FakeBackend::FakeBackend(QObject *parent) : QObject(parent) {
    reset();
}

void FakeBackend::record(const QString &call) {
    if (m_quiet)
        return;
    m_calls.append(call);
    emit callsChanged();
}

float FakeBackend::transmittance() {
    ++m_transmittanceReads;
    return m_busy ? 0.0f : m_transmittance;
}

float FakeBackend::degree() {
    ++m_degreeReads;
    return m_busy ? 0.0f : m_degree;
}

int FakeBackend::step() {
    ++m_stepReads;
    return m_busy ? 0 : m_step;
}

void FakeBackend::setConnectedSerialName(const QString &value) {
    m_connectedSerialName = value;
}

void FakeBackend::setConnectedSerialAlias(const QString &value) {
    record("connectedSerialAlias=" + value);
    if (value == m_connectedSerialAlias)
        return;
    m_connectedSerialAlias = value;
    emit deviceAliasChanged();
}

void FakeBackend::setCurrentIndexOfVisibleSerialPortNames(int value) {
    m_currentIndex = value;
    emit currentIndexOfVisibleSerialPortNamesChanged();
}

// A motion command: like the Backend, the new position is announced through the three read-out signals.
void FakeBackend::setTransmittance(float value) {
    record("transmittance=" + QString::number(value));
    m_transmittance = value;
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();
}

void FakeBackend::setDegree(float value) {
    record("degree=" + QString::number(value));
    m_degree = value;
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();
}

void FakeBackend::setStep(int value) {
    record("step=" + QString::number(value));
    m_step = value;
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();
}

void FakeBackend::setOffsetDegree(double value) {
    record("offsetDegree=" + QString::number(value));
    m_offsetDegree = value;
    emit offsetDegreeChanged();
}

void FakeBackend::setMotorConnected(bool value) {
    if (value == m_motorConnected)
        return;
    m_motorConnected = value;
    emit motorConnectedChanged(value);
    emit currentIndexOfVisibleSerialPortNamesChanged();
}

void FakeBackend::setBusy(bool value) {
    if (value == m_busy)
        return;
    m_busy = value;
    emit busyChanged();
}

void FakeBackend::setAutoConnectPossibleSerial(bool value) {
    record(QString("autoConnectPossibleSerial=") + (value ? "true" : "false"));
    if (value == m_autoConnect)
        return;
    m_autoConnect = value;
    emit autoConnectPossibleSerialChanged();
}

void FakeBackend::setInitTransmittanceZero(bool value) {
    record(QString("initTransmittanceZero=") + (value ? "true" : "false"));
    if (value == m_initZero)
        return;
    m_initZero = value;
    emit initTransmittanceZeroChanged();
}

void FakeBackend::setTerminateTransmittanceZero(bool value) {
    record(QString("terminateTransmittanceZero=") + (value ? "true" : "false"));
    if (value == m_terminateZero)
        return;
    m_terminateZero = value;
    emit terminateTransmittanceZeroChanged();
}

void FakeBackend::setMechanicalCalibrationTransmittanceZero(bool value) {
    record(QString("mechanicalCalibrationTransmittanceZero=") + (value ? "true" : "false"));
    if (value == m_calibrationZero)
        return;
    m_calibrationZero = value;
    emit mechanicalCalibrationTransmittanceZeroChanged();
}

void FakeBackend::setDarkMode(bool value) {
    record(QString("darkMode=") + (value ? "true" : "false"));
    if (value == m_darkMode)
        return;
    m_darkMode = value;
    emit darkModeChanged();
}

void FakeBackend::setMotorStatusDescription(const QString &value) {
    m_status = value;
    emit motorErrorCodeChanged();
}

void FakeBackend::setTransmittanceRangeMin(float value) {
    record("transmittanceRangeMin=" + QString::number(value));
    m_rangeMin = value;
    emit transmittanceRangeMinChanged();
}

void FakeBackend::setTransmittanceRangeMax(float value) {
    record("transmittanceRangeMax=" + QString::number(value));
    m_rangeMax = value;
    emit transmittanceRangeMaxChanged();
}

void FakeBackend::UpdateVisibleSerialPortNames() {
    record("UpdateVisibleSerialPortNames()");
}

void FakeBackend::ConnectMotorViaSerial(int visible_serial_port_index) {
    record(QString("ConnectMotorViaSerial(%1)").arg(visible_serial_port_index));
}

void FakeBackend::Init() {
    record("Init()");
}

void FakeBackend::DisconnectMotor() {
    record("DisconnectMotor()");
}

// As the Backend: refused once the list holds 40 presets.
bool FakeBackend::PushPreset(float transmittance) {
    record("PushPreset(" + QString::number(transmittance) + ")");
    if (m_presets.Count() >= 40)
        return false;
    m_presets.Insert(transmittance);
    return true;
}

void FakeBackend::RemovePreset(int index) {
    record(QString("RemovePreset(%1)").arg(index));
    m_presets.Remove(index);
}

void FakeBackend::StartMotorOptimization() {
    record("StartMotorOptimization()");
}

void FakeBackend::StartMotorCleaningMechanics() {
    record("StartMotorCleaningMechanics()");
}

void FakeBackend::EmergencyStop() {
    record("EmergencyStop()");
}

void FakeBackend::StartScanningSerialPort() {
    record("StartScanningSerialPort()");
}

void FakeBackend::StopScanningSerialPort() {
    record("StopScanningSerialPort()");
}

void FakeBackend::MechanicalCalibration() {
    record("MechanicalCalibration()");
}

void FakeBackend::setReadout(float transmittance, float degree, int step) {
    m_transmittance = transmittance;
    m_degree = degree;
    m_step = step;
    emit motorTransmittanceChanged();
    emit motorDegreeChanged();
    emit motorStepChanged();
}

void FakeBackend::setPresets(const QVariantList &percents) {
    while (m_presets.Count() > 0)
        m_presets.Remove(0);
    for (const QVariant &percent : percents)
        m_presets.Insert(percent.toFloat());
}

void FakeBackend::setPorts(const QStringList &names) {
    m_ports.setStringList(QStringList{"No connection"} + names);
}

void FakeBackend::load(const QString &name, const QVariant &value) {
    const int index = metaObject()->indexOfProperty(name.toUtf8().constData());
    if (index < 0)
        return;
    const QMetaProperty property = metaObject()->property(index);
    {
        const QSignalBlocker blocker(this);
        m_quiet = true;
        property.write(this, value);
        m_quiet = false;
    }
    // Announced like the Backend's own loading, which emits whether or not the value changed; what the screens
    // write back in answer is recorded.
    const QMetaMethod notify = property.notifySignal();
    if (notify.parameterCount() == 0)
        notify.invoke(this, Qt::DirectConnection);
}

void FakeBackend::clearCalls() {
    m_calls.clear();
    emit callsChanged();
}

void FakeBackend::reset() {
    m_quiet = true;
    setMotorConnected(false);
    setBusy(false);
    setConnectedSerialName(QString());
    setConnectedSerialAlias(QString());
    setCurrentIndexOfVisibleSerialPortNames(0);
    setAutoConnectPossibleSerial(true);
    setInitTransmittanceZero(true);
    setTerminateTransmittanceZero(true);
    setMechanicalCalibrationTransmittanceZero(true);
    setDarkMode(false);
    setMotorStatusDescription("Ok");
    setTransmittanceRangeMin(0.0f);
    setTransmittanceRangeMax(1.0f);
    setOffsetDegree(0.0);
    m_quiet = false;
    setPorts({});
    setPresets({});
    setReadout(0.0f, 0.0f, 0);
    m_transmittanceReads = 0;
    m_degreeReads = 0;
    m_stepReads = 0;
    clearCalls();
}
