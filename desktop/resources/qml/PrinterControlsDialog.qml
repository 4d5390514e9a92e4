import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Moving a printer's platform and tank, its projector's test grid, commands to its motor
// board and the download of its settings and log. Moves, the projector and board commands
// are refused while it prints, and wait while a job is being sent to it.
TessoraDialog {
    id: dialog
    objectName: "printerControlsDialog"

    property var controller: null
    readonly property var printers: controller ? controller.printers : null
    signal printerChosen(string serial)

    readonly property string serial: printerChoice.serial
    readonly property bool commandsWait: printerChoice.printer.commandsWait === true
    readonly property bool printerBusy: printerChoice.printer.busy === true
    readonly property bool canMove: serial !== "" && !printerBusy && !commandsWait

    function refresh() {
        if (serial !== "")
            printerChosen(serial)
    }

    title: qsTr("Printer controls")
    preferredWidth: 560
    standardButtons: Dialog.Close
    onAboutToShow: { note.text = ""; refresh() }
    onSerialChanged: if (opened) refresh()

    ColumnLayout {
        width: dialog.availableWidth
        spacing: Theme.gap

        PrinterChoice {
            id: printerChoice
            objectName: "controlsPrinter"
            Layout.fillWidth: true
            printers: dialog.printers
        }
        Label {
            objectName: "controlsBusyWarning"
            Layout.fillWidth: true
            visible: dialog.printerBusy || dialog.commandsWait
            wrapMode: Text.Wrap
            color: Theme.warningText
            text: dialog.commandsWait ? qsTr("Waiting for the job transfer to end")
                                      : qsTr("This printer is printing: moves and board commands wait until the print ends.")
        }

        GridLayout {
            Layout.fillWidth: true
            columns: 3
            columnSpacing: Theme.gap
            rowSpacing: Theme.smallGap

            Label { text: qsTr("Platform"); Layout.preferredWidth: 100 }
            Button {
                objectName: "platformUpButton"
                Layout.fillWidth: true
                text: qsTr("▲ Up")
                enabled: dialog.canMove
                onClicked: dialog.controller.movePlatformUp(dialog.serial)
            }
            Button {
                objectName: "platformDownButton"
                Layout.fillWidth: true
                text: qsTr("▼ Down")
                enabled: dialog.canMove
                onClicked: dialog.controller.movePlatformDown(dialog.serial)
            }

            Label { text: qsTr("Tank") }
            Button {
                objectName: "tankUpButton"
                Layout.fillWidth: true
                text: qsTr("Tilt up")
                enabled: dialog.canMove
                onClicked: dialog.controller.moveTankUp(dialog.serial)
            }
            Button {
                objectName: "tankDownButton"
                Layout.fillWidth: true
                text: qsTr("Tilt down")
                enabled: dialog.canMove
                onClicked: dialog.controller.moveTankDown(dialog.serial)
            }

            Label { text: qsTr("Projector") }
            Button {
                objectName: "projectGridButton"
                Layout.fillWidth: true
                text: qsTr("Show test grid")
                enabled: dialog.canMove
                onClicked: { dialog.printerChosen(dialog.serial); dialog.controller.networkedProjectGrid() }
            }
            Button {
                objectName: "projectorOffButton"
                Layout.fillWidth: true
                text: qsTr("Projector off")
                enabled: dialog.canMove
                onClicked: { dialog.printerChosen(dialog.serial); dialog.controller.networkedTurnOffProjector() }
            }

            Label { text: qsTr("Compression") }
            Button {
                objectName: "gCommandButton"
                Layout.fillWidth: true
                Layout.columnSpan: 2
                text: qsTr("Move the platform to its compression height")
                enabled: dialog.canMove
                onClicked: { dialog.printerChosen(dialog.serial); dialog.controller.networkedGCommand() }
            }

            Label { text: qsTr("Board command") }
            TextField {
                id: commandField
                objectName: "boardCommandField"
                Layout.fillWidth: true
                placeholderText: qsTr("Command line for the motor board")
                enabled: dialog.canMove
                selectByMouse: true
                onAccepted: sendCommand.clicked()
            }
            Button {
                id: sendCommand
                objectName: "sendBoardCommandButton"
                Layout.fillWidth: true
                text: qsTr("Send")
                enabled: dialog.canMove && commandField.text.trim() !== ""
                onClicked: {
                    dialog.controller.boardCommand(dialog.serial, commandField.text.trim())
                    note.text = qsTr("Sent: %1").arg(commandField.text.trim())
                    commandField.clear()
                }
            }
        }

        MenuSeparator { Layout.fillWidth: true }

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("Copy the printer's settings file and log to this computer (Tessora's data folder), for support.")
            }
            Button {
                objectName: "downloadConfigButton"
                text: qsTr("Download")
                enabled: dialog.serial !== ""
                onClicked: {
                    dialog.controller.sftpConfigFile(dialog.serial)
                    note.text = qsTr("Downloading the settings and log…")
                }
            }
        }
        Label {
            id: note
            objectName: "controlsNote"
            Layout.fillWidth: true
            elide: Text.ElideRight
            color: Theme.mutedText
        }
    }
}
