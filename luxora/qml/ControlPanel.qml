// The Control page: transmittance and its permitted range in percent, and the transmittance presets.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQuick.Layouts 1.15

Pane {
    id: root

    property string readonlyTransmittanceText: ""
    property bool removeProcess: false
    property real removeAnimationOpacity: 0.3
    readonly property int listCellWidth: 70
    readonly property int listCellHeight: 50

    // Percent with at most two decimals, in its shortest form.
    function percentText(fraction) {
        return String(Math.round(fraction * 10000) / 100);
    }

    function presetText(percent) {
        return String(Math.round(percent * 100) / 100) + "%";
    }

    // Presets sit in percent with two decimals; the bounds are compared the same way, so single-precision
    // noise in a bound does not disable the preset that equals it.
    function presetInRange(percent) {
        var value = Math.round(percent * 100);
        return value >= Math.round(backend.transmittanceRangeMin * 10000)
                && value <= Math.round(backend.transmittanceRangeMax * 10000);
    }

    function addPreset() {
        if (addField.text.length === 0)
            return;
        var rounded = Math.round(Number(addField.text) * 100) / 100;
        if (backend.PushPreset(rounded)) {
            addField.text = "";
            addPopup.close();
        } else {
            fullToolTip.show(fullToolTip.text);
        }
    }

    enabled: !backend.busy && backend.motorConnected
    opacity: enabled ? 1.0 : 0.3
    padding: 0

    Connections {
        target: backend.presetListModel
        ignoreUnknownSignals: true
        function onModelReset() {
            if (backend.presetListModel.rowCount() === 0)
                root.removeProcess = false;
        }
    }

    SequentialAnimation on removeAnimationOpacity {
        running: root.removeProcess
        loops: Animation.Infinite
        alwaysRunToEnd: true
        NumberAnimation { to: 0.1; duration: 500; easing.type: Easing.OutQuart }
        NumberAnimation { to: 0.5; duration: 500; easing.type: Easing.InOutCubic }
        PauseAnimation { duration: 500 }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Pane {
            Material.elevation: 1
            Layout.fillWidth: true
            Layout.preferredHeight: 80
            padding: 0

            RowLayout {
                anchors.fill: parent

                LabeledTextField {
                    id: minRangeField
                    objectName: "minRangeField"
                    Layout.alignment: Qt.AlignCenter
                    vertical: true
                    label: "Min Range"
                    labelFont.bold: true
                    validator: DoubleValidator { bottom: 0; top: 100; locale: "C" }
                    placeholderText: root.percentText(backend.transmittanceRangeMin)
                    onApplied: {
                        backend.transmittanceRangeMin = Number(text) / 100;
                        text = "";
                    }
                }

                LabeledTextField {
                    id: changeTcField
                    objectName: "changeTcField"
                    Layout.alignment: Qt.AlignCenter
                    vertical: true
                    label: "Change TC"
                    labelFont.bold: true
                    validator: DoubleValidator { bottom: 0; top: 100; locale: "C" }
                    placeholderText: root.readonlyTransmittanceText
                    onApplied: {
                        backend.transmittance = Number(text) / 100;
                        text = "";
                    }
                }

                LabeledTextField {
                    id: maxRangeField
                    objectName: "maxRangeField"
                    Layout.alignment: Qt.AlignCenter
                    vertical: true
                    label: "Max Range"
                    labelFont.bold: true
                    validator: DoubleValidator { bottom: 0; top: 100; locale: "C" }
                    placeholderText: root.percentText(backend.transmittanceRangeMax)
                    onApplied: {
                        backend.transmittanceRangeMax = Number(text) / 100;
                        text = "";
                    }
                }
            }
        }

        Pane {
            id: presetPane
            Material.elevation: 1
            Layout.fillWidth: true
            Layout.fillHeight: true

            Label {
                id: presetTitle
                anchors.top: parent.top
                anchors.left: parent.left
                text: "Transmittance Presets"
                font.bold: true
            }

            RoundButton {
                id: removeToggle
                objectName: "removePresetToggle"
                x: presetPane.availableWidth - 10 - width / 2
                y: 10 - height / 2
                checkable: true
                Material.elevation: 0
                spacing: 0
                padding: 0
                onCheckedChanged: root.removeProcess = checked

                MaterialDesignIcon {
                    name: "delete"
                }
            }

            RoundButton {
                id: addButton
                objectName: "addPresetButton"
                anchors.right: removeToggle.left
                y: removeToggle.y
                flat: true
                spacing: 0
                padding: 0
                onClicked: {
                    removeToggle.checked = false;
                    addPopup.open();
                }

                MaterialDesignIcon {
                    name: "plus"
                }
            }

            GridView {
                id: presetGrid
                objectName: "presetGrid"
                anchors.top: presetTitle.bottom
                anchors.topMargin: 10
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                cellWidth: root.listCellWidth + 5
                cellHeight: root.listCellHeight + 5
                clip: true
                model: backend.motorConnected ? backend.presetListModel : null
                ScrollBar.vertical: ScrollBar {
                    policy: ScrollBar.AlwaysOn
                }

                delegate: Button {
                    id: presetButton
                    objectName: "preset_" + index
                    readonly property real percent: model.transmittance
                    readonly property int row: model.index

                    width: root.listCellWidth
                    height: root.listCellHeight
                    text: root.presetText(percent)
                    font.bold: true
                    enabled: root.presetInRange(percent)
                    highlighted: enabled

                    onClicked: {
                        if (root.removeProcess)
                            backend.RemovePreset(row);
                        else
                            backend.transmittance = percent / 100;
                    }

                    Rectangle {
                        objectName: "removeMark"
                        anchors.centerIn: parent
                        width: parent.width
                        height: parent.height - 12
                        radius: 2
                        color: "Red"
                        visible: root.removeProcess
                        opacity: root.removeAnimationOpacity

                        Text {
                            anchors.centerIn: parent
                            text: "X"
                            color: "White"
                            font.bold: true
                            font.pointSize: 20
                        }
                    }
                }
            }
        }
    }

    Popup {
        id: addPopup
        objectName: "addPresetPopup"
        anchors.centerIn: parent
        modal: true
        focus: true

        onOpened: addField.forceActiveFocus()
        onClosed: addField.text = ""

        background: Rectangle {
            color: root.Material.background
            radius: 4
        }

        ColumnLayout {
            RowLayout {
                LabeledTextField {
                    id: addField
                    objectName: "addPresetField"
                    label: "Transmittance: "
                    applyButtonVisible: false
                    validator: DoubleValidator { bottom: 0; top: 100; locale: "C" }
                    onApplied: addConfirm.clicked()

                    ToolTip {
                        id: fullToolTip
                        objectName: "presetFullToolTip"
                        text: "No more presets can be added."
                    }
                }

                Label {
                    text: "%"
                }
            }

            RowLayout {
                Layout.alignment: Qt.AlignRight

                Button {
                    objectName: "addPresetCancel"
                    text: "Cancel"
                    flat: true
                    font.capitalization: Font.MixedCase
                    onClicked: addPopup.close()
                }

                Button {
                    id: addConfirm
                    objectName: "addPresetConfirm"
                    text: "Add"
                    flat: true
                    font.capitalization: Font.MixedCase
                    Material.foreground: Material.accent
                    onClicked: root.addPreset()
                }
            }
        }
    }
}
