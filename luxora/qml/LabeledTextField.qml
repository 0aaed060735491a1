// A label with a text field beside or above it, and an apply button over the field's end while it is edited.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

Pane {
    id: root

    property bool vertical: false
    property int labelHorizontalAlignment: Text.AlignHCenter
    property int labelVerticalAlignment: Text.AlignVCenter
    property int textHorizontalAlignment: TextInput.AlignHCenter
    property int textVerticalAlignment: TextInput.AlignVCenter
    property int textImplicitWidth: 70
    property bool textLayoutFillWidth: false
    property int textLayoutRightMargin: 0
    property bool applyButtonVisible: true
    property bool labelVisible: true

    property alias label: label.text
    property alias labelFont: label.font
    property alias validator: field.validator
    property alias text: field.text
    property alias textFont: field.font
    property alias placeholderText: field.placeholderText
    property alias maximumLength: field.maximumLength

    readonly property alias textField: field

    signal applied()

    function forceActiveFocus() {
        field.forceActiveFocus();
    }

    function apply() {
        // Giving up focus hides the apply button; the owner reads text in its handler.
        field.focus = false;
        if (field.text.length > 0)
            root.applied();
    }

    padding: 0
    // The apply button is a second child, so the size has to be named: it is the grid's.
    contentWidth: grid.implicitWidth
    contentHeight: grid.implicitHeight
    background: Rectangle {
        color: "transparent"
    }

    GridLayout {
        id: grid
        anchors.fill: parent
        columns: root.vertical ? 1 : 2
        rows: root.vertical ? 2 : 1
        columnSpacing: 5
        rowSpacing: 0

        Label {
            id: label
            objectName: "label"
            visible: root.labelVisible
            horizontalAlignment: root.labelHorizontalAlignment
            verticalAlignment: root.labelVerticalAlignment
            Layout.alignment: Qt.AlignCenter
        }

        TextField {
            id: field
            objectName: "field"
            selectByMouse: true
            horizontalAlignment: root.textHorizontalAlignment
            verticalAlignment: root.textVerticalAlignment
            implicitWidth: root.textImplicitWidth
            Layout.alignment: Qt.AlignCenter
            Layout.fillWidth: root.textLayoutFillWidth
            Layout.rightMargin: root.textLayoutRightMargin

            onAccepted: root.apply()

            // clear() and remove() edit the text without a property assignment, so a binding that the
            // owner placed on text survives the cleaning.
            onTextChanged: {
                if (!acceptableInput) {
                    if (text.length > 0)
                        clear();
                } else if (text.charAt(0) === " ") {
                    remove(0, 1);
                }
            }
        }
    }

    RoundButton {
        id: applyButton
        objectName: "applyButton"
        flat: true
        opacity: 0.5
        spacing: 0
        padding: 0
        focusPolicy: Qt.NoFocus
        visible: field.activeFocus && root.applyButtonVisible
        x: grid.x + field.x + field.width - 10
        y: grid.y + field.y - 3
        // Acting on the press: the button exists only while the field has focus, which a release may outlast.
        onPressed: root.apply()

        MaterialDesignIcon {
            name: "subdirectory-arrow-left"
        }
    }
}
