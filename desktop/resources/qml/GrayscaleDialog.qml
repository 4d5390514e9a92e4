import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Quality assurance: the grayscale grid laid over a printer's projection, a level from 0
// (black) to 255 (full light) per cell.
TessoraDialog {
    id: dialog
    objectName: "grayscaleDialog"

    property var controller: null
    readonly property var printers: controller ? controller.printers : null
    property var levels: []

    function resize() {
        var list = []
        for (var i = 0; i < rows.value * columns.value; ++i)
            list.push(255)
        levels = list
    }

    // The grid as the printer reads it: one chunk holding every row.
    function gridJson() {
        var grid = { numRows: rows.value, numColumns: columns.value, startRow: 0, endRow: rows.value }
        for (var r = 0; r < rows.value; ++r) {
            for (var c = 0; c < columns.value; ++c)
                grid["r" + r + "c" + c] = levels[r * columns.value + c]
        }
        return JSON.stringify(grid)
    }

    title: qsTr("Set Printer Grayscale")
    preferredWidth: 760
    onAboutToShow: { note.text = ""; if (levels.length !== rows.value * columns.value) resize() }

    ColumnLayout {
        anchors.fill: parent
        spacing: Theme.gap

        PrinterChoice {
            id: printerChoice
            objectName: "grayscalePrinter"
            Layout.fillWidth: true
            printers: dialog.printers
        }
        RowLayout {
            spacing: Theme.gap
            Label { text: qsTr("Rows") }
            SpinBox { id: rows; objectName: "grayscaleRows"; from: 1; to: 16; value: 8; onValueModified: dialog.resize() }
            Label { text: qsTr("Columns") }
            SpinBox { id: columns; objectName: "grayscaleColumns"; from: 1; to: 20; value: 13; onValueModified: dialog.resize() }
            Label { text: qsTr("Fill with") }
            SpinBox { id: fillLevel; objectName: "grayscaleFill"; from: 0; to: 255; value: 255; editable: true }
            Button {
                objectName: "grayscaleFillButton"
                text: qsTr("Fill")
                onClicked: {
                    var list = []
                    for (var i = 0; i < rows.value * columns.value; ++i)
                        list.push(fillLevel.value)
                    dialog.levels = list
                }
            }
        }
        ScrollView {
            id: scroll
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 120
            clip: true

            Grid {
                columns: columns.value
                spacing: 2
                Repeater {
                    model: dialog.levels.length
                    delegate: TextField {
                        objectName: "level_" + index
                        width: 44
                        horizontalAlignment: TextInput.AlignHCenter
                        text: dialog.levels[index]
                        selectByMouse: true
                        validator: IntValidator { bottom: 0; top: 255 }
                        onEditingFinished: if (acceptableInput) dialog.levels[index] = Number(text)
                    }
                }
            }
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: Theme.mutedText
            text: qsTr("Levels from 0 (no light) to 255 (full light), as seen from the front of the printer.")
        }
        Label { id: note; objectName: "grayscaleNote"; Layout.fillWidth: true; color: Theme.okText; elide: Text.ElideRight }
    }

    footer: DialogButtonBox {
        Button { objectName: "grayscaleCloseButton"; text: qsTr("Close"); DialogButtonBox.buttonRole: DialogButtonBox.RejectRole }
        Button {
            objectName: "grayscaleSendButton"
            text: qsTr("Send to printer")
            highlighted: true
            enabled: printerChoice.serial !== ""
            onClicked: {
                dialog.controller.setGrayscaleGrid(printerChoice.serial, dialog.gridJson())
                note.text = qsTr("Grid of %1 × %2 cells handed over for %3.").arg(rows.value).arg(columns.value).arg(printerChoice.nickname)
            }
        }
    }
}
