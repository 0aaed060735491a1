// The degree dial: one turn of the dial is two turns of the motor, 0° at the bottom, ±359.99° at the top.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Shapes 1.15

CircularSlider {
    id: root

    property color accentColor: "blue"
    property color foregroundColor: "white"
    property color backgroundColor: "gray"
    property bool focusDegree: false
    property string transmittanceText
    property string degreeText
    property string stepText
    property real degreeValue: 0

    // Only the dial is limited; the texts show the degree as it is.
    readonly property real clampedDegree: Math.max(minValue, Math.min(maxValue, degreeValue))
    readonly property bool connected: backend.motorConnected

    minValue: -359.99
    maxValue: 359.99
    stepSize: 0.01
    snap: true
    hideTrack: true
    hideProgress: true
    trackColor: backgroundColor
    // The dial only displays: the slider hands the value back to this binding right after a click or drag.
    value: clampedDegree

    handle: Component {
        Item {
            id: pointer
            readonly property real triangleWidth: root.width * 0.03
            readonly property real triangleHeight: root.height * 0.03

            Shape {
                objectName: "dialPointer"
                x: (pointer.width - pointer.triangleWidth) / 2
                y: (pointer.height - 4 * pointer.triangleHeight) / 2
                width: pointer.triangleWidth
                height: pointer.triangleHeight

                // The outline starts and ends at the tip: Qt Quick's OpenGL renderer leaves out the fill of this
                // closed path when it starts at the left end of the flat edge, and draws the outline only.
                ShapePath {
                    strokeColor: root.accentColor
                    strokeWidth: 1
                    fillColor: root.accentColor
                    startX: pointer.triangleWidth / 2
                    startY: pointer.triangleHeight
                    PathLine { x: 0; y: 0 }
                    PathLine { x: pointer.triangleWidth; y: 0 }
                    PathLine { x: pointer.triangleWidth / 2; y: pointer.triangleHeight }
                }
            }
        }
    }

    Rectangle {
        objectName: "dialRing"
        anchors.fill: parent
        anchors.margins: 25
        radius: width / 2
        color: "transparent"
        border.width: 2
        border.color: root.foregroundColor
        opacity: root.connected ? 0.5 : 0.3
    }

    Item {
        anchors.fill: parent
        z: 10
        opacity: root.connected ? 0.8 : 0.3

        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.verticalCenter: parent.top
            text: "360° | -360°"
            color: root.foregroundColor
            font.letterSpacing: -1
        }
        Label {
            anchors.right: parent.right
            anchors.rightMargin: -15
            anchors.verticalCenter: parent.verticalCenter
            text: "-180°"
            color: root.foregroundColor
            font.letterSpacing: -1
        }
        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.verticalCenter: parent.bottom
            text: "0°"
            color: root.foregroundColor
            font.letterSpacing: -1
        }
        Label {
            anchors.left: parent.left
            anchors.leftMargin: -10
            anchors.verticalCenter: parent.verticalCenter
            text: "180°"
            color: root.foregroundColor
            font.letterSpacing: -1
        }
    }
}
