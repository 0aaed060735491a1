// The main window: header, monitor, the four pages behind the tab bar, and the busy overlay.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQuick.Layouts 1.15
import QtQuick.Window 2.15

ApplicationWindow {
    id: mainWindow

    readonly property int tabIndex: tabBar.currentIndex
    readonly property bool monitorShown: tabIndex === 0 || tabIndex === 1
    // The pages that the window does not open on, the dial, which the opening height has no room for, and the
    // parts of the header that only a connected device shows are built once the first frame is on the screen;
    // input waits in the event queue meanwhile, so no tab opens before its page is there. They are loaded by
    // name, so that not even their types are loaded before that frame.
    property bool laterPartsWanted: false

    visible: true
    minimumWidth: 423
    minimumHeight: 500
    // Opening at the minimum width: without an initial width a window opens one pixel wide where no window
    // manager applies the minimum.
    width: minimumWidth
    height: 585
    font.family: "Arial"
    title: backend.motorConnected
           ? "[" + (backend.connectedSerialAlias !== "" ? backend.connectedSerialAlias : backend.connectedSerialName)
             + "] - KORVAN Luxora"
           : "KORVAN Luxora"

    Material.theme: backend.darkMode ? Material.Dark : Material.Light
    Material.accent: backend.darkMode ? "#64a7eb" : "#004387"
    Material.primary: backend.darkMode ? "#5a8ae1" : "#003087"

    function buildLaterParts() {
        laterPartsWanted = true;
    }

    Component.onCompleted: backend.Init()
    // Emitted on the GUI thread just before a frame's scene is handed over; the call runs once that is done.
    onAfterAnimating: {
        if (!laterPartsWanted)
            Qt.callLater(buildLaterParts);
    }

    Page {
        id: page
        anchors.fill: parent
        focusPolicy: Qt.ClickFocus
        // The page fills the window; a fixed implicit width keeps the tab bar's width-dependent implicit
        // width from feeding back into the page's own.
        implicitWidth: mainWindow.minimumWidth

        header: Header {
            objectName: "header"
            height: 100
            connectedPartsWanted: mainWindow.laterPartsWanted
        }

        footer: TabBar {
            id: tabBar
            objectName: "tabBar"
            Material.elevation: 8
            currentIndex: 1

            TabButton {
                objectName: "controlTab"
                text: qsTr("Control")
                font.capitalization: Font.MixedCase
            }
            TabButton {
                objectName: "calibrationTab"
                text: qsTr("Calibration")
                font.capitalization: Font.MixedCase
            }
            TabButton {
                objectName: "systemTab"
                text: qsTr("System")
                font.capitalization: Font.MixedCase
            }
            TabButton {
                objectName: "aboutTab"
                text: qsTr("About")
                font.capitalization: Font.MixedCase
            }
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            Mornitor {
                id: monitor
                objectName: "monitor"
                visible: mainWindow.monitorShown
                dialWanted: mainWindow.laterPartsWanted
                focusDegree: mainWindow.tabIndex === 1
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: 100
                Layout.maximumHeight: mainWindow.tabIndex === 0 ? 400 : Number.POSITIVE_INFINITY
            }

            Pane {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: mainWindow.tabIndex === 0 ? 210 : mainWindow.tabIndex === 1 ? 200 : 0
                Layout.maximumHeight: mainWindow.tabIndex === 0 ? 290
                                    : mainWindow.tabIndex === 1 ? 200 : Number.POSITIVE_INFINITY
                padding: 0

                StackLayout {
                    id: pages
                    objectName: "pages"
                    anchors.fill: parent
                    currentIndex: tabBar.currentIndex

                    // Leaving or entering a page always locks the free rotation again.
                    onCurrentIndexChanged: calibration.enableSetDegree = false

                    Loader {
                        active: mainWindow.laterPartsWanted
                        source: "ControlPanel.qml"
                        onLoaded: {
                            item.objectName = "controlPanel";
                            item.readonlyTransmittanceText = Qt.binding(function () { return monitor.transmittanceText; });
                        }
                    }
                    Calibration {
                        id: calibration
                        objectName: "calibrationPage"
                        readonlyDegreeText: monitor.degreeText
                    }
                    Loader {
                        active: mainWindow.laterPartsWanted
                        source: "SystemSettings.qml"
                        onLoaded: item.objectName = "systemSettings"
                    }
                    Loader {
                        active: mainWindow.laterPartsWanted
                        source: "AboutPage.qml"
                        onLoaded: item.objectName = "aboutPage"
                    }
                }
            }
        }
    }

    BusyIndicator {
        objectName: "busyIndicator"
        anchors.centerIn: parent
        width: 250
        height: 250
        z: 100
        opacity: 0.85
        running: backend.busy && mainWindow.monitorShown

        Label {
            objectName: "connectingText"
            anchors.centerIn: parent
            text: "Connecting..."
            font.pointSize: 20
            opacity: 0.85
            visible: backend.busy && !backend.motorConnected
        }
    }
}
