#include "FakeBackend.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalBlocker>

// As the Backend: refused once the list holds 40 presets.
bool FakeBackendInterface::PushPreset(float transmittance) {
    record("PushPreset(" + text(transmittance) + ")");
    if (m_presets.Count() >= 40)
        return false;
    m_presets.Insert(transmittance);
    return true;
}

void FakeBackendInterface::RemovePreset(int index) {
    record(QString("RemovePreset(%1)").arg(index));
    m_presets.Remove(index);
}

void FakeBackend::record(const QString &call) {
    if (m_quiet)
        return;
    m_calls.append(call);
    emit callsChanged();
}

void FakeBackend::setReadout(float transmittance, float degree, int step) {
    m_transmittance = transmittance;
    m_degree = degree;
    m_step = step;
    announceReadout();
}

void FakeBackend::setPresets(const QVariantList &percents) {
    while (m_presets.Count() > 0)
        m_presets.Remove(0);
    for (const QVariant &percent : percents)
        m_presets.Insert(percent.toFloat());
}

void FakeBackend::load(const QString &name, const QVariant &value) {
    const QMetaProperty property = metaObject()->property(metaObject()->indexOfProperty(name.toUtf8().constData()));
    {
        const QSignalBlocker blocker(this);
        m_quiet = true;
        // The properties that QML may only read are the Backend's own to change.
        if (name == "motorConnected")
            m_motorConnected = value.toBool();
        else if (name == "currentIndexOfVisibleSerialPortNames")
            m_currentIndex = value.toInt();
        else if (name == "motorStatusDescription")
            m_status = value.toString();
        else
            property.write(this, value);
        m_quiet = false;
    }
    // The Backend announces every value it loads, changed or not.
    const QMetaMethod notify = property.notifySignal();
    if (notify.parameterCount() == 0)
        notify.invoke(this, Qt::DirectConnection);
    else
        emit motorConnectedChanged(m_motorConnected);
}

void FakeBackend::reset() {
    m_quiet = true;
    m_motorConnected = false;
    m_busy = false;
    m_currentIndex = 0;
    m_status = "Ok";
    setConnectedSerialName(QString());
    setConnectedSerialAlias(QString());
    setAutoConnectPossibleSerial(true);
    setInitTransmittanceZero(true);
    setTerminateTransmittanceZero(true);
    setMechanicalCalibrationTransmittanceZero(true);
    setDarkMode(false);
    setTransmittanceRangeMin(0.0f);
    setTransmittanceRangeMax(1.0f);
    setOffsetDegree(0.0);
    m_quiet = false;
    emit motorConnectedChanged(false);
    emit busyChanged();
    emit currentIndexOfVisibleSerialPortNamesChanged();
    emit motorErrorCodeChanged();
    setPorts({});
    setPresets({});
    setReadout(0.0f, 0.0f, 0);
    m_transmittanceReads = m_degreeReads = m_stepReads = 0;
    clearCalls();
}
