import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "format.js" as Format

// Printing on a connected printer, or on the printer tethered to this computer (its projector
// a screen of this computer, its board on this computer's USB): the platform's models (sliced
// first for the printer's model) or a job file. The layer thicknesses the chosen resin does not offer cannot be
// chosen; a busy printer, or a job file sliced for the other pixel size, cannot be printed on.
TessoraDialog {
    id: dialog
    objectName: "printDialog"

    property var controller: null
    readonly property var printers: controller ? controller.printers : null
    // Height of the tallest model, millimetres (for the time estimate of the platform).
    property real maxModelHeight: 0
    // A job file to print instead of the platform, with its own layer thickness.
    property string jobPath: ""
    property int jobThickness: 0
    // The pixel size the job file was sliced for: 75, 100, or -1 when it does not say.
    property int jobMicrons: -1

    signal printModels(string serial, string resinName, int thickness, bool antialiasing, int antialiasingLevel)
    signal printJobFile(string serial, string path, string resinName)

    // The tethered printer: the screen of its projector (counted from 0) and its board's
    // serial port (empty: found by itself); its pixel size is the platform's of the window.
    property alias tethered: tetheredChoice.checked
    property alias screenNumber: screenBox.value
    readonly property string serialPort: portField.text.trim()
    property bool tetheredIs75: false

    readonly property string serial: tethered ? "" : printerChoice.serial
    readonly property var printer: printerChoice.printer
    readonly property bool printerBusy: tethered ? controller !== null && controller.tetheredState !== "idle" : printer.busy === true
    readonly property int printerMicrons: (tethered ? tetheredIs75 : printer.is75 === true) ? 75 : 100
    readonly property string printerName: tethered ? qsTr("the printer of this computer") : printerChoice.nickname
    readonly property bool wrongPixelSize: jobPath !== "" && jobMicrons > 0 && (serial !== "" || tethered)
                                           && jobMicrons !== printerMicrons
    property var resinNames: []
    // Minutes on the printer for each of 20, 50 and 100 microns, -1 where the resin offers none:
    // the controller's estimate, timed as the printer runs the layer cycle (exposures, tilts and
    // moves, the start and the final movement).
    property var times: []
    readonly property int estimate: {
        var index = [20, 50, 100].indexOf(thicknessChoice.thickness)
        return index >= 0 && index < times.length ? times[index] : -1
    }
    // Millilitres of resin: the job file's, or about the platform's models and supports.
    property real jobVolume: -1
    readonly property real volume: jobPath !== "" ? jobVolume
                                                  : (typeof root !== "undefined" && root.totalModelVolume !== undefined
                                                     ? root.totalModelVolume : -1)
    property string pricePerLitre: ""
    // Sub-rows per pixel of each anti-aliasing choice (0: grey edges).
    readonly property var aaLevels: [0, 2, 4, 8]
    readonly property bool canPrint: (serial !== "" || tethered) && resinCombo.currentText !== "" && estimate >= 0 && !printerBusy
                                     && !wrongPixelSize

    // The platform's models on a networked printer, or on the printer of this computer.
    function openForModels() {
        openForPrinter(false)
    }
    function openForThisComputer() {
        openForPrinter(true)
    }
    function openForPrinter(onThisComputer) {
        tethered = onThisComputer
        networkChoice.checked = !onThisComputer
        jobPath = ""
        jobThickness = 0
        jobMicrons = -1
        var index = controller ? aaLevels.indexOf(controller.antiAliasingLevel()) : 0
        aaLevel.currentIndex = index >= 0 ? index : 0
        open()
    }

    function openForJob(path) {
        if (printers && printers.count === 0) {
            tethered = true
            networkChoice.checked = false
        }
        jobPath = path
        jobThickness = controller.requestSSJThickness(path)
        jobMicrons = controller.requestSSJResolution(path)
        jobVolume = -1
        controller.requestSSJVolume(path)
        thicknessChoice.thickness = jobThickness
        open()
    }

    // The tethered printer as it was last printed on.
    function recallTetheredPrinter() {
        var last = controller ? controller.tetheredPrinterSettings() : ({ screen: 1, serialPort: "" })
        screenBox.value = last.screen
        portField.text = last.serialPort
    }

    function refreshResins() {
        if (!controller)
            return
        var previous = resinCombo.currentText
        resinNames = serial !== "" ? controller.getResinNames(serial) : controller.getResinNames()
        var index = resinNames.indexOf(previous)
        resinCombo.currentIndex = index >= 0 ? index : (resinNames.length > 0 ? 0 : -1)
        refreshTimes()
    }

    function refreshTimes() {
        pricePerLitre = controller && resinCombo.currentText !== "" ? controller.resinPricePerLitre(resinCombo.currentText) : ""
        priceField.text = pricePerLitre
        if (!controller || resinCombo.currentText === "") {
            times = []
            return
        }
        var list = []
        for (var i = 0; i < 3; ++i) {
            var thickness = [20, 50, 100][i]
            if (jobPath !== "")
                list.push(thickness === jobThickness ? controller.requestSSJPrintTime(jobPath, serial, resinCombo.currentText) : -1)
            else
                list.push(controller.getPrintTime(thickness, maxModelHeight, serial, resinCombo.currentText))
        }
        times = list
        // Move off a thickness the resin does not offer.
        if (estimate < 0) {
            for (var j = 0; j < 3; ++j) {
                if (times[j] >= 0 && (jobPath === "" || [20, 50, 100][j] === jobThickness)) {
                    thicknessChoice.thickness = [20, 50, 100][j]
                    break
                }
            }
        }
    }

    title: jobPath !== "" ? qsTr("Print job file") : qsTr("Print")
    preferredWidth: 460
    onAboutToShow: {
        recallTetheredPrinter()
        refreshResins()
    }
    onSerialChanged: if (opened) refreshResins()
    onMaxModelHeightChanged: refreshTimes()

    ColumnLayout {
        width: dialog.availableWidth
        spacing: Theme.gap

        Label {
            objectName: "printJobName"
            Layout.fillWidth: true
            visible: dialog.jobPath !== ""
            elide: Text.ElideMiddle
            text: qsTr("Job: %1").arg(Format.fileName(dialog.jobPath))
        }
        RowLayout {
            spacing: Theme.gap
            RadioButton {
                id: networkChoice
                objectName: "printOnNetwork"
                text: qsTr("A printer on the network")
                checked: true
            }
            RadioButton {
                id: tetheredChoice
                objectName: "printOnThisComputer"
                text: qsTr("This computer (tethered printer)")
            }
        }
        GridLayout {
            visible: dialog.tethered
            columns: 3
            columnSpacing: Theme.gap
            Label { text: qsTr("Projector screen") }
            SpinBox {
                id: screenBox
                objectName: "printScreen"
                from: 0
                to: 9
                value: 1
            }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: qsTr("of %1 screens, counted from 0").arg(Qt.application.screens.length)
            }
            Label { text: qsTr("Board port") }
            TextField {
                id: portField
                objectName: "printSerialPort"
                Layout.columnSpan: 2
                Layout.fillWidth: true
                placeholderText: qsTr("Found by itself when empty")
            }
        }
        PrinterChoice {
            id: printerChoice
            objectName: "printPrinter"
            visible: !dialog.tethered
            Layout.fillWidth: true
            printers: dialog.printers
            onActivated: dialog.refreshResins()
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Resin"); Layout.preferredWidth: 90 }
            ComboBox {
                id: resinCombo
                objectName: "printResinCombo"
                Layout.fillWidth: true
                model: dialog.resinNames
                onActivated: dialog.refreshTimes()
            }
        }
        Label { text: qsTr("Layer thickness"); font.bold: true }
        ThicknessChoice {
            id: thicknessChoice
            objectName: "printThickness"
            Layout.fillWidth: true
            times: dialog.times
            onlyThickness: dialog.jobThickness
        }
        RowLayout {
            visible: dialog.jobPath === ""
            spacing: Theme.gap
            CheckBox {
                id: antialiasing
                objectName: "printAntialiasing"
                text: qsTr("Anti-aliasing (smoother surfaces)")
            }
            ComboBox {
                id: aaLevel
                objectName: "printAntialiasingLevel"
                enabled: antialiasing.checked
                model: [qsTr("Edge"), qsTr("2x"), qsTr("4x"), qsTr("8x")]
            }
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label {
                objectName: "printVolume"
                Layout.fillWidth: true
                visible: dialog.volume > 0
                text: {
                    var ml = dialog.volume.toFixed(dialog.jobPath !== "" ? 2 : 1)
                    var words = dialog.jobPath !== "" ? qsTr("Resin: %1 ml").arg(ml) : qsTr("Resin: about %1 ml").arg(ml)
                    var price = Number(dialog.pricePerLitre)
                    return dialog.pricePerLitre !== "" && price > 0
                            ? qsTr("%1, cost %2").arg(words).arg((dialog.volume / 1000 * price).toFixed(2)) : words
                }
            }
            TextField {
                id: priceField
                objectName: "printResinPrice"
                Layout.preferredWidth: 120
                enabled: resinCombo.currentText !== ""
                placeholderText: qsTr("Price per litre")
                onEditingFinished: {
                    if (!dialog.controller || resinCombo.currentText === "")
                        return
                    dialog.controller.setResinPricePerLitre(resinCombo.currentText, text)
                    dialog.pricePerLitre = dialog.controller.resinPricePerLitre(resinCombo.currentText)
                    text = dialog.pricePerLitre
                }
            }
        }
        Label {
            objectName: "printEstimate"
            Layout.fillWidth: true
            font.bold: true
            wrapMode: Text.Wrap
            text: dialog.estimate >= 0 ? qsTr("Estimated print time: %1").arg(Format.minutesText(dialog.estimate))
                                       : qsTr("Choose a layer thickness this resin offers.")
        }
        Label {
            objectName: "printBusyWarning"
            Layout.fillWidth: true
            visible: dialog.printerBusy
            wrapMode: Text.Wrap
            color: Theme.errorText
            text: dialog.tethered ? qsTr("A print is running on the printer of this computer")
                : dialog.printer.commandsWait === true ? qsTr("Waiting for the job transfer to end")
                                                       : qsTr("This printer is busy: %1").arg(dialog.printer.activityText)
        }
        Label {
            objectName: "printPixelSizeWarning"
            Layout.fillWidth: true
            visible: dialog.wrongPixelSize
            wrapMode: Text.Wrap
            color: Theme.errorText
            text: qsTr("This job was sliced for %1-micron printers; %2 is a %3-micron printer.")
                  .arg(dialog.jobMicrons).arg(dialog.printerName).arg(dialog.printerMicrons)
        }
    }

    // The job's resin is measured on a worker thread (every layer is decoded): shown when ready.
    Connections {
        target: typeof controller !== "undefined" ? controller : null
        function onSsjVolumeMeasured(ssjFile, millilitres) {
            if (ssjFile === dialog.jobPath)
                dialog.jobVolume = millilitres
        }
    }

    footer: DialogButtonBox {
        Button {
            objectName: "printCancelButton"
            text: qsTr("Cancel")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
        Button {
            objectName: "printStartButton"
            text: qsTr("Print")
            highlighted: true
            enabled: dialog.canPrint
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
    }
    onAccepted: {
        if (jobPath !== "")
            printJobFile(serial, jobPath, resinCombo.currentText)
        else {
            if (antialiasing.checked && controller)
                controller.setAntiAliasingLevel(aaLevels[aaLevel.currentIndex])
            printModels(serial, resinCombo.currentText, thicknessChoice.thickness, antialiasing.checked,
                        aaLevels[aaLevel.currentIndex])
        }
    }
}
