// The live log: the latest 100 records of the log manager, oldest first, errors in red.
import QtQuick 2.15
import QtQuick.Controls 2.15
import "Define.js" as Global

Pane {
    id: root

    readonly property int maximumEntries: 100
    readonly property alias count: entries.count

    function entryText(timeStr, typeStr, messageStr) {
        return timeStr + (typeStr === "INFO" ? " " : " " + typeStr + ": ") + messageStr;
    }

    function append(timeStr, typeStr, messageStr) {
        if (entries.count >= maximumEntries)
            entries.remove(0);
        entries.append({ "timeStr": timeStr, "typeStr": typeStr, "messageStr": messageStr });
        list.positionViewAtEnd();
    }

    background: Rectangle {
        color: "#212121"
        radius: 3
    }

    ListModel {
        id: entries
    }

    // Starts with the records logged before it existed, then follows new ones. Both happen on the GUI thread,
    // where records are published, so none is shown twice or missed between the two.
    Component.onCompleted: {
        var earlier = log.recent();
        for (var i = 0; i < earlier.length; ++i)
            append(earlier[i].time, earlier[i].type, earlier[i].message);
        follow.enabled = true;
    }

    Connections {
        id: follow
        target: log
        enabled: false
        function onChanged() { root.append(log.time, log.type, log.message); }
    }

    ListView {
        id: list
        objectName: "logList"
        anchors.fill: parent
        clip: true
        model: entries
        ScrollBar.vertical: ScrollBar {
            policy: ScrollBar.AlwaysOn
        }

        delegate: Label {
            width: list.width
            wrapMode: Text.WordWrap
            // Records carry texts from files and from the device; they are shown as written, never as markup.
            textFormat: Text.PlainText
            text: root.entryText(timeStr, typeStr, messageStr)
            color: typeStr === "INFO" ? "white" : "red"
        }
    }
}
