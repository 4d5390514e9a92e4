import QtQuick 2.15
import QtQuick.Controls 2.15

// A question the import asks before the model is placed; it waits for an answer.
TessoraDialog {
    id: prompt

    property alias text: promptText.text
    property alias acceptText: acceptButton.text
    property alias rejectText: rejectButton.text
    signal answered(bool yes)

    preferredWidth: 460
    closePolicy: Popup.NoAutoClose

    Label {
        id: promptText
        objectName: prompt.objectName + "Text"
        width: prompt.availableWidth
        wrapMode: Text.Wrap
    }

    footer: DialogButtonBox {
        Button {
            id: rejectButton
            objectName: prompt.objectName + "RejectButton"
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
        Button {
            id: acceptButton
            objectName: prompt.objectName + "AcceptButton"
            highlighted: true
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
    }
    onAccepted: answered(true)
    onRejected: answered(false)
}
