// The System page: behaviour switches, the two maintenance routines behind a warning, and the live log.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQuick.Layouts 1.15

Pane {
    id: root

    // A well-formed local-file URL for the folder, on drive-letter and slash-rooted paths alike; each part of
    // the path is escaped, since the data folder's own name holds a space.
    function folderUrl(path) {
        var parts = String(path).replace(/\\/g, "/").split("/").map(function (part) {
            return encodeURIComponent(part).replace(/%3A/g, ":");
        });
        var joined = parts.join("/");
        return "file://" + (joined.charAt(0) === "/" ? joined : "/" + joined);
    }

    padding: 0

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Pane {
            Material.elevation: 1
            Layout.fillWidth: true
            Layout.preferredHeight: 230
            Layout.maximumHeight: 230

            ListView {
                id: settingsList
                objectName: "settingsList"
                anchors.fill: parent
                clip: true
                spacing: -10
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {}

                model: ListModel {
                    ListElement { label: "Dark mode"; backendName: "darkMode" }
                    ListElement { label: "Connect detected device after app is started"; backendName: "autoConnectPossibleSerial" }
                    ListElement { label: "Reset to 0% when device is connected"; backendName: "initTransmittanceZero" }
                    ListElement { label: "Reset to 0% when device is disconnected or app is closed"; backendName: "terminateTransmittanceZero" }
                    ListElement { label: "Reset to 0% after mechanical calibration"; backendName: "mechanicalCalibrationTransmittanceZero" }
                }

                delegate: CheckBox {
                    id: box
                    readonly property string backendProperty: model.backendName

                    objectName: backendProperty + "CheckBox"
                    width: settingsList.width
                    text: model.label
                    checked: backend[backendProperty]

                    // Every change of the box, by the user or by the backend, goes back to the property.
                    onCheckedChanged: backend[backendProperty] = checked

                    contentItem: Label {
                        leftPadding: box.indicator.width + box.spacing
                        text: box.text
                        font: box.font
                        wrapMode: Text.Wrap
                        verticalAlignment: Text.AlignVCenter
                    }
                }
            }
        }

        Pane {
            id: maintenanceRow
            objectName: "maintenanceRow"
            Material.elevation: 1
            Layout.fillWidth: true
            Layout.preferredHeight: 80
            padding: 0
            enabled: !backend.busy && backend.motorConnected
            opacity: enabled ? 1.0 : 0.3

            RowLayout {
                anchors.fill: parent
                spacing: 0

                MaintenanceButton {
                    objectName: "startCleaningButton"
                    Layout.preferredWidth: maintenanceRow.width / 2
                    Layout.fillHeight: true
                    text: "Start Cleaning"
                    onClicked: {
                        maintenancePopup.task = "Cleaning";
                        maintenancePopup.open();
                    }
                }

                MaintenanceButton {
                    objectName: "startOptimizationButton"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    text: "Start Optimization"
                    onClicked: {
                        maintenancePopup.task = "Optimization";
                        maintenancePopup.open();
                    }
                }
            }
        }

        LogViewer {
            id: logViewer
            objectName: "logViewer"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 70
            hoverEnabled: true

            RoundButton {
                objectName: "openLogFolderButton"
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                flat: true
                Material.theme: Material.Dark
                font.pointSize: 9
                ToolTip.visible: logViewer.hovered
                ToolTip.text: log.saveFile
                onClicked: Qt.openUrlExternally(root.folderUrl(log.saveDir))

                MaterialDesignIcon {
                    name: "folder-open"
                }
            }
        }
    }

    component MaintenanceButton: Button {
        id: button

        spacing: 0
        padding: 0

        background: Rectangle {
            color: "#CE2029"
        }

        contentItem: Item {
            Rectangle {
                anchors.centerIn: parent
                width: button.width - 4
                height: button.height - 16
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
                anchors.fill: parent
                text: button.text
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.Wrap
                font.bold: true
                color: "Black"
                style: Text.Outline
                styleColor: "White"
            }
        }
    }

    Popup {
        id: maintenancePopup
        objectName: "maintenancePopup"
        property string task: ""

        anchors.centerIn: parent
        width: root.width * 0.9
        modal: true
        focus: true

        background: Rectangle {
            color: root.Material.background
            radius: 4
        }

        ColumnLayout {
            anchors.fill: parent

            Label {
                text: "WARNING"
                font.bold: true
            }

            Label {
                objectName: "maintenanceMessage"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: " This operation will randomly rotate the motor for several minutes, and you will lose control of the device until this operation is finished. Make sure there is nothing penetrating the device hole to avoid unexpected damage to your system. Press STOP button above or close this application for terminating the operation. 20 minutes cool down period is highly recommended after the operation."
            }

            RowLayout {
                Layout.alignment: Qt.AlignRight

                Button {
                    objectName: "maintenanceCancel"
                    text: "Cancel"
                    flat: true
                    font.capitalization: Font.MixedCase
                    onClicked: maintenancePopup.close()
                }

                Button {
                    objectName: "maintenanceStart"
                    text: "Start"
                    flat: true
                    font.capitalization: Font.MixedCase
                    Material.foreground: Material.accent
                    onClicked: {
                        if (maintenancePopup.task === "Cleaning")
                            backend.StartMotorCleaningMechanics();
                        else if (maintenancePopup.task === "Optimization")
                            backend.StartMotorOptimization();
                        maintenancePopup.close();
                    }
                }
            }
        }
    }
}
