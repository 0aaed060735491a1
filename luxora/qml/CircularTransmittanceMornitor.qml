// The transmittance gauge inside the dial: 100 ticks that draw the permitted range, filled up to the
// current transmittance, around the transmittance, degree and step read-outs.
import QtQuick 2.15
import QtQuick.Controls 2.15
import "Define.js" as Global

CircularSlider {
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
    // The range in percent to two decimals, as the Control page shows it; compared unrounded, a single-precision
    // bound such as 0.3 would lie just above 30 and hide its own tick.
    readonly property real rangeMinPercent: Math.round(backend.transmittanceRangeMin * 10000) / 100
    readonly property real rangeMaxPercent: Math.round(backend.transmittanceRangeMax * 10000) / 100
    readonly property real transmittancePoints: width * (focusDegree ? 0.06 : 0.14)
    readonly property real degreePoints: width * (focusDegree ? 0.14 : 0.06)
    property real textOpacity: 1.0

    interactive: false
    hideTrack: true
    hideProgress: true
    stepSize: 0.01
    value: Math.round(shownPercent * 100) / 10000

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
        id: ticks
        objectName: "ticks"
        model: 100

        Rectangle {
            readonly property bool hit: index / 100 < root.value
            readonly property bool inRange: index >= root.rangeMinPercent && index <= root.rangeMaxPercent

            x: (root.width - width) / 2
            y: 0
            width: 4
            height: hit ? root.width / 6 : root.width / 6 - 10
            radius: 1
            color: hit && !root.focusDegree ? root.accentColor : root.foregroundColor
            opacity: inRange ? (hit ? 0.5 : 0.25) : 0
            transform: Rotation {
                origin.x: 2
                origin.y: root.height / 2
                angle: index * 3.6
            }
        }
    }

    Column {
        anchors.centerIn: parent
        opacity: root.textOpacity

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.connected

            Label {
                anchors.baseline: transmittanceNumber.baseline
                visible: root.focusDegree
                text: "TC: "
                color: root.foregroundColor
                font.pointSize: Math.max(10, root.transmittancePoints - 5)
                font.letterSpacing: -1
            }
            Label {
                id: transmittanceNumber
                objectName: "circularTransmittanceText"
                text: root.transmittanceText + "%"
                color: root.foregroundColor
                font.family: root.focusDegree ? "Arial" : Global.impactFamily()
                font.bold: !root.focusDegree
                font.pointSize: Math.max(root.focusDegree ? 10 : 30, root.transmittancePoints)
                font.letterSpacing: -1
            }
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.connected

            Label {
                anchors.baseline: degreeNumber.baseline
                visible: !root.focusDegree
                text: "deg: "
                color: root.foregroundColor
                font.pointSize: Math.max(10, root.degreePoints - 5)
                font.letterSpacing: -1
            }
            Label {
                id: degreeNumber
                objectName: "circularDegreeText"
                text: root.degreeText + "°"
                color: root.foregroundColor
                font.family: root.focusDegree ? Global.impactFamily() : "Arial"
                font.bold: root.focusDegree
                font.pointSize: Math.max(root.focusDegree ? 30 : 10, root.degreePoints)
                font.letterSpacing: -1
            }
        }

        Label {
            objectName: "circularStepsText"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.connected
            text: "STEPS: " + root.stepText
            color: root.foregroundColor
            font.pointSize: Math.max(6, root.width * 0.06 - 10)
            font.letterSpacing: -1
        }
    }
}
