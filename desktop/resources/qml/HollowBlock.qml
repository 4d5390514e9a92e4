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
        if (editor)
            editor.setHollowing(hollow.checked && wallOk && diameterOk, wall.value, automatic.checked, diameter.value)
    }
    onEditorChanged: apply()

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
    Label {
        Layout.fillWidth: true
        visible: hollow.checked && !automatic.checked
        wrapMode: Text.Wrap
        color: Theme.mutedText
        font.pixelSize: Theme.smallSize
        text: qsTr("Without drain holes the resin stays trapped inside: the check before saving or printing reports it.")
    }
}
