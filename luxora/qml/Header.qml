// The strip above the pages: emergency stop, device status, port selector and device alias.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQuick.Layouts 1.15
import "Define.js" as Global

Pane {
    id: root

    // Set by the window once its first frame is drawn.
    property bool connectedPartsWanted: true

    Material.elevation: 0
    padding: 6

    // The emergency stop and the alias editor show only while a device is connected; they are built once the
    // window asks for them after its first frame, or at once when a device connects before that.
    Loader {
        id: stopSlot
        x: 0
        y: 0
        width: 150
        height: 70
        active: root.connectedPartsWanted || backend.motorConnected
        sourceComponent: Component {
            Button {
                id: stopButton
                objectName: "stopButton"
                visible: backend.motorConnected
                spacing: 0
                padding: 0
                hoverEnabled: true

                onClicked: backend.EmergencyStop()

                background: Rectangle {
                    color: "#CE2029"
                }

                contentItem: Item {
                    Rectangle {
                        anchors.centerIn: parent
                        width: stopButton.width - 4
                        height: stopButton.height - 16
                        radius: 1
                        color: "transparent"
                        border.color: "white"
                        border.width: 1
                    }

                    MaterialDesignIcon {
                        name: "alert"
                        color: "#fde00d"
                        opacity: 1.0
                    }

                    Text {
                        objectName: "stopText"
                        x: 8
                        width: parent.width - 8
                        anchors.verticalCenter: parent.verticalCenter
                        horizontalAlignment: Text.AlignHCenter
                        text: "STOP"
                        font.family: Global.impactFamily()
                        font.pointSize: 40
                        font.letterSpacing: 8
                        font.weight: Font.Black
                        font.bold: true
                        style: Text.Outline
                        styleColor: "White"
                        color: stopButton.hovered ? "Black" : "transparent"
                        opacity: stopButton.hovered ? 1.0 : 0.1
                    }
                }
            }
        }
    }

    Row {
        objectName: "statusLine"
        anchors.top: stopSlot.bottom
        anchors.left: stopSlot.left
        visible: backend.motorConnected

        Label {
            text: "Status: "
            font.pointSize: 10
            font.letterSpacing: -1
        }

        Label {
            objectName: "statusText"
            text: backend.motorStatusDescription
            font.pointSize: 10
            font.letterSpacing: -1
            color: text === "Ok" ? root.Material.foreground : "#CE2029"
        }
    }

    ColumnLayout {
        anchors.top: parent.top
        anchors.right: parent.right
        width: root.width - 185
        spacing: 0

        SerialListComboBox {
            id: portSelector
            objectName: "portSelector"
            Layout.alignment: Qt.AlignRight
            font.pixelSize: 13
            Material.elevation: 0

            // Finishing the running cycle on connection leaves the selector at full opacity.
            SequentialAnimation on opacity {
                running: !backend.motorConnected
                loops: Animation.Infinite
                alwaysRunToEnd: true
                NumberAnimation { to: 0.5; duration: 500; easing.type: Easing.OutQuart }
                NumberAnimation { to: 1.0; duration: 500; easing.type: Easing.InOutCubic }
                PauseAnimation { duration: 500 }
            }
        }

        Loader {
            Layout.fillWidth: true
            visible: backend.motorConnected
            active: root.connectedPartsWanted || backend.motorConnected
            sourceComponent: Component {
                LabeledTextField {
                    id: aliasEditor
                    objectName: "aliasEditor"
                    padding: 0
                    enabled: !backend.busy
                    label: "Alias:"
                    labelFont.pixelSize: 13
                    labelFont.letterSpacing: -0.5
                    text: backend.connectedSerialAlias
                    textLayoutFillWidth: true
                    textLayoutRightMargin: 25
                    textHorizontalAlignment: TextInput.AlignRight
                    textFont.bold: true
                    textFont.pixelSize: 20
                    textFont.letterSpacing: -0.5
                    textFont.family: Global.impactFamily()
                    maximumLength: 16

                    onApplied: backend.connectedSerialAlias = text
                }
            }
        }
    }
}
