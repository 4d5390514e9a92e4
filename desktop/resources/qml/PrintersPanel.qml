import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "format.js" as Format

// The connected printers: what each is doing now and how its last print ended, and pause,
// resume, cancel, reprint, rename and disconnect. Without a printer: a search.
TessoraDialog {
    id: panel
    objectName: "printersPanel"

    property var controller: null
    readonly property var printers: controller ? controller.printers : null
    readonly property string waitText: qsTr("Waiting for the job transfer to end")
    signal printerChosen(string serial)

    title: qsTr("Printers")
    preferredWidth: 600
    standardButtons: Dialog.Close

    ListView {
        id: list
        objectName: "printerList"
        implicitHeight: Math.max(contentHeight, 120)
        width: panel.availableWidth
        height: panel.availableHeight
        clip: true
        spacing: Theme.gap
        model: panel.printers
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            anchors.centerIn: parent
            width: parent.width
            visible: list.count === 0
            spacing: Theme.gap
            Label {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: qsTr("No printer connected. Printers on this network connect by themselves once they hear Tessora, which announces itself every few seconds.")
            }
            Button {
                objectName: "searchPrintersButton"
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Search now")
                onClicked: panel.controller.broadcastIPFromQML()
            }
        }

        delegate: Frame {
            id: card
            objectName: "printerCard_" + model.serial
            width: list.width - (list.ScrollBar.vertical.visible ? list.ScrollBar.vertical.width : 0)

            ColumnLayout {
                anchors.fill: parent
                spacing: Theme.smallGap

                RowLayout {
                    Layout.fillWidth: true
                    Label {
                        objectName: "printerName"
                        text: model.nickname
                        font.bold: true
                        font.pixelSize: Theme.headingSize
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Label {
                        objectName: "printerSerial"
                        text: qsTr("Serial %1").arg(model.serial)
                        color: Theme.mutedText
                        Layout.minimumWidth: implicitWidth
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    Label {
                        objectName: "printerStatus"
                        text: !model.busy && model.outcomeText !== "" ? model.activityText + " · " + model.outcomeText
                                                                      : model.activityText
                        Layout.fillWidth: !printerProgress.visible
                        wrapMode: Text.Wrap
                    }
                    ProgressBar {
                        id: printerProgress
                        objectName: "printerProgress"
                        Layout.fillWidth: true
                        visible: model.printing || model.activity === "Sending"
                        from: 0
                        to: 100
                        value: model.activity === "Sending" ? model.transferPercent : model.percent
                    }
                }
                Label {
                    objectName: "printerProgressText"
                    Layout.fillWidth: true
                    visible: model.printing
                    elide: Text.ElideMiddle
                    text: qsTr("Layer %1 · %2 % · %3 left%4")
                          .arg(model.layer).arg(model.percent)
                          .arg(model.timeLeft >= 0 ? Format.minutesText(model.timeLeft) : qsTr("unknown time"))
                          .arg(model.jobName !== "" ? " · " + model.jobName : "")
                }
                Label {
                    objectName: "printerError"
                    Layout.fillWidth: true
                    visible: model.busy && model.errorText !== ""
                    wrapMode: Text.Wrap
                    color: Theme.errorText
                    text: model.errorText
                }
                Label {
                    objectName: "printerWaiting"
                    Layout.fillWidth: true
                    visible: model.commandsWait
                    wrapMode: Text.Wrap
                    color: Theme.mutedText
                    text: panel.waitText
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.smallGap
                    Button {
                        objectName: "pauseButton"
                        text: qsTr("Pause")
                        visible: model.activity !== "Paused"
                        enabled: model.activity === "Printing" && !model.commandsWait
                        onClicked: { panel.printerChosen(model.serial); panel.controller.manage_pauseJob(model.serial) }
                    }
                    Button {
                        objectName: "resumeButton"
                        text: qsTr("Resume")
                        visible: model.activity === "Paused"
                        enabled: !model.commandsWait
                        onClicked: { panel.printerChosen(model.serial); panel.controller.manage_resumeJob(model.serial) }
                    }
                    Button {
                        objectName: "cancelPrintButton"
                        text: qsTr("Cancel print")
                        enabled: model.printing && model.activity !== "Cancelling" && !model.commandsWait
                        onClicked: confirm.ask(qsTr("Cancel print"),
                                               qsTr("Cancel the print on %1? It cannot be resumed.").arg(model.nickname),
                                               qsTr("Cancel print"), function (s) { panel.controller.manage_cancelJob(s) },
                                               model.serial)
                    }
                    Button {
                        objectName: "reprintButton"
                        text: qsTr("Reprint")
                        enabled: !model.busy
                        onClicked: confirm.ask(qsTr("Reprint"),
                                               model.jobName !== ""
                                               ? qsTr("Print %1 again on %2?").arg(model.jobName).arg(model.nickname)
                                               : qsTr("Print the last job %1 received again?").arg(model.nickname),
                                               qsTr("Reprint"), function (s) {
                                                   panel.printerChosen(s)
                                                   panel.controller.manage_reprint(s)
                                               }, model.serial)
                    }
                    Item { Layout.fillWidth: true }
                    Button {
                        objectName: "renameButton"
                        text: qsTr("Rename…")
                        enabled: !model.commandsWait
                        ToolTip.visible: hovered && model.commandsWait
                        ToolTip.text: panel.waitText
                        onClicked: rename.ask(model.serial, model.nickname)
                    }
                    Button {
                        objectName: "disconnectButton"
                        text: qsTr("Disconnect")
                        onClicked: confirm.ask(qsTr("Disconnect printer"),
                                               qsTr("Disconnect %1 from this computer? A running print goes on.").arg(model.nickname),
                                               qsTr("Disconnect"), function (s) { panel.controller.manage_disconnectPrinter(s) },
                                               model.serial)
                    }
                }
            }
        }
    }

    ConfirmDialog {
        id: confirm
        objectName: "printerConfirmDialog"
        property var action: null
        property string serial: ""
        function ask(titleText, question, confirmLabel, handler, printerSerial) {
            title = titleText
            text = question
            confirmText = confirmLabel
            action = handler
            serial = printerSerial
            open()
        }
        onConfirmed: action(serial)
    }

    RenameDialog {
        id: rename
        onRenamed: panel.controller.manage_changeNickName(serial, nickname)
    }
}
