import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Hollowing of the plate: every model (never its supports) is emptied inside when the
// plate is sliced, keeping walls of the given thickness, with drain holes to let the
// resin out. The choice goes to the editor as soon as it changes.
ColumnLayout {
    id: block
    objectName: "hollowBlock"

    property var editor: null
    readonly property bool wallOk: wall.acceptable && wall.value >= 0.5 && wall.value <= 10
    readonly property bool diameterOk: diameter.acceptable && diameter.value > 0 && diameter.value <= 20

    spacing: Theme.smallGap

    function apply() {
        if (!editor)
            return
        editor.setHollowing(hollow.checked && wallOk && diameterOk, wall.value, automatic.checked, diameter.value)
        // Clicks select models again once the models are solid.
        if (!hollow.checked)
            editor.inPlaceDrainHoleMode = false
    }
    // The last wall, holes and diameter used come back with the window.
    property bool loaded: false
    onEditorChanged: {
        if (editor && !loaded) {
            const saved = editor.savedHollowing()
            wall.text = String(saved.wall)
            automatic.checked = saved.autoDrainHoles
            diameter.text = String(saved.drainDiameter)
            loaded = true
        }
        apply()
    }

    Label { text: qsTr("Hollowing"); font.bold: true }
    CheckBox {
        id: hollow
        objectName: "hollowCheck"
        text: qsTr("Hollow")
        ToolTip.visible: hovered
        ToolTip.text: qsTr("Empty the inside of every model on the plate when it is sliced")
        onToggled: block.apply()
    }
    NumberField {
        id: wall
        objectName: "hollowWall"
        Layout.fillWidth: true
        enabled: hollow.checked
        label: qsTr("Wall")
        unit: qsTr("mm")
        minimum: 0.5
        maximum: 10
        decimals: 1
        text: "2"
        field.onTextChanged: block.apply()
    }
    RowLayout {
        Layout.fillWidth: true
        enabled: hollow.checked
        Label { text: qsTr("Drain holes"); Layout.preferredWidth: 72 }
        CheckBox {
            id: automatic
            objectName: "drainHolesAutomatic"
            text: qsTr("Automatic")
            checked: true
            ToolTip.visible: hovered
            ToolTip.text: qsTr("One drain hole at the lowest point of every cavity")
            onToggled: block.apply()
        }
    }
    NumberField {
        id: diameter
        objectName: "drainDiameter"
        Layout.fillWidth: true
        enabled: hollow.checked
        label: qsTr("Diameter")
        unit: qsTr("mm")
        minimum: 0.1
        maximum: 20
        decimals: 1
        text: "3"
        field.onTextChanged: block.apply()
    }
    Button {
        objectName: "placeDrainHoleButton"
        Layout.fillWidth: true
        enabled: hollow.checked
        text: qsTr("Place drain hole")
        checkable: true
        checked: block.editor !== null && block.editor.inPlaceDrainHoleMode
        onToggled: block.editor.inPlaceDrainHoleMode = checked
    }
    Label {
        Layout.fillWidth: true
        visible: block.editor !== null && block.editor.inPlaceDrainHoleMode
        wrapMode: Text.Wrap
        color: Theme.mutedText
        font.pixelSize: Theme.smallSize
        text: qsTr("Click a model: a hole is cut from there straight down through it. A hole moves with its model.")
    }
    Repeater {
        model: block.editor !== null ? block.editor.drainHoles : []
        delegate: RowLayout {
            objectName: "drainHoleEntry"
            Layout.fillWidth: true
            enabled: hollow.checked
            Label {
                Layout.fillWidth: true
                text: qsTr("X %1  Y %2  Z %3").arg(modelData.x.toFixed(1)).arg(modelData.y.toFixed(1))
                      .arg(modelData.z.toFixed(1))
            }
            Button {
                objectName: "removeDrainHoleButton"
                text: qsTr("Remove")
                onClicked: block.editor.removeDrainHole(index)
            }
        }
    }
    Label {
        Layout.fillWidth: true
        visible: hollow.checked && !automatic.checked
        wrapMode: Text.Wrap
        color: Theme.mutedText
        font.pixelSize: Theme.smallSize
        text: qsTr("Without automatic drain holes, only the holes placed here let the resin out: the check before saving or printing reports what stays trapped.")
    }
}
