// The circular form of the monitor: the degree dial around the transmittance gauge, showing the values and
// colours of the monitor that loads it.
import QtQuick 2.15
import QtQuick.Controls.Material 2.15

CircularDegreeMornitor {
    id: root

    // The Mornitor whose values are shown; given when the dial is loaded, before any binding reads it.
    property Item monitor

    objectName: "degreeDial"
    visible: monitor.circular
    accentColor: monitor.Material.accent
    foregroundColor: monitor.Material.foreground
    backgroundColor: monitor.Material.background
    focusDegree: monitor.focusDegree
    transmittanceText: monitor.transmittanceText
    degreeText: monitor.degreeText
    stepText: monitor.stepText
    degreeValue: Number(monitor.degreeText)

    CircularTransmittanceMornitor {
        objectName: "transmittanceGauge"
        anchors.centerIn: parent
        width: parent.width - 70
        height: width
        accentColor: root.monitor.Material.accent
        foregroundColor: root.monitor.Material.foreground
        backgroundColor: root.monitor.Material.background
        focusDegree: root.monitor.focusDegree
        transmittanceText: root.monitor.transmittanceText
        degreeText: root.monitor.degreeText
        stepText: root.monitor.stepText
    }
}
