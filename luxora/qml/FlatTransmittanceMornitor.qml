// The low-height form of the monitor: 100 bars across the width that draw the permitted range, filled up to
// the current transmittance, with the read-outs over them.
import QtQuick 2.15
import QtQuick.Controls 2.15

Pane {
    id: root

    property color accentColor: "blue"
    property color foregroundColor: "white"
    property color backgroundColor: "gray"
    property bool focusDegree: false
    property string transmittanceText
    property string degreeText
    property string stepText

    readonly property bool connected: backend.motorConnected
    readonly property real shownPercent: connected ? Math.max(0, Math.min(100, Number(transmittanceText) || 0)) : 0
    // See CircularTransmittanceMornitor: the bounds are compared as the two-decimal percent that the user sees.
    readonly property real rangeMinPercent: Math.round(backend.transmittanceRangeMin * 10000) / 100
    readonly property real rangeMaxPercent: Math.round(backend.transmittanceRangeMax * 10000) / 100
    property real textOpacity: 1.0

    padding: 0

    Connections {
        target: backend
        function onMotorTransmittanceChanged() {
            if (!pulse.running)
                pulse.start();
        }
    }

    SequentialAnimation {
        id: pulse
        NumberAnimation { target: root; property: "textOpacity"; to: 0.3; duration: 500; easing.type: Easing.OutQuart }
        NumberAnimation { target: root; property: "textOpacity"; to: 1.0; duration: 500; easing.type: Easing.InOutCubic }
    }

    Repeater {
        id: bars
        objectName: "bars"
        model: 100

        Rectangle {
            readonly property bool hit: index < root.shownPercent
            readonly property bool inRange: index >= root.rangeMinPercent && index <= root.rangeMaxPercent
            readonly property real half: root.availableHeight / 2

            x: root.availableWidth * index / 100
            width: (root.availableWidth - 100) / 100
            radius: width / 4
            height: hit ? Math.max(half, 60) : (half > 60 ? half - 4 : 56)
            anchors.verticalCenter: parent.verticalCenter
            color: hit && !root.focusDegree ? root.accentColor : root.foregroundColor
            opacity: inRange ? (hit ? 0.5 : 0.25) : 0
        }
    }

    Column {
        anchors.centerIn: parent
        opacity: root.textOpacity

        Label {
            objectName: "flatMainText"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.connected
            text: root.focusDegree ? root.degreeText + "°" : root.transmittanceText + "%"
            color: root.foregroundColor
            font.bold: true
            font.pointSize: 30
            font.letterSpacing: -1
        }

        Label {
            objectName: "flatSecondText"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.connected
            text: root.focusDegree ? "TC: " + root.transmittanceText + "%" : "deg: " + root.degreeText + "°"
            color: root.backgroundColor
            style: Text.Outline
            styleColor: root.foregroundColor
            font.pointSize: 14
            font.letterSpacing: -0.5
        }
    }

    Label {
        objectName: "flatStepsText"
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        opacity: root.textOpacity
        visible: root.connected && root.height >= 120
        text: "STEPS: " + root.stepText
        color: root.foregroundColor
        font.letterSpacing: -1
    }
}
