import QtQuick 2.15
import QtTest 1.15
import "qrc:/"

TestCase {
    id: testCase
    name: "ControlPanel"
    when: windowShown
    visible: true
    width: 500
    height: 400

    Component {
        id: panelComponent
        ControlPanel {
            anchors.fill: parent
            readonlyTransmittanceText: "45.7"
        }
    }

    property var panel: null

    function init() {
        backend.reset();
        backend.load("motorConnected", true);
        panel = createTemporaryObject(panelComponent, testCase);
        backend.clearCalls();
    }

    function presetButton(row) {
        var grid = findChild(panel, "presetGrid");
        grid.forceLayout();
        return findChild(grid, "preset_" + row);
    }

    function openAddPopup() {
        var add = findChild(panel, "addPresetButton");
        mouseClick(add);
        var popup = findChild(panel, "addPresetPopup");
        tryCompare(popup, "opened", true);
        return popup;
    }

    function typeInto(field, text) {
        field.forceActiveFocus();
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i));
    }

    function test_page_is_usable_only_connected_and_idle() {
        compare(panel.opacity, 1.0);
        backend.busy = true;
        verify(!panel.enabled);
        compare(panel.opacity, 0.3);
        backend.busy = false;
        backend.load("motorConnected", false);
        verify(!panel.enabled);
        compare(findChild(panel, "presetGrid").count, 0);
    }

    function test_range_hints_show_percent_with_two_decimals() {
        backend.transmittanceRangeMin = 0.125;
        backend.transmittanceRangeMax = 0.25;
        compare(findChild(panel, "minRangeField").placeholderText, "12.5");
        compare(findChild(panel, "maxRangeField").placeholderText, "25");
        compare(findChild(panel, "changeTcField").placeholderText, "45.7");
    }

    function test_fields_write_fractions_and_empty_themselves_data() {
        return [
            { tag: "Change TC", field: "changeTcField", call: "transmittance=0.5" },
            { tag: "Min Range", field: "minRangeField", call: "transmittanceRangeMin=0.5" },
            { tag: "Max Range", field: "maxRangeField", call: "transmittanceRangeMax=0.5" }
        ];
    }

    function test_fields_write_fractions_and_empty_themselves(data) {
        var field = findChild(panel, data.field);
        keyClick(Qt.Key_Return);
        typeInto(field, "50");
        keyClick(Qt.Key_Return);
        compare(backend.calls, [data.call]);
        compare(field.text, "");
    }

    function test_preset_buttons_follow_the_range() {
        backend.setPresets([10, 12.5, 30, 45.678]);
        backend.load("transmittanceRangeMin", 0.3);
        backend.load("transmittanceRangeMax", 0.5);
        compare(presetButton(0).text, "10%");
        compare(presetButton(1).text, "12.5%");
        compare(presetButton(3).text, "45.68%");
        verify(!presetButton(0).enabled);
        verify(presetButton(2).enabled, "a preset on the single-precision bound stays usable");
        verify(presetButton(2).highlighted);
        mouseClick(presetButton(0));
        compare(backend.calls, []);
        mouseClick(presetButton(2));
        compare(backend.calls, ["transmittance=0.3"]);
    }

    function test_remove_mode_removes_and_ends_on_an_empty_list() {
        backend.setPresets([20, 40]);
        var toggle = findChild(panel, "removePresetToggle");
        mouseClick(toggle);
        verify(panel.removeProcess);
        verify(findChild(presetButton(0), "removeMark").visible);
        mouseClick(presetButton(1));
        compare(backend.calls, ["RemovePreset(1)"]);
        verify(panel.removeProcess);
        mouseClick(presetButton(0));
        compare(backend.calls, ["RemovePreset(1)", "RemovePreset(0)"]);
        verify(!panel.removeProcess);
        verify(toggle.checked);
        mouseClick(toggle);
        verify(!panel.removeProcess);
        mouseClick(toggle);
        verify(panel.removeProcess);
    }

    function test_add_button_ends_remove_mode_first() {
        backend.setPresets([20]);
        mouseClick(findChild(panel, "removePresetToggle"));
        verify(panel.removeProcess);
        openAddPopup();
        verify(!panel.removeProcess);
        verify(!findChild(panel, "removePresetToggle").checked);
    }

    function test_add_popup_rounds_to_two_decimals() {
        var popup = openAddPopup();
        var field = findChild(panel, "addPresetField");
        tryVerify(function () { return field.textField.activeFocus; });
        typeInto(field, "45.678");
        keyClick(Qt.Key_Return);
        compare(backend.calls, ["PushPreset(45.68)"]);
        tryCompare(popup, "opened", false);
        compare(field.text, "");
        compare(presetButton(0).text, "45.68%");
    }

    function test_add_popup_with_an_empty_field_adds_nothing() {
        var popup = openAddPopup();
        mouseClick(findChild(panel, "addPresetConfirm"));
        compare(backend.calls, []);
        verify(popup.opened);
    }

    function test_full_list_shows_the_tooltip_and_keeps_the_popup_open() {
        var values = [];
        for (var i = 0; i < 40; ++i)
            values.push(i + 1);
        backend.setPresets(values);
        var popup = openAddPopup();
        var field = findChild(panel, "addPresetField");
        typeInto(field, "55");
        mouseClick(findChild(panel, "addPresetConfirm"));
        compare(backend.calls, ["PushPreset(55)"]);
        var tip = findChild(panel, "presetFullToolTip");
        tryCompare(tip, "visible", true);
        compare(tip.text, "No more presets can be added.");
        verify(popup.opened);
        compare(field.text, "55");
    }

    function test_closing_the_popup_empties_its_field() {
        var popup = openAddPopup();
        var field = findChild(panel, "addPresetField");
        typeInto(field, "12");
        keyClick(Qt.Key_Escape);
        tryCompare(popup, "visible", false);
        compare(field.text, "");
        compare(backend.calls, []);
    }
}
