import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtTest 1.15

TestCase {
    id: testCase
    name: "MainWindow"
    when: windowShown

    property var window: null

    function init() {
        backend.reset();
        var component = Qt.createComponent("qrc:/main.qml");
        compare(component.status, Component.Ready, component.errorString());
        window = component.createObject(null, { width: 480 });
        verify(window !== null);
        verify(waitForRendering(window.contentItem));
        // The parts that the window builds after its first frame.
        tryVerify(function () { return window.laterPartsWanted; });
    }

    function connect(name) {
        backend.setPorts(["COM3", "COM7"]);
        backend.connectedSerialName = name;
        backend.load("motorConnected", true);
        backend.load("currentIndexOfVisibleSerialPortNames", 1);
        backend.clearCalls();
    }

    function cleanup() {
        window.destroy();
        window = null;
        wait(0);
    }

    function test_starts_on_the_calibration_tab_and_initialises_the_backend() {
        compare(findChild(window, "tabBar").currentIndex, 1);
        compare(backend.calls.filter(function (c) { return c === "Init()"; }).length, 1);
    }

    function test_title_names_the_connected_device() {
        compare(window.title, "KORVAN Luxora");
        backend.connectedSerialName = "COM3";
        backend.load("motorConnected", true);
        compare(window.title, "[COM3] - KORVAN Luxora");
        backend.connectedSerialAlias = "Bench A";
        compare(window.title, "[Bench A] - KORVAN Luxora");
        backend.load("motorConnected", false);
        compare(window.title, "KORVAN Luxora");
    }

    function test_changing_tab_locks_the_rotation() {
        var calibration = findChild(window, "calibrationPage");
        calibration.enableSetDegree = true;
        findChild(window, "tabBar").currentIndex = 0;
        verify(!calibration.enableSetDegree);
        findChild(window, "tabBar").currentIndex = 1;
        verify(!calibration.enableSetDegree);
    }

    function test_busy_overlay_data() {
        return [
            { tag: "connecting on Calibration", tab: 1, connected: false, spinning: true, text: true },
            { tag: "connecting on System", tab: 2, connected: false, spinning: false, text: true },
            { tag: "busy and connected on Control", tab: 0, connected: true, spinning: true, text: false },
            { tag: "busy and connected on About", tab: 3, connected: true, spinning: false, text: false }
        ];
    }

    function test_busy_overlay(data) {
        if (data.connected)
            connect("COM3");
        findChild(window, "tabBar").currentIndex = data.tab;
        backend.busy = true;
        compare(findChild(window, "busyIndicator").running, data.spinning);
        compare(findChild(window, "connectingText").visible, data.text);
        verify(!findChild(window, "portSelector").enabled);
        backend.busy = false;
        verify(!findChild(window, "busyIndicator").running);
        verify(!findChild(window, "connectingText").visible);
    }

    function test_stop_button_and_status_show_while_connected() {
        var stop = findChild(window, "stopButton");
        var status = findChild(window, "statusText");
        verify(!stop.visible);
        connect("COM3");
        verify(stop.visible);
        compare(status.text, "Ok");
        compare(String(status.color), String(window.Material.foreground));
        backend.load("motorStatusDescription", "Timeout");
        compare(String(status.color), "#ce2029");
        backend.busy = true;
        verify(stop.enabled);
        mouseClick(stop);
        mouseClick(stop);
        compare(backend.calls, ["EmergencyStop()", "EmergencyStop()"]);
    }

    function test_port_selector_connects_and_scans_while_open() {
        connect("COM3");
        var selector = findChild(window, "portSelector");
        compare(selector.currentIndex, 1);
        compare(selector.currentText, "COM3");
        mouseClick(selector);
        tryCompare(selector.popup, "opened", true);
        compare(backend.calls, ["StartScanningSerialPort()"]);
        backend.clearCalls();
        selector.activated(0);
        selector.popup.close();
        tryCompare(selector.popup, "visible", false);
        compare(backend.calls, ["ConnectMotorViaSerial(0)", "StopScanningSerialPort()"]);
        backend.load("currentIndexOfVisibleSerialPortNames", 0);
        compare(selector.currentIndex, 0);
    }

    function test_alias_editor_applies_a_new_alias_only() {
        connect("COM3");
        var editor = findChild(window, "aliasEditor");
        verify(editor.visible);
        editor.apply();
        compare(backend.calls, [], "an empty alias is not applied");
        editor.textField.insert(0, "A");
        editor.apply();
        compare(backend.calls, ["connectedSerialAlias=A"]);
        compare(window.title, "[A] - KORVAN Luxora");
        backend.busy = true;
        verify(!editor.enabled);
    }
}
