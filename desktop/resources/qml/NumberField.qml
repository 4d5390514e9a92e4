import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// A labelled number with its unit: "Label  [ 12.5 ]  mm".
RowLayout {
    id: row

    property alias label: nameLabel.text
    property alias unit: unitLabel.text
    property alias text: field.text
    property alias field: field
    property real minimum: -1e9
    property real maximum: 1e9
    property int decimals: 2
    property int labelWidth: 72
    property int fieldWidth: 76
    readonly property real value: Number(field.text.replace(",", "."))
    readonly property bool acceptable: field.acceptableInput
    signal accepted()

    spacing: Theme.smallGap

    Label {
        id: nameLabel
        Layout.preferredWidth: Math.max(row.labelWidth, implicitWidth)
        Layout.minimumWidth: implicitWidth
        visible: text !== ""
    }
    TextField {
        id: field
        objectName: row.objectName + "Field"
        Layout.preferredWidth: row.fieldWidth
        Layout.fillWidth: true
        horizontalAlignment: TextInput.AlignRight
        selectByMouse: true
        enabled: row.enabled
        validator: DoubleValidator {
            bottom: row.minimum
            top: row.maximum
            decimals: row.decimals
            notation: DoubleValidator.StandardNotation
            locale: "C"
        }
        onAccepted: row.accepted()
        // Typing into a field replaces its value: it comes with the whole text selected
        // (after the click that gave it focus has placed the cursor).
        onActiveFocusChanged: if (activeFocus) Qt.callLater(field.selectAll)
    }
    Label {
        id: unitLabel
        objectName: row.objectName + "Unit"
        Layout.minimumWidth: implicitWidth
        visible: text !== ""
    }
}
