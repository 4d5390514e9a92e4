import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Quality assurance: gives a printer its serial number and model at the factory.
TessoraDialog {
    id: dialog
    objectName: "serialModelDialog"

    property var controller: null
    readonly property var printers: controller ? controller.printers : null

    title: qsTr("Set serial and model")
    preferredWidth: 460
    onAboutToShow: { newSerial.text = ""; note.text = "" }

    ColumnLayout {
        width: dialog.availableWidth
        spacing: Theme.gap

        PrinterChoice {
            id: printerChoice
            objectName: "qaPrinter"
            Layout.fillWidth: true
            labelWidth: 110
            printers: dialog.printers
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Current serial"); Layout.preferredWidth: 110 }
            Label { objectName: "qaCurrentSerial"; text: printerChoice.serial; Layout.fillWidth: true; elide: Text.ElideRight }
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("New serial"); Layout.preferredWidth: 110 }
            TextField {
                id: newSerial
                objectName: "qaNewSerial"
                Layout.fillWidth: true
                selectByMouse: true
                maximumLength: 32
                validator: RegExpValidator { regExp: /[A-Za-z0-9_-]+/ }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Model"); Layout.preferredWidth: 110 }
            ComboBox {
                id: modelCombo
                objectName: "qaModel"
                Layout.fillWidth: true
                editable: true
                model: [qsTr("100 micron"), qsTr("75 micron")]
            }
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: Theme.mutedText
            text: qsTr("A model whose name contains 75 is treated as a 75 µm printer (96 × 60 mm platform).")
        }
        Label { id: note; objectName: "qaNote"; Layout.fillWidth: true; color: Theme.okText; elide: Text.ElideRight }
    }

    footer: DialogButtonBox {
        Button { objectName: "qaCloseButton"; text: qsTr("Close"); DialogButtonBox.buttonRole: DialogButtonBox.RejectRole }
        Button {
            objectName: "qaSendButton"
            text: qsTr("Send to printer")
            highlighted: true
            enabled: printerChoice.serial !== "" && newSerial.acceptableInput && modelCombo.editText.trim() !== ""
                     && printerChoice.printer.commandsWait !== true
            onClicked: {
                dialog.controller.qa_sendSerialAndModel(printerChoice.serial, newSerial.text, modelCombo.editText.trim())
                note.text = qsTr("Serial %1 and model sent.").arg(newSerial.text)
            }
        }
    }
}
