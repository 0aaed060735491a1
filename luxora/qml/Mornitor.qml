// The read-out above the Control and Calibration pages: the circular instrument when there is height for it,
// the flat gauge otherwise. It also produces the texts that the pages use as field hints.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15

Pane {
    id: root

    property bool focusDegree: false
    property bool dialWanted: true

    // Each read is a device exchange, so the values are read once per change notification and kept here;
    // everything else works from the texts.
    property real transmittanceValue: 0
    property real degreeValue: 0
    property int stepValue: 0

    readonly property string transmittanceText: String(Math.round(transmittanceValue * 1000) / 10)
    readonly property string degreeText: String(Math.round(degreeValue * 10) / 10)
    readonly property string stepText: String(stepValue)
    readonly property bool circular: availableHeight >= 250

    Material.elevation: 1
    opacity: backend.busy ? 0.3 : 1.0

    Component.onCompleted: {
        transmittanceValue = backend.transmittance;
        degreeValue = backend.degree;
        stepValue = backend.step;
    }

    Connections {
        target: backend
        function onMotorTransmittanceChanged() { root.transmittanceValue = backend.transmittance; }
        function onMotorDegreeChanged() { root.degreeValue = backend.degree; }
        function onMotorStepChanged() { root.stepValue = backend.step; }
    }

    // The dial is built when it is first shown, or once dialWanted is set; the window sets that after its first
    // frame, which the dial, too large for the opening height, takes no part in.
    Loader {
        anchors.centerIn: parent
        width: Math.min(root.availableWidth, root.availableHeight) - 10
        height: width
        active: root.circular || root.dialWanted

        // By name, so that its types, the shapes among them, load only with it.
        Component.onCompleted: setSource("CircularMornitor.qml", { "monitor": root })
    }

    FlatTransmittanceMornitor {
        objectName: "flatGauge"
        visible: !root.circular
        anchors.fill: parent
        accentColor: root.Material.accent
        foregroundColor: root.Material.foreground
        backgroundColor: root.Material.background
        focusDegree: root.focusDegree
        transmittanceText: root.transmittanceText
        degreeText: root.degreeText
        stepText: root.stepText
    }
}
