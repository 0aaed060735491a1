import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.15
import "qrc:/"

TestCase {
    id: testCase
    name: "Pages"
    when: windowShown
    visible: true
    width: 600
    height: 600

    Component {
        id: calibrationComponent
        Calibration {
            anchors.fill: parent
            readonlyDegreeText: "10"
        }
    }

    Component {
        id: settingsComponent
        SystemSettings {
            anchors.fill: parent
        }
    }

    function init() {
        backend.reset();
        backend.load("motorConnected", true);
    }

    // The check boxes are list delegates: created at the first layout, when each writes its value back once.
    function settingsPage() {
        var page = createTemporaryObject(settingsComponent, testCase);
        findChild(page, "settingsList").forceLayout();
        tryVerify(function () { return findChild(page, "mechanicalCalibrationTransmittanceZeroCheckBox") !== null; });
        backend.clearCalls();
        return page;
    }

    function closePopup(page, name, button) {
        var popup = findChild(page, name);
        tryCompare(popup, "opened", true);
        if (button)
            mouseClick(findChild(page, button));
        else
            keyClick(Qt.Key_Escape);
        tryCompare(popup, "visible", false);
    }

    function test_unlocking_the_rotation_asks_first_data() {
        return [
            { tag: "Ok", button: "unlockOk", unlocked: true },
            { tag: "Cancel", button: "unlockCancel", unlocked: false },
            { tag: "Escape", button: "", unlocked: false }
        ];
    }

    function test_unlocking_the_rotation_asks_first(data) {
        var page = createTemporaryObject(calibrationComponent, testCase);
        var rotarySwitch = findChild(page, "rotarySwitch");
        mouseClick(rotarySwitch);
        closePopup(page, "unlockPopup", data.button);
        compare(page.enableSetDegree, data.unlocked);
        compare(findChild(page, "rotationRow").enabled, data.unlocked);
        if (data.unlocked) {
            mouseClick(rotarySwitch);
            verify(!page.enableSetDegree);
            verify(!findChild(page, "unlockPopup").opened, "locking asks nothing");
        }
    }

    function test_mechanical_calibration_runs_only_after_ok() {
        var page = createTemporaryObject(calibrationComponent, testCase);
        backend.clearCalls();
        mouseClick(findChild(page, "mechanicalCalibrationButton"));
        closePopup(page, "calibrationPopup", "calibrationCancel");
        mouseClick(findChild(page, "mechanicalCalibrationButton"));
        closePopup(page, "calibrationPopup", "");
        compare(backend.calls, []);
        mouseClick(findChild(page, "mechanicalCalibrationButton"));
        closePopup(page, "calibrationPopup", "calibrationOk");
        compare(backend.calls, ["MechanicalCalibration()"]);
    }

    function test_rotation_acts_on_the_current_degree() {
        var page = createTemporaryObject(calibrationComponent, testCase, { enableSetDegree: true });
        backend.setReadout(0, 10, 0);
        mouseClick(findChild(page, "rotateMinus5Button"));
        backend.setReadout(0, -358, 0);
        mouseClick(findChild(page, "rotateMinus5Button"));
        mouseClick(findChild(page, "rotatePlus1Button"));
        compare(backend.calls, ["degree=5", "degree=-363", "degree=-362"]);
    }

    function test_degree_field_takes_signed_and_exponent_numbers() {
        var page = createTemporaryObject(calibrationComponent, testCase, { enableSetDegree: true });
        var field = findChild(page, "degreeField");
        compare(field.placeholderText, "10");
        field.text = "-45";
        field.apply();
        field.text = "1e2";
        field.apply();
        compare(backend.calls, ["degree=-45", "degree=100"]);
        compare(field.text, "");
    }

    function test_offset_takes_the_current_degree() {
        var page = createTemporaryObject(calibrationComponent, testCase, { enableSetDegree: true });
        backend.setReadout(0, 12.34, 0);
        mouseClick(findChild(page, "setOffsetButton"));
        compare(backend.calls, ["offsetDegree=12.34"]);
        compare(findChild(page, "offsetText").text, "Transmittance offset: 12.3°");
    }

    function test_check_boxes_mirror_the_backend_and_write_back_once() {
        var page = settingsPage();
        var box = findChild(page, "initTransmittanceZeroCheckBox");
        verify(box.checked);
        backend.load("initTransmittanceZero", false);
        verify(!box.checked);
        compare(backend.calls, ["initTransmittanceZero=false"]);
        mouseClick(findChild(page, "darkModeCheckBox"));
        compare(backend.calls, ["initTransmittanceZero=false", "darkMode=true"]);
        verify(backend.darkMode);
    }

    function test_check_boxes_work_without_a_device() {
        backend.load("motorConnected", false);
        backend.busy = true;
        var page = settingsPage();
        mouseClick(findChild(page, "autoConnectPossibleSerialCheckBox"));
        verify(!backend.autoConnectPossibleSerial);
        verify(!findChild(page, "maintenanceRow").enabled);
    }

    function test_maintenance_starts_the_routine_of_its_button_data() {
        return [
            { tag: "cleaning", button: "startCleaningButton", close: "maintenanceStart", calls: ["StartMotorCleaningMechanics()"] },
            { tag: "optimisation", button: "startOptimizationButton", close: "maintenanceStart", calls: ["StartMotorOptimization()"] },
            { tag: "cancel", button: "startOptimizationButton", close: "maintenanceCancel", calls: [] },
            { tag: "escape", button: "startCleaningButton", close: "", calls: [] }
        ];
    }

    function test_maintenance_starts_the_routine_of_its_button(data) {
        var page = settingsPage();
        mouseClick(findChild(page, data.button));
        closePopup(page, "maintenancePopup", data.close);
        compare(backend.calls, data.calls);
    }

    function test_log_folder_url_is_well_formed_data() {
        return [
            { tag: "slash-rooted", path: "/home/ana/.local/share/Korvan. Inc/Luxora/logs",
              url: "file:///home/ana/.local/share/Korvan.%20Inc/Luxora/logs" },
            { tag: "drive letter", path: "C:/Users/ana/AppData/Roaming/Korvan. Inc/Luxora/logs",
              url: "file:///C:/Users/ana/AppData/Roaming/Korvan.%20Inc/Luxora/logs" },
            { tag: "hash in a folder name", path: "/tmp/a#b", url: "file:///tmp/a%23b" }
        ];
    }

    function test_log_folder_url_is_well_formed(data) {
        var page = createTemporaryObject(settingsComponent, testCase);
        compare(page.folderUrl(data.path), data.url);
    }
}
