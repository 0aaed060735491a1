// A slider bent into a ring: angles in degrees clockwise from 12 o'clock, value mapped linearly onto the span.
import QtQuick 2.15
import QtQml 2.15
import QtQuick.Shapes 1.15

Item {
    id: root

    property int trackWidth: 20
    property int progressWidth: 20
    property int handleWidth: 22
    property int handleHeight: 22
    property int handleRadius: 11
    property int handleVerticalOffset: 0

    property real startAngle: 0
    property real endAngle: 360
    property real minValue: 0.0
    property real maxValue: 1.0
    property real value: 0.0
    readonly property real angle: (value - minValue) * (endAngle - startAngle) / (maxValue - minValue) + startAngle

    property int capStyle: Qt.RoundCap
    property color trackColor: "#505050"
    property color progressColor: "#3a4ec4"
    property color handleColor: "#fefefe"

    property real stepSize: 0.1
    property bool snap: false

    property Component handle: null
    readonly property bool pressed: mouseArea.dragging

    property bool hideTrack: false
    property bool hideProgress: false
    property bool interactive: true
    property int cursorShape: Qt.ArrowCursor

    // Emitted after the user has moved the value.
    signal moved()

    readonly property real _side: Math.min(width, height)
    readonly property real _stroke: Math.max(trackWidth, progressWidth)
    readonly property real _radius: _side / 2 - _stroke / 2

    function angleAt(x, y) {
        var result = Math.atan2(y - height / 2, x - width / 2) * 180 / Math.PI + 90;
        return result < 0 ? result + 360 : result;
    }

    function valueAtAngle(a) {
        return (a - startAngle) * (maxValue - minValue) / (endAngle - startAngle) + minValue;
    }

    function isOnRing(x, y) {
        var dx = x - width / 2;
        var dy = y - height / 2;
        var distance = Math.sqrt(dx * dx + dy * dy);
        var outer = _side / 2;
        return distance > outer - Math.max(trackWidth, 20) && distance <= outer;
    }

    function isOnHandle(x, y) {
        var local = handleBox.mapFromItem(root, x, y);
        return local.x >= 0 && local.y >= 0 && local.x <= handleBox.width && local.y <= handleBox.height;
    }

    function moveTo(x, y) {
        var a = angleAt(x, y);
        if (a < startAngle || a > endAngle)
            return;
        var v = valueAtAngle(a);
        if (snap)
            v = Math.round(v / stepSize) * stepSize;
        // The user's value holds only while moved() runs: an owner's binding of value takes over again
        // at once, while an unbound value keeps it.
        userValue.value = v;
        userValue.when = true;
        moved();
        userValue.when = false;
    }

    Binding {
        id: userValue
        target: root
        property: "value"
        when: false
        restoreMode: Binding.RestoreBinding
    }

    Shape {
        anchors.fill: parent
        visible: !root.hideTrack
        layer.enabled: true
        layer.samples: 8

        ShapePath {
            strokeColor: root.trackColor
            strokeWidth: root.trackWidth
            fillColor: "transparent"
            capStyle: root.capStyle

            PathAngleArc {
                centerX: root.width / 2
                centerY: root.height / 2
                radiusX: root._radius
                radiusY: root._radius
                startAngle: root.startAngle - 90
                sweepAngle: root.endAngle - root.startAngle
            }
        }
    }

    Shape {
        anchors.fill: parent
        visible: !root.hideProgress
        layer.enabled: true
        layer.samples: 8

        ShapePath {
            strokeColor: root.progressColor
            strokeWidth: root.progressWidth
            fillColor: "transparent"
            capStyle: root.capStyle

            PathAngleArc {
                centerX: root.width / 2
                centerY: root.height / 2
                radiusX: root._radius
                radiusY: root._radius
                startAngle: root.startAngle - 90
                sweepAngle: root.angle - root.startAngle
            }
        }
    }

    Item {
        id: handleBox
        objectName: "handle"
        readonly property real lift: root._side / 2 - root._stroke / 2 - root.handleVerticalOffset

        visible: root.interactive
        width: root.handleWidth
        height: root.handleHeight
        x: (root.width - width) / 2
        y: (root.height - height) / 2 - lift
        transform: Rotation {
            origin.x: handleBox.width / 2
            origin.y: handleBox.height / 2 + handleBox.lift
            angle: root.angle
        }

        Loader {
            anchors.fill: parent
            sourceComponent: root.handle ? root.handle : defaultHandle
        }
    }

    Component {
        id: defaultHandle

        Rectangle {
            color: root.handleColor
            radius: root.handleRadius
        }
    }

    MouseArea {
        id: mouseArea

        property bool dragging: false

        anchors.fill: parent
        enabled: root.interactive
        cursorShape: root.cursorShape

        onPressed: {
            if (root.isOnHandle(mouse.x, mouse.y) || root.isOnRing(mouse.x, mouse.y)) {
                dragging = true;
                root.moveTo(mouse.x, mouse.y);
            } else {
                mouse.accepted = false;
            }
        }
        onPositionChanged: {
            if (dragging)
                root.moveTo(mouse.x, mouse.y);
        }
        onReleased: dragging = false
        onCanceled: dragging = false
    }
}
