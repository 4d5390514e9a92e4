import QtQuick 2.15
import QtQuick.Controls 2.15
import GLRenderer 1.0

// The 3D view: the editor item, its toolbar, the placement warnings, the gimbal's handles
// and the mouse. Left button selects and drags models (or picks the face to lay flat, or
// edits supports, in those modes), right button orbits, middle button (or Shift with the
// right button) pans, the wheel zooms. The handles about the selected model move and turn
// it (GimbalHandles); the toolbar hides them. The key A arranges the models.
Item {
    id: view

    readonly property alias renderer: renderer
    // The last mouse press in the view (the page clears a pending import answer on it).
    signal pressed()

    function moveCamera(preset) {
        presetTimer.preset = preset
        renderer.beginFixedCameraMovement()
        presetTimer.steps = 0
        presetTimer.start()
    }

    OpenGLRenderer {
        id: renderer
        objectName: "editor"
        anchors.fill: parent
        gimbalCanRender: handlesButton.checked
    }

    // Over the view, top left.
    Row {
        objectName: "editorToolbar"
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.margins: Theme.gap
        spacing: Theme.smallGap
        z: 1
        Button {
            objectName: "arrangeButton"
            text: qsTr("Arrange")
            focusPolicy: Qt.NoFocus
            ToolTip.visible: hovered
            ToolTip.text: qsTr("Set every model on the platform apart from the others (A)")
            onClicked: renderer.arrangeModels()
        }
        Button {
            id: handlesButton
            objectName: "handlesButton"
            text: qsTr("Handles")
            checkable: true
            checked: true
            focusPolicy: Qt.NoFocus
            ToolTip.visible: hovered
            ToolTip.text: qsTr("Show the handles that move and turn the selected model")
        }
    }

    Shortcut {
        sequence: "A"
        onActivated: renderer.arrangeModels()
    }

    // The placement warnings, along the bottom, while there are any.
    Rectangle {
        objectName: "placementWarningLine"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: Theme.gap
        height: warningText.implicitHeight + 2 * Theme.gap
        radius: 4
        color: Theme.cardBackground
        border.color: Theme.warningText
        visible: renderer.placementWarning !== ""
        z: 1
        Label {
            id: warningText
            objectName: "placementWarningText"
            anchors.fill: parent
            anchors.margins: Theme.gap
            wrapMode: Text.Wrap
            color: Theme.warningText
            text: renderer.placementWarning
        }
    }

    // Preset views are animated: one step per frame until the camera has arrived.
    Timer {
        id: presetTimer
        property string preset: "home"
        property int steps: 0
        interval: 16
        repeat: true
        onTriggered: {
            if (steps > 0 && renderer.isCameraMovementDone()) {
                stop()
                return
            }
            // A bound on the steps in case no frame is drawn (window hidden).
            if (++steps > 200) {
                stop()
                return
            }
            switch (preset) {
            case "right": renderer.moveCameraTowardsRight(); break
            case "left": renderer.moveCameraTowardsLeft(); break
            case "top": renderer.moveCameraTowardsTop(); break
            case "front": renderer.moveCameraTowardsFront(); break
            default: renderer.moveCameraTowardsHome(); break
            }
        }
    }

    MouseArea {
        id: mouse
        objectName: "editorMouseArea"
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton | Qt.RightButton | Qt.MiddleButton
        hoverEnabled: renderer.inSelectBaseMode || renderer.inEditSupportMode

        property point anchor
        property int dragButton: Qt.NoButton
        property bool moved: false

        onPressed: {
            // The keyboard comes to the view: Ctrl+Z then undoes the scene, not a field's text.
            view.forceActiveFocus()
            view.pressed()
            anchor = Qt.point(mouse.x, mouse.y)
            moved = false
            var panning = mouse.button === Qt.MiddleButton
                    || (mouse.button === Qt.RightButton && (mouse.modifiers & Qt.ShiftModifier))
            if (panning) {
                dragButton = Qt.MiddleButton
                renderer.placePanningAnchor()
            } else if (mouse.button === Qt.RightButton) {
                dragButton = Qt.RightButton
                renderer.placeRotationAnchor()
            } else {
                dragButton = Qt.LeftButton
                if (renderer.inSelectBaseMode)
                    renderer.selectBase(mouse.x, mouse.y)
                else if (!renderer.inEditSupportMode)
                    renderer.selectModelAtPoint(mouse.x, mouse.y)
            }
        }
        onPositionChanged: {
            var dx = Math.round(mouse.x - anchor.x)
            var dy = Math.round(mouse.y - anchor.y)
            if (Math.abs(dx) + Math.abs(dy) > 2)
                moved = true
            if (!pressed) {
                if (renderer.inSelectBaseMode)
                    renderer.showSelectBaseArrowAtPoint(mouse.x, mouse.y)
                else if (renderer.inEditSupportMode)
                    renderer.moveMouseInEditSupportMode(mouse.x, mouse.y)
                return
            }
            if (dragButton === Qt.MiddleButton)
                renderer.panCamera(dx, dy)
            else if (dragButton === Qt.RightButton)
                renderer.rotateCamera(dx, dy)
            else if (!renderer.inSelectBaseMode && !renderer.inEditSupportMode)
                renderer.moveModelWithMouse(mouse.x, mouse.y)
        }
        onReleased: {
            if (dragButton === Qt.MiddleButton) {
                renderer.releasePanningAnchor()
            } else if (dragButton === Qt.RightButton) {
                renderer.releaseRotationAnchor()
                if (!moved && renderer.inEditSupportMode)
                    renderer.manuallyDeleteSupport(mouse.x, mouse.y)
            } else if (renderer.inEditSupportMode) {
                if (!moved)
                    renderer.mouseClickInEditSupportMode(mouse.x, mouse.y)
            } else if (!renderer.inSelectBaseMode) {
                renderer.modelSelectionButtonReleased()
                renderer.requestModelTransformations()
            } else {
                // One face picked: the mode ends with it.
                renderer.inSelectBaseMode = false
                renderer.requestModelTransformations()
            }
            dragButton = Qt.NoButton
        }
        onWheel: renderer.zoomCamera(-wheel.angleDelta.y)
    }

    // Over the view's mouse area, under the toolbar.
    GimbalHandles {
        anchors.fill: parent
        renderer: view.renderer
        z: 0.5
        onPressed: {
            view.forceActiveFocus()
            view.pressed()
        }
    }
}
