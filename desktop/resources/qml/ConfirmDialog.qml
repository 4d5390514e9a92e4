import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Asks before an action that cannot be taken back; `confirmed` runs it.
TessoraDialog {
    id: dialog
    objectName: "confirmDialog"

    property alias text: questionText.text
    property alias confirmText: confirmButton.text
    property alias keepText: keepButton.text
    signal confirmed()

    preferredWidth: 420

    Label {
        id: questionText
        objectName: dialog.objectName + "Text"
        width: dialog.availableWidth
        wrapMode: Text.Wrap
    }

    footer: DialogButtonBox {
        Button {
            id: keepButton
            objectName: dialog.objectName + "NoButton"
            text: qsTr("Keep")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
        Button {
            id: confirmButton
            objectName: dialog.objectName + "YesButton"
            text: qsTr("Confirm")
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
    }
    onAccepted: confirmed()
}
