import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "format.js" as Format

// The connected printers: what each is doing, and pause, resume, cancel, reprint, rename
// and disconnect.
TessoraDialog {
    id: panel
    objectName: "printersPanel"

    property var controller: null
    property ListModel printers: ListModel {}
    signal printerChosen(string serial)

    title: qsTr("Printers")
    preferredWidth: 600
    standardButtons: Dialog.Close

    ListView {
        id: list
        objectName: "printerList"
        implicitHeight: Math.max(contentHeight, 60)
        width: panel.availableWidth
        height: panel.availableHeight
        clip: true
        spacing: Theme.gap
        model: panel.printers
        ScrollBar.vertical: ScrollBar {}

        Label {
            anchors.centerIn: parent
            visible: list.count === 0
            color: Theme.mutedText
            text: qsTr("No printer connected.")
        }

        delegate: Frame {
            id: card
            objectName: "printerCard_" + model.serial
            width: list.width - (list.ScrollBar.vertical.visible ? list.ScrollBar.vertical.width : 0)

            readonly property bool printing: model.status === "PrintStatus_Printing"
            readonly property bool paused: model.status === "PrintStatus_Paused"

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
                        text: model.activity !== "" ? Format.statusText(model.status) + " · " + model.activity
                                                    : Format.statusText(model.status)
                        Layout.minimumWidth: implicitWidth
                    }
                    ProgressBar {
                        objectName: "printerProgress"
                        Layout.fillWidth: true
                        visible: card.printing || card.paused
                        from: 0
                        to: 100
                        value: model.percent
                    }
                }
                Label {
                    objectName: "printerProgressText"
                    Layout.fillWidth: true
                    visible: card.printing || card.paused
                    elide: Text.ElideMiddle
                    text: qsTr("Layer %1 · %2 % · %3 left%4")
                          .arg(model.layer).arg(model.percent)
                          .arg(model.timeLeft >= 0 ? Format.minutesText(model.timeLeft) : qsTr("unknown time"))
                          .arg(model.jobName !== "" ? " · " + model.jobName : "")
                }
                Label {
                    objectName: "printerError"
                    Layout.fillWidth: true
                    visible: model.error !== ""
                    wrapMode: Text.Wrap
                    color: Theme.errorText
                    text: model.error
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.smallGap
                    Button {
                        objectName: "pauseButton"
                        text: qsTr("Pause")
                        visible: !card.paused
                        enabled: card.printing
                        onClicked: { panel.printerChosen(model.serial); panel.controller.manage_pauseJob(model.serial) }
                    }
                    Button {
                        objectName: "resumeButton"
                        text: qsTr("Resume")
                        visible: card.paused
                        onClicked: { panel.printerChosen(model.serial); panel.controller.manage_resumeJob(model.serial) }
                    }
                    Button {
                        objectName: "cancelPrintButton"
                        text: qsTr("Cancel print")
                        enabled: card.printing || card.paused
                        onClicked: confirm.ask(qsTr("Cancel print"),
                                               qsTr("Cancel the print on %1? It cannot be resumed.").arg(model.nickname),
                                               qsTr("Cancel print"), function (s) { panel.controller.manage_cancelJob(s) },
                                               model.serial)
                    }
                    Button {
                        objectName: "reprintButton"
                        text: qsTr("Reprint")
                        enabled: !card.printing && !card.paused
                        onClicked: { panel.printerChosen(model.serial); panel.controller.manage_reprint(model.serial) }
                    }
                    Item { Layout.fillWidth: true }
                    Button {
                        objectName: "renameButton"
                        text: qsTr("Rename…")
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
