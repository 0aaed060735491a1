import QtQuick 2.15
import QtTest 1.15
import "qrc:/"

TestCase {
    id: testCase
    name: "LabeledTextField"
    when: windowShown
    visible: true
    width: 400
    height: 200

    Component {
        id: percentField
        LabeledTextField {
            validator: DoubleValidator { bottom: 0; top: 100; locale: "C" }
        }
    }

    Component {
        id: plainField
        LabeledTextField {}
    }

    Component {
        id: ownerComponent
        QtObject {
            property string alias: "COM"
        }
    }

    SignalSpy {
        id: appliedSpy
        signalName: "applied"
    }

    function make(component, properties) {
        var item = createTemporaryObject(component, testCase, properties || {});
        appliedSpy.clear();
        appliedSpy.target = item;
        item.forceActiveFocus();
        verify(item.textField.activeFocus);
        return item;
    }

    function type(text) {
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i));
    }

    function test_range_field_cleans_its_input_data() {
        return [
            { tag: "above the top clears", typed: "150", expected: "" },
            { tag: "lone dot clears", typed: ".", expected: "" },
            { tag: "minus below a zero bottom is refused", typed: "-5", expected: "5" },
            { tag: "decimal number is kept", typed: "45.5", expected: "45.5" },
            { tag: "top itself is kept", typed: "100", expected: "100" }
        ];
    }

    function test_range_field_cleans_its_input(data) {
        var field = make(percentField);
        type(data.typed);
        compare(field.text, data.expected);
    }

    function test_leading_space_is_removed_without_breaking_a_binding() {
        var owner = createTemporaryObject(ownerComponent, testCase);
        var field = make(plainField);
        field.text = Qt.binding(function () { return owner.alias; });
        field.textField.cursorPosition = 0;
        type(" ");
        compare(field.text, "COM");
        field.textField.cursorPosition = 3;
        type(" ");
        compare(field.text, "COM ");
        owner.alias = "Bench";
        compare(field.text, "Bench", "the owner's binding survives the cleaning");
    }

    function test_enter_applies_a_filled_field_and_gives_up_focus() {
        var field = make(percentField);
        type("12");
        keyClick(Qt.Key_Return);
        compare(appliedSpy.count, 1);
        compare(field.text, "12");
        verify(!field.textField.activeFocus);
    }

    function test_empty_field_applies_nothing() {
        make(plainField);
        keyClick(Qt.Key_Enter);
        compare(appliedSpy.count, 0);
    }

    function test_apply_button_shows_while_editing_and_applies_on_press() {
        var field = make(percentField);
        var button = findChild(field, "applyButton");
        verify(button.visible);
        type("7");
        mousePress(button, button.width / 2, button.height / 2);
        compare(appliedSpy.count, 1);
        verify(!button.visible);
        mouseRelease(button, button.width / 2, button.height / 2);
        compare(appliedSpy.count, 1);
    }
}
