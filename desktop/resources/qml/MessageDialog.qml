import QtQuick 2.15
import QtQuick.Controls 2.15

// A message for the user: a title, a text and an OK button.
TessoraDialog {
    id: dialog
    objectName: "messageDialog"

    property alias text: messageText.text

    function show(titleText, bodyText) {
        title = titleText
        text = bodyText
        open()
    }

    preferredWidth: 420
    standardButtons: Dialog.Ok

    Label {
        id: messageText
        objectName: "messageText"
        width: dialog.availableWidth
        wrapMode: Text.Wrap
    }
}
