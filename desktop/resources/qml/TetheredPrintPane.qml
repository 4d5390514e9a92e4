import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "format.js" as Format

// The print on the printer tethered to this computer, while it runs: what it does, its
// progress (the page's advancePrintStage sets layerNumber, percent and minutesLeft), and Pause,
// Resume and Cancel.
Pane {
    id: pane
    objectName: "tetheredPane"

    property var controller: null
    // The controller's tetheredState: idle, waiting, printing, pausing, paused, resuming, cancelling.
    readonly property string printState: controller ? controller.tetheredState : "idle"
    property int layerNumber: 0
    property int percent: 0
    property int minutesLeft: 0

    function stateText() {
        switch (printState) {
        case "waiting": return qsTr("Waiting for the printer's board")
        case "printing": return qsTr("Printing layer %1, %2 %, %3 left").arg(layerNumber).arg(percent)
                                .arg(Format.minutesText(minutesLeft))
        case "pausing": return qsTr("Pausing once the platform has moved")
        case "paused": return qsTr("Paused at layer %1, %2 %").arg(layerNumber).arg(percent)
        case "resuming": return qsTr("Resuming: the platform goes back down")
        case "cancelling": return qsTr("Cancelling: the platform makes its final movement")
        }
        return ""
    }

    visible: printState !== "idle"
    padding: Theme.gap
    onPrintStateChanged: if (printState === "waiting") { layerNumber = 0; percent = 0; minutesLeft = 0 }

    RowLayout {
        anchors.fill: parent
        spacing: Theme.gap
        Label {
            objectName: "tetheredStatus"
            Layout.fillWidth: true
            elide: Text.ElideRight
            text: qsTr("This computer's printer: %1").arg(pane.stateText())
        }
        ProgressBar {
            objectName: "tetheredProgress"
            Layout.preferredWidth: 200
            from: 0
            to: 100
            value: pane.percent
        }
        Button {
            objectName: "tetheredPauseButton"
            text: qsTr("Pause")
            visible: pane.printState !== "paused"
            enabled: pane.printState === "printing"
            onClicked: pane.controller.pausePrint()
        }
        Button {
            objectName: "tetheredResumeButton"
            text: qsTr("Resume")
            visible: pane.printState === "paused"
            onClicked: pane.controller.resumePrint()
        }
        Button {
            objectName: "tetheredCancelButton"
            text: qsTr("Cancel print")
            enabled: pane.printState !== "cancelling"
            onClicked: cancelConfirm.open()
        }
    }

    ConfirmDialog {
        id: cancelConfirm
        objectName: "tetheredCancelConfirm"
        title: qsTr("Cancel print")
        text: qsTr("Cancel the print on the printer of this computer? It cannot be resumed.")
        confirmText: qsTr("Cancel print")
        onConfirmed: pane.controller.cancelPrint()
    }
}
