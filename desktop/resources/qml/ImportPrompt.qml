import QtQuick 2.15
import QtQuick.Controls 2.15

// A question the import asks before the model is placed; it waits for an answer.
TessoraDialog {
    id: prompt

    property alias text: promptText.text
    // A line under the question, e.g. what the accept answer leads to; none when empty.
    property alias detail: detailText.text
    property alias acceptText: acceptButton.text
    property alias rejectText: rejectButton.text
    signal answered(bool yes)

    preferredWidth: 460
    closePolicy: Popup.NoAutoClose

    Column {
        width: prompt.availableWidth
        spacing: Theme.gap
        Label {
            id: promptText
            objectName: prompt.objectName + "Text"
            width: parent.width
            wrapMode: Text.Wrap
        }
        Label {
            id: detailText
            objectName: prompt.objectName + "Detail"
            width: parent.width
            wrapMode: Text.Wrap
            visible: text !== ""
        }
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
