import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtTest 1.15

TestCase {
    id: testCase
    name: "MainWindow"

    property var window: null

    function init() {
        backend.reset();
        var component = Qt.createComponent("qrc:/main.qml");
        compare(component.status, Component.Ready, component.errorString());
        window = component.createObject(null);
        verify(window !== null);
    }

    function cleanup() {
        window.destroy();
        window = null;
        wait(0);
    }

    function test_starts_on_the_calibration_tab_and_initialises_the_backend() {
        compare(findChild(window, "tabBar").currentIndex, 1);
        compare(backend.calls.filter(function (c) { return c === "Init()"; }).length, 1);
        compare(window.minimumWidth, 423);
        compare(window.minimumHeight, 500);
        compare(window.height, 585);
    }

    function test_title_names_the_connected_device() {
        compare(window.title, "KORVAN Luxora");
        backend.connectedSerialName = "COM3";
        backend.motorConnected = true;
        compare(window.title, "[COM3] - KORVAN Luxora");
        backend.connectedSerialAlias = "Bench A";
        compare(window.title, "[Bench A] - KORVAN Luxora");
        backend.motorConnected = false;
        compare(window.title, "KORVAN Luxora");
    }

    function test_theme_follows_dark_mode() {
        compare(window.Material.theme, Material.Light);
        compare(String(window.Material.accent), "#004387");
        compare(String(window.Material.primary), "#003087");
        backend.darkMode = true;
        compare(window.Material.theme, Material.Dark);
        compare(String(window.Material.accent), "#64a7eb");
        compare(String(window.Material.primary), "#5a8ae1");
    }
}
