import QtQuick 2.15
import QtTest 1.15
import "qrc:/"

TestCase {
    id: testCase
    name: "LogViewer"
    when: windowShown
    visible: true
    width: 400
    height: 300

    Component {
        id: viewerComponent
        LogViewer {
            anchors.fill: parent
        }
    }

    function entry(viewer, row) {
        var list = findChild(viewer, "logList");
        list.positionViewAtIndex(row, ListView.Contain);
        list.forceLayout();
        return list.itemAtIndex(row);
    }

    function test_keeps_the_latest_100_records() {
        var viewer = createTemporaryObject(viewerComponent, testCase);
        for (var i = 1; i <= 150; ++i)
            logFeed.publish("[10:00:00]", "INFO", "record " + i);
        compare(viewer.count, 100);
        compare(entry(viewer, 0).text, "[10:00:00] record 51");
        compare(entry(viewer, 99).text, "[10:00:00] record 150");
        var list = findChild(viewer, "logList");
        verify(list.atYEnd, "the newest record is in view");
    }

    function test_information_and_error_records_read_differently() {
        var viewer = createTemporaryObject(viewerComponent, testCase);
        var before = viewer.count;
        logFeed.publish("[14:03:07]", "INFO", "Trying to connect device \"COM3\"");
        logFeed.publish("[14:03:09]", "ERROR", "Failed to connect device \"COM3\"");
        var info = entry(viewer, before);
        var error = entry(viewer, before + 1);
        compare(info.text, "[14:03:07] Trying to connect device \"COM3\"");
        compare(String(info.color), "#ffffff");
        compare(error.text, "[14:03:09] ERROR: Failed to connect device \"COM3\"");
        compare(String(error.color), "#ff0000");
    }

    function test_starts_with_the_records_logged_before_it_existed() {
        for (var i = 1; i <= 120; ++i)
            logFeed.publish("[09:00:00]", "INFO", "early " + i);
        logFeed.publish("[09:00:01]", "ERROR", "Failed to create process. Error code:  2");
        var viewer = createTemporaryObject(viewerComponent, testCase);
        compare(viewer.count, 100);
        compare(entry(viewer, 0).text, "[09:00:00] early 22");
        compare(entry(viewer, 99).text, "[09:00:01] ERROR: Failed to create process. Error code:  2");
        logFeed.publish("[09:00:02]", "INFO", "later");
        compare(viewer.count, 100);
        compare(entry(viewer, 98).text, "[09:00:01] ERROR: Failed to create process. Error code:  2");
        compare(entry(viewer, 99).text, "[09:00:02] later");
    }
}
