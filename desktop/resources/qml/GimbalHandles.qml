import QtQuick 2.15
import QtQuick.Controls 2.15

// The handles of the rotation gimbal, over the 3D view, placed on the outline of the rings
// that the editor reports around the selected model. The move handle below the rings drags
// the model over the platform. The turning handles, coloured as their rings, turn the model
// as the mouse goes round it like a dial: Z (right) about the platform's up axis, X (top)
// and Y (left) about the platform's axes. Turns are free; with Shift they snap to 15
// degrees. Each drag is one step of undo. No handle shows without a selection, nor while a
// face is picked to lay flat or supports are edited by hand.
Item {
    id: handles
    objectName: "gimbalHandles"

    property var renderer: null
    // The outline last reported; shown from a report until the gimbal is disabled.
    property bool reported: false
    property point topPoint
    property point rightPoint
    property point bottomPoint
    property point leftPoint
    // The turn under way: the axis (the editor's: 0 x, 1 up, 2 z), or -1, and its angle.
    property int turningAxis: -1
    property real turnDegrees: 0

    // A press on a handle (the view's own presses do not see it).
    signal pressed()

    visible: reported && renderer !== null && renderer.gimbalCanRender
             && !renderer.inSelectBaseMode && !renderer.inEditSupportMode

    readonly property int handleSize: 30
    // The rings' colours in the view, by the editor's axis.
    readonly property var ringColours: ["#e63333", "#33bf40", "#3366f2"]
    // The platform's names of the editor's axes: its up axis is Z, its depth Y.
    readonly property var axisNames: ["X", "Z", "Y"]

    Connections {
        target: handles.renderer
        ignoreUnknownSignals: true
        function onGimbalBoundingPointsReceived(topPoint, rightPoint, bottomPoint, leftPoint) {
            handles.topPoint = topPoint
            handles.rightPoint = rightPoint
            handles.bottomPoint = bottomPoint
            handles.leftPoint = leftPoint
            handles.reported = true
        }
        function onGimbalIsDisabled() {
            handles.reported = false
            handles.turningAxis = -1
        }
        function onGimbalTurnChanged(axis, degrees) { handles.turnDegrees = degrees }
    }

    function release() {
        renderer.modelSelectionButtonReleased()
        renderer.requestModelTransformations()
        turningAxis = -1
    }

    // A round handle; it reports the mouse in the view's pixels.
    component Handle: Rectangle {
        id: handle
        property point at
        property string hint
        signal grabbed(point p)
        signal dragged(point p, bool shift)
        x: at.x - width / 2
        y: at.y - height / 2
        width: handles.handleSize
        height: width
        radius: width / 2
        border.color: "white"
        border.width: area.containsMouse || area.pressed ? 3 : 2
        ToolTip.visible: area.containsMouse && !area.pressed
        ToolTip.delay: 500
        ToolTip.text: hint
        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            preventStealing: true
            cursorShape: pressed ? Qt.ClosedHandCursor : Qt.OpenHandCursor
            onPressed: {
                handles.pressed()
                handle.grabbed(mapToItem(handles.renderer, mouse.x, mouse.y))
            }
            onPositionChanged: {
                if (pressed)
                    handle.dragged(mapToItem(handles.renderer, mouse.x, mouse.y),
                                   (mouse.modifiers & Qt.ShiftModifier) !== 0)
            }
            onReleased: handles.release()
            onCanceled: handles.release()
        }
    }

    component TurnHandle: Handle {
        id: turn
        property int axis: 1
        objectName: "gimbalTurnHandle" + handles.axisNames[axis]
        color: handles.ringColours[axis]
        hint: qsTr("Drag round the model to turn it about %1 (Shift: steps of 15°)").arg(handles.axisNames[axis])
        Label {
            anchors.centerIn: parent
            text: handles.axisNames[turn.axis]
            color: "white"
            font.bold: true
        }
        // A turning arrow round the letter.
        Canvas {
            anchors.fill: parent
            anchors.margins: 4
            onPaint: {
                var c = getContext("2d")
                var r = width / 2 - 1.5
                c.reset()
                c.strokeStyle = "white"
                c.fillStyle = "white"
                c.lineWidth = 1.5
                c.beginPath()
                c.arc(width / 2, height / 2, r, -0.25 * Math.PI, 1.25 * Math.PI)
                c.stroke()
                var tipX = width / 2 + r * Math.cos(1.25 * Math.PI)
                var tipY = height / 2 + r * Math.sin(1.25 * Math.PI)
                c.beginPath()
                c.moveTo(tipX - 4, tipY + 1)
                c.lineTo(tipX + 2, tipY - 3)
                c.lineTo(tipX + 2, tipY + 4)
                c.closePath()
                c.fill()
            }
        }
        onGrabbed: {
            handles.turnDegrees = 0
            handles.turningAxis = axis
            handles.renderer.pressGimbalRotationHandleAtPoint(p.x, p.y, axis)
        }
        onDragged: handles.renderer.dragGimbalRotationHandleWithMouse(p.x, p.y, shift)
    }

    TurnHandle { axis: 1; at: handles.rightPoint }
    TurnHandle { axis: 0; at: handles.topPoint }
    TurnHandle { axis: 2; at: handles.leftPoint }

    Handle {
        id: moveHandle
        objectName: "gimbalMoveHandle"
        at: Qt.point(handles.bottomPoint.x, handles.bottomPoint.y + handles.handleSize / 2)
        color: Theme.accent
        hint: qsTr("Drag to move the model on the platform")
        // Four arrows, one each way.
        Canvas {
            anchors.fill: parent
            anchors.margins: 6
            onPaint: {
                var c = getContext("2d")
                var m = width / 2
                c.reset()
                c.strokeStyle = "white"
                c.fillStyle = "white"
                c.lineWidth = 1.5
                c.beginPath()
                c.moveTo(2, m); c.lineTo(width - 2, m)
                c.moveTo(m, 2); c.lineTo(m, height - 2)
                c.stroke()
                var heads = [[0, m, 1, 0], [width, m, -1, 0], [m, 0, 0, 1], [m, height, 0, -1]]
                for (var i = 0; i < heads.length; ++i) {
                    var h = heads[i]
                    c.beginPath()
                    c.moveTo(h[0], h[1])
                    c.lineTo(h[0] + 4 * h[2] + 3 * h[3], h[1] + 4 * h[3] + 3 * h[2])
                    c.lineTo(h[0] + 4 * h[2] - 3 * h[3], h[1] + 4 * h[3] - 3 * h[2])
                    c.closePath()
                    c.fill()
                }
            }
        }
        onGrabbed: handles.renderer.pressGimbalMoveIconAtPoint(p.x, p.y)
        onDragged: handles.renderer.dragGimbalMoveIconWithMouse(p.x, p.y)
    }

    // The angle of the turn under way, over the view.
    Rectangle {
        objectName: "gimbalTurnReadout"
        visible: handles.turningAxis >= 0
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: Theme.margin
        width: readout.implicitWidth + 2 * Theme.gap
        height: readout.implicitHeight + Theme.gap
        radius: height / 2
        color: Theme.cardBackground
        Label {
            id: readout
            anchors.centerIn: parent
            text: handles.turningAxis < 0 ? ""
                  : qsTr("Turn about %1: %2°").arg(handles.axisNames[handles.turningAxis])
                    .arg(handles.turnDegrees.toFixed(1))
        }
    }
}
