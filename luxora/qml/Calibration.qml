// The Calibration page: mechanical calibration, rotation to any angle, and the transmittance offset.
// Free rotation can leave the permitted range, so the rotation controls unlock only after a confirmation.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQuick.Layouts 1.15

Pane {
    id: root

    property string readonlyDegreeText: ""
    property alias enableSetDegree: rotarySwitch.checked

    // Each rotation reads the device's angle afresh: there is no local accumulation.
    function rotateBy(delta) {
        backend.degree = backend.degree + delta;
    }

    enabled: !backend.busy && backend.motorConnected
    opacity: enabled ? 1.0 : 0.3
    padding: 0

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Button {
            objectName: "mechanicalCalibrationButton"
            Layout.fillWidth: true
            onClicked: calibrationPopup.open()

            contentItem: Text {
                text: "Mechanical Calibration"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.Wrap
                font.bold: true
                color: "Black"
                style: Text.Outline
                styleColor: "White"
            }
        }

        Pane {
            Material.elevation: 1
            Layout.fillWidth: true
            Layout.fillHeight: true

            ColumnLayout {
                anchors.fill: parent
                spacing: 0

                RowLayout {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 22

                    Label {
                        text: "Rotary Degree"
                        font.bold: true
                    }

                    Item {
                        Layout.fillWidth: true
                    }

                    Switch {
                        id: rotarySwitch
                        objectName: "rotarySwitch"
                        topPadding: -10
                        rightPadding: -5
                        // Only the user's click asks; a change from outside (the tab change) does not.
                        onToggled: {
                            if (checked)
                                unlockPopup.open();
                        }
                    }
                }

                Pane {
                    objectName: "rotationRow"
                    Layout.fillWidth: true
                    enabled: rotarySwitch.checked
                    padding: 0
                    background: Rectangle {
                        color: "transparent"
                    }

                    RowLayout {
                        anchors.fill: parent

                        RoundButton {
                            objectName: "rotateMinus5Button"
                            Layout.alignment: Qt.AlignCenter
                            flat: true
                            hoverEnabled: true
                            ToolTip.visible: hovered
                            ToolTip.text: "Rotate -5°"
                            onClicked: root.rotateBy(-5.0)
                            MaterialDesignIcon { name: "chevron-double-left" }
                        }

                        RoundButton {
                            objectName: "rotateMinus1Button"
                            Layout.alignment: Qt.AlignCenter
                            flat: true
                            hoverEnabled: true
                            ToolTip.visible: hovered
                            ToolTip.text: "Rotate -1°"
                            onClicked: root.rotateBy(-1.0)
                            MaterialDesignIcon { name: "chevron-left" }
                        }

                        LabeledTextField {
                            id: degreeField
                            objectName: "degreeField"
                            Layout.alignment: Qt.AlignCenter
                            labelVisible: false
                            placeholderText: root.readonlyDegreeText
                            validator: DoubleValidator { locale: "C" }
                            hoverEnabled: true
                            ToolTip.visible: hovered
                            ToolTip.text: "Change degree manually"
                            onApplied: {
                                backend.degree = Number(text);
                                text = "";
                            }
                        }

                        RoundButton {
                            objectName: "rotatePlus1Button"
                            Layout.alignment: Qt.AlignCenter
                            flat: true
                            hoverEnabled: true
                            ToolTip.visible: hovered
                            ToolTip.text: "Rotate +1°"
                            onClicked: root.rotateBy(1.0)
                            MaterialDesignIcon { name: "chevron-right" }
                        }

                        RoundButton {
                            objectName: "rotatePlus5Button"
                            Layout.alignment: Qt.AlignCenter
                            flat: true
                            hoverEnabled: true
                            ToolTip.visible: hovered
                            ToolTip.text: "Rotate +5°"
                            onClicked: root.rotateBy(5.0)
                            MaterialDesignIcon { name: "chevron-double-right" }
                        }
                    }
                }

                Pane {
                    Layout.fillWidth: true
                    padding: 0
                    background: Rectangle {
                        color: "transparent"
                    }

                    RowLayout {
                        anchors.fill: parent

                        Label {
                            objectName: "offsetText"
                            Layout.alignment: Qt.AlignLeft | Qt.AlignVCenter
                            text: "Transmittance offset: " + String(Math.round(backend.offsetDegree * 10) / 10) + "°"
                            font.bold: true
                        }

                        Item {
                            Layout.fillWidth: true
                        }

                        Button {
                            objectName: "setOffsetButton"
                            Layout.alignment: Qt.AlignRight | Qt.AlignTop
                            text: "Set current degree as offset"
                            flat: true
                            topPadding: -10
                            bottomPadding: -10
                            spacing: 0
                            font.capitalization: Font.MixedCase
                            Material.foreground: Material.accent
                            enabled: rotarySwitch.checked
                            onClicked: backend.offsetDegree = backend.degree
                        }
                    }
                }
            }
        }
    }

    Popup {
        id: unlockPopup
        objectName: "unlockPopup"
        property bool userAccepted: false

        anchors.centerIn: parent
        width: root.width * 0.7
        modal: true
        focus: true

        onClosed: {
            rotarySwitch.checked = userAccepted;
            userAccepted = false;
        }

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
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: " Now you can rotate the motor at any angle, which means the transmittance can be outside the range you set."
            }

            RowLayout {
                Layout.alignment: Qt.AlignRight

                Button {
                    objectName: "unlockCancel"
                    text: "Cancel"
                    flat: true
                    font.capitalization: Font.MixedCase
                    onClicked: {
                        unlockPopup.userAccepted = false;
                        unlockPopup.close();
                    }
                }

                Button {
                    objectName: "unlockOk"
                    text: "Ok"
                    flat: true
                    font.capitalization: Font.MixedCase
                    Material.foreground: Material.accent
                    onClicked: {
                        unlockPopup.userAccepted = true;
                        unlockPopup.close();
                    }
                }
            }
        }
    }

    Popup {
        id: calibrationPopup
        objectName: "calibrationPopup"
        property bool userAccepted: false

        anchors.centerIn: parent
        width: root.width * 0.7
        modal: true
        focus: true

        onClosed: {
            if (userAccepted)
                backend.MechanicalCalibration();
            userAccepted = false;
        }

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
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: " This operation will rotate the motor. Make sure there is nothing penetrating the device hole to avoid unexpected damage to your system."
            }

            RowLayout {
                Layout.alignment: Qt.AlignRight

                Button {
                    objectName: "calibrationCancel"
                    text: "Cancel"
                    flat: true
                    font.capitalization: Font.MixedCase
                    onClicked: {
                        calibrationPopup.userAccepted = false;
                        calibrationPopup.close();
                    }
                }

                Button {
                    objectName: "calibrationOk"
                    text: "Ok"
                    flat: true
                    font.capitalization: Font.MixedCase
                    Material.foreground: Material.accent
                    onClicked: {
                        calibrationPopup.userAccepted = true;
                        calibrationPopup.close();
                    }
                }
            }
        }
    }
}
