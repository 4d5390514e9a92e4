import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// A new nickname for a printer.
TessoraDialog {
    id: dialog
    objectName: "renameDialog"

    property string serial: ""
    signal renamed(string serial, string nickname)

    function ask(printerSerial, nickname) {
        serial = printerSerial
        nameField.text = nickname
        open()
        nameField.selectAll()
        nameField.forceActiveFocus()
    }

    title: qsTr("Rename printer")
    preferredWidth: 380

    ColumnLayout {
        width: dialog.availableWidth
        spacing: Theme.gap
        Label { text: qsTr("Nickname of printer %1").arg(dialog.serial) }
        TextField {
            id: nameField
            objectName: "nicknameField"
            Layout.fillWidth: true
            selectByMouse: true
            maximumLength: 32
            // Commas and the list separators would break the printer's messages.
            validator: RegExpValidator { regExp: /[^,*!]+/ }
            onAccepted: if (acceptableInput) dialog.accept()
        }
    }

    footer: DialogButtonBox {
        Button { objectName: "renameCancelButton"; text: qsTr("Cancel"); DialogButtonBox.buttonRole: DialogButtonBox.RejectRole }
        Button {
            objectName: "renameSaveButton"
            text: qsTr("Rename")
            highlighted: true
            enabled: nameField.acceptableInput && nameField.text.trim() !== ""
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
    }
    onAccepted: renamed(serial, nameField.text.trim())
}
