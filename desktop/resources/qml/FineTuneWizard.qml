import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "calibration.js" as Calibration
import "format.js" as Format

// Fine-tuning a resin on a printer with a test print. Tolerance: a plate of pins in holes of
// growing clearance; the smallest fit whose pin came free changes the exposure. Dimensional
// accuracy: a stepped block (or the user's own model) whose measured sizes change the
// image scale. The new factors go to the printer's resin list.
TessoraDialog {
    id: wizard
    objectName: "fineTuneWizard"

    property var controller: null
    readonly property var printers: controller ? controller.printers : null

    readonly property int pageStart: 0
    readonly property int pageKind: 1
    readonly property int pageTolerancePrint: 2
    readonly property int pageToleranceResult: 3
    readonly property int pageDimensionsKind: 4
    readonly property int pageDimensionsPrint: 5
    readonly property int pageDimensionsResult: 6
    readonly property int pageManual: 7
    readonly property int pageDone: 8

    property int page: pageStart
    property var history: []
    property var resinNames: []
    property string doneText: ""
    property bool printSent: false

    readonly property string serial: printerChoice.serial
    readonly property var printer: printerChoice.printer
    readonly property bool printerBusy: printer.busy === true
    readonly property bool commandsWait: printer.commandsWait === true
    readonly property bool calibrated: {
        if (!printers || serial === "" || resin === "")
            return false
        printers.revision // read again with every record
        return controller.wasResinCalibrated(serial, resin, thickness)
    }
    readonly property string resin: resinCombo.currentText
    readonly property int thickness: thicknessChoice.thickness
    readonly property int chosenFit: fitGroup.checkedButton ? fitGroup.checkedButton.fit : 0
    readonly property real fitChange: Calibration.fineTuneChangeForFit(chosenFit)

    readonly property real tierMultiplierX: Calibration.tierMultiplier(Calibration.nominalSizesX(),
                                                                       [tierX0.value, tierX1.value, tierX2.value])
    readonly property real tierMultiplierY: Calibration.tierMultiplier(Calibration.nominalSizesY(),
                                                                       [tierY0.value, tierY1.value, tierY2.value])
    readonly property bool tiersMeasured: (tierX0.value > 0 || tierX1.value > 0 || tierX2.value > 0)
                                          && (tierY0.value > 0 || tierY1.value > 0 || tierY2.value > 0)
    readonly property real manualMultiplierX: Calibration.scaleMultiplier(nominalX.value, measuredX.value)
    readonly property real manualMultiplierY: Calibration.scaleMultiplier(nominalY.value, measuredY.value)

    function go(next) {
        var list = history
        list.push(page)
        history = list
        printSent = false
        page = next
    }

    function back() {
        var list = history
        page = list.length > 0 ? list.pop() : pageStart
        history = list
    }

    function refreshResins() {
        var previous = resinCombo.currentText
        resinNames = serial !== "" ? controller.getResinNames(serial) : []
        var index = resinNames.indexOf(previous)
        resinCombo.currentIndex = index >= 0 ? index : (resinNames.length > 0 ? 0 : -1)
    }

    function percentText(multiplier) {
        var change = (multiplier - 1) * 100
        if (Math.abs(change) < 0.005)
            return qsTr("unchanged")
        return (change > 0 ? "+" : "−") + Format.number(Math.abs(change), 2) + " %"
    }

    function exposureText(change) {
        if (change === 0)
            return qsTr("Exposure stays as it is: the resin is tuned.")
        return change > 0 ? qsTr("Exposure time +%1 % (the print was underexposed).").arg(Format.number(change * 100, 0))
                          : qsTr("Exposure time −%1 % (the print was overexposed).").arg(Format.number(-change * 100, 0))
    }

    // Why the test cannot be printed now; empty when it can.
    readonly property string busyText: !printerBusy ? ""
        : commandsWait ? qsTr("Waiting for the job transfer to end")
        : qsTr("%1 is busy: %2").arg(printerChoice.nickname).arg(printer.activityText)

    function finish(text) {
        doneText = text
        go(pageDone)
    }

    title: qsTr("Fine-tune a resin")
    preferredWidth: 600
    onAboutToShow: {
        page = pageStart
        history = []
        refreshResins()
    }
    onSerialChanged: if (opened) refreshResins()

    WizardPages {
        width: wizard.availableWidth
        currentIndex: wizard.page

        // ---- printer, resin and thickness
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("Choose the printer, the resin and the layer thickness to fine-tune. The results apply to this combination only.")
            }
            PrinterChoice {
                id: printerChoice
                objectName: "fineTunePrinter"
                Layout.fillWidth: true
                printers: wizard.printers
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.gap
                Label { text: qsTr("Resin"); Layout.preferredWidth: 90 }
                ComboBox {
                    id: resinCombo
                    objectName: "fineTuneResin"
                    Layout.fillWidth: true
                    model: wizard.resinNames
                }
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.gap
                Label { text: qsTr("Layers"); Layout.preferredWidth: 90; Layout.alignment: Qt.AlignTop }
                ThicknessChoice {
                    id: thicknessChoice
                    objectName: "fineTuneThickness"
                    Layout.fillWidth: true
                }
            }
            Label {
                objectName: "fineTuneCalibrated"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: wizard.serial === "" || wizard.resin === "" ? qsTr("Connect a printer to fine-tune its resins.")
                      : wizard.calibrated
                        ? qsTr("%1 has been fine-tuned at %2 µm on this printer; a new fine-tune changes it further.").arg(wizard.resin).arg(wizard.thickness)
                        : qsTr("%1 has not been fine-tuned at %2 µm on this printer yet.").arg(wizard.resin).arg(wizard.thickness)
            }
            RowLayout {
                Layout.fillWidth: true
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "startNextButton"
                    text: qsTr("Next")
                    highlighted: true
                    enabled: wizard.serial !== "" && wizard.resin !== ""
                    onClicked: wizard.go(wizard.pageKind)
                }
            }
        }

        // ---- tolerance or dimensional accuracy
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("What should be fine-tuned?"); font.bold: true }
            RadioButton { id: toleranceChoice; objectName: "toleranceChoice"; checked: true; text: qsTr("Tolerance") }
            Label {
                Layout.fillWidth: true
                Layout.leftMargin: 28
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: qsTr("How closely printed parts fit together. Changes the exposure time.")
            }
            RadioButton { objectName: "dimensionsChoice"; text: qsTr("Dimensional Accuracy") }
            Label {
                Layout.fillWidth: true
                Layout.leftMargin: 28
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: qsTr("Whether printed parts have the size they were designed with. Changes the image scale.")
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "kindBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "kindNextButton"
                    text: qsTr("Next")
                    highlighted: true
                    onClicked: wizard.go(toleranceChoice.checked ? wizard.pageTolerancePrint : wizard.pageDimensionsKind)
                }
            }
        }

        // ---- tolerance print
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Tolerance test print"); font.bold: true }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("The test is a plate of %1 fits: a pin of %2 mm stands in a hole, printed in place, with a gap of %3 mm (fit 1) to %4 mm (fit %1) around it. Notches in the plate's edge count the fit number.")
                      .arg(Calibration.fitCount).arg(Format.number(Calibration.pinDiameter, 1))
                      .arg(Format.number(Calibration.clearanceForFit(1), 2))
                      .arg(Format.number(Calibration.clearanceForFit(Calibration.fitCount), 2))
            }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("After washing and curing, push each pin from the top. Note the smallest fit whose pin comes free.")
            }
            Label {
                objectName: "toleranceBusy"
                Layout.fillWidth: true
                visible: wizard.busyText !== ""
                color: Theme.warningText
                wrapMode: Text.Wrap
                text: wizard.busyText
            }
            Label {
                objectName: "tolerancePrintSent"
                Layout.fillWidth: true
                visible: wizard.printSent
                color: Theme.okText
                wrapMode: Text.Wrap
                text: qsTr("The test print was sent to the printer.")
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "toleranceBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "printToleranceButton"
                    text: qsTr("Print the test")
                    enabled: wizard.serial !== "" && !wizard.printerBusy
                    onClicked: {
                        wizard.controller.runFineTunePrint_tolerance(wizard.serial, wizard.resin, wizard.thickness)
                        wizard.printSent = true
                    }
                }
                Button {
                    objectName: "toleranceNextButton"
                    text: qsTr("I have the print")
                    highlighted: true
                    onClicked: wizard.go(wizard.pageToleranceResult)
                }
            }
        }

        // ---- tolerance result
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Smallest fit whose pin came free"); font.bold: true }
            ButtonGroup { id: fitGroup }
            GridLayout {
                Layout.fillWidth: true
                columns: 4
                columnSpacing: Theme.gap
                rowSpacing: 0
                Repeater {
                    model: Calibration.fitNumbers()
                    delegate: RadioButton {
                        readonly property int fit: modelData
                        objectName: "fit" + modelData
                        ButtonGroup.group: fitGroup
                        checked: modelData === Calibration.referenceFit
                        text: qsTr("Fit %1: %2 mm").arg(modelData).arg(Format.number(Calibration.clearanceForFit(modelData), 2))
                    }
                }
            }
            Label {
                objectName: "fitChangeText"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                font.bold: true
                text: wizard.exposureText(wizard.fitChange)
            }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: qsTr("If no pin came free, choose fit %1, apply, and print the test again.").arg(Calibration.fitCount)
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "toleranceResultBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "applyFitButton"
                    text: qsTr("Apply")
                    highlighted: true
                    enabled: wizard.chosenFit > 0 && !wizard.commandsWait
                    onClicked: {
                        if (wizard.fitChange !== 0)
                            wizard.controller.modifyResinFineTuneFactor(wizard.serial, wizard.resin, wizard.thickness, wizard.fitChange)
                        wizard.finish(wizard.exposureText(wizard.fitChange))
                    }
                }
            }
        }

        // ---- dimensional accuracy: automatic or manual
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("How do you want to measure?"); font.bold: true }
            RadioButton { id: automaticChoice; objectName: "automaticChoice"; checked: true; text: qsTr("Print Tessora's test block and measure it") }
            RadioButton { objectName: "manualChoice"; text: qsTr("Measure a model of my own that I printed") }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: qsTr("Use calipers and measure above the first millimetre, where the widened first layers end.")
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "dimensionsKindBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "dimensionsKindNextButton"
                    text: qsTr("Next")
                    highlighted: true
                    onClicked: wizard.go(automaticChoice.checked ? wizard.pageDimensionsPrint : wizard.pageManual)
                }
            }
        }

        // ---- dimensional accuracy print
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Dimensional accuracy test print"); font.bold: true }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("The test is a block of three tiers, %1, %2 and %3 mm (X × Y), with a ring beside it. Each tier is longer along X, so the print shows which way X ran.")
                      .arg(Calibration.tierSizes[0].x + " × " + Calibration.tierSizes[0].y)
                      .arg(Calibration.tierSizes[1].x + " × " + Calibration.tierSizes[1].y)
                      .arg(Calibration.tierSizes[2].x + " × " + Calibration.tierSizes[2].y)
            }
            Label {
                objectName: "dimensionsBusy"
                Layout.fillWidth: true
                visible: wizard.busyText !== ""
                color: Theme.warningText
                wrapMode: Text.Wrap
                text: wizard.busyText
            }
            Label {
                objectName: "dimensionsPrintSent"
                Layout.fillWidth: true
                visible: wizard.printSent
                color: Theme.okText
                text: qsTr("The test print was sent to the printer.")
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "dimensionsPrintBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "printDimensionsButton"
                    text: qsTr("Print the test")
                    enabled: wizard.serial !== "" && !wizard.printerBusy
                    onClicked: {
                        wizard.controller.runFineTunePrint_dimensions(wizard.serial, wizard.resin, wizard.thickness)
                        wizard.printSent = true
                    }
                }
                Button {
                    objectName: "dimensionsPrintNextButton"
                    text: qsTr("I have the print")
                    highlighted: true
                    onClicked: wizard.go(wizard.pageDimensionsResult)
                }
            }
        }

        // ---- dimensional accuracy result
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.smallGap
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("Measured sizes of the tiers. Fill in at least one per axis; two or more give a result free of overexposure.")
            }
            GridLayout {
                columns: 3
                columnSpacing: Theme.gap
                rowSpacing: Theme.smallGap
                Label { text: qsTr("Tier (design)") ; font.bold: true }
                Label { text: qsTr("Measured X"); font.bold: true }
                Label { text: qsTr("Measured Y"); font.bold: true }
                Label { text: qsTr("Lowest, %1 × %2 mm").arg(Calibration.tierSizes[0].x).arg(Calibration.tierSizes[0].y) }
                NumberField { id: tierX0; objectName: "tierX0"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
                NumberField { id: tierY0; objectName: "tierY0"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
                Label { text: qsTr("Middle, %1 × %2 mm").arg(Calibration.tierSizes[1].x).arg(Calibration.tierSizes[1].y) }
                NumberField { id: tierX1; objectName: "tierX1"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
                NumberField { id: tierY1; objectName: "tierY1"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
                Label { text: qsTr("Top, %1 × %2 mm").arg(Calibration.tierSizes[2].x).arg(Calibration.tierSizes[2].y) }
                NumberField { id: tierX2; objectName: "tierX2"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
                NumberField { id: tierY2; objectName: "tierY2"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
            }
            Label {
                objectName: "tierResult"
                Layout.fillWidth: true
                font.bold: true
                wrapMode: Text.Wrap
                text: wizard.tiersMeasured ? qsTr("Scale change: X %1, Y %2").arg(wizard.percentText(wizard.tierMultiplierX))
                                             .arg(wizard.percentText(wizard.tierMultiplierY))
                                           : qsTr("Enter the measured sizes.")
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "dimensionsResultBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "applyTiersButton"
                    text: qsTr("Apply")
                    highlighted: true
                    enabled: wizard.tiersMeasured && !wizard.commandsWait
                    onClicked: {
                        wizard.controller.modifyResinScalingFactor(wizard.serial, wizard.resin, wizard.thickness,
                                                                   wizard.tierMultiplierX, wizard.tierMultiplierY)
                        wizard.finish(qsTr("Scale changed: X %1, Y %2.").arg(wizard.percentText(wizard.tierMultiplierX))
                                      .arg(wizard.percentText(wizard.tierMultiplierY)))
                    }
                }
            }
        }

        // ---- manual measurement of the user's own model
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.smallGap
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("Enter a size of your model as designed and as printed, along the printer's X axis (the platform's long side) and along Y.")
            }
            GridLayout {
                columns: 3
                columnSpacing: Theme.gap
                rowSpacing: Theme.smallGap
                Item { width: 1; height: 1 }
                Label { text: qsTr("Designed"); font.bold: true }
                Label { text: qsTr("Measured"); font.bold: true }
                Label { text: qsTr("Along X") }
                NumberField { id: nominalX; objectName: "nominalX"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
                NumberField { id: measuredX; objectName: "measuredX"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
                Label { text: qsTr("Along Y") }
                NumberField { id: nominalY; objectName: "nominalY"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
                NumberField { id: measuredY; objectName: "measuredY"; labelWidth: 0; unit: qsTr("mm"); minimum: 0; maximum: 500; decimals: 3 }
            }
            Label {
                objectName: "manualResult"
                Layout.fillWidth: true
                font.bold: true
                text: qsTr("Scale change: X %1, Y %2").arg(wizard.percentText(wizard.manualMultiplierX))
                      .arg(wizard.percentText(wizard.manualMultiplierY))
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "manualBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "applyManualButton"
                    text: qsTr("Apply")
                    highlighted: true
                    enabled: (wizard.manualMultiplierX !== 1 || wizard.manualMultiplierY !== 1) && !wizard.commandsWait
                    onClicked: {
                        wizard.controller.modifyResinScalingFactor(wizard.serial, wizard.resin, wizard.thickness,
                                                                   wizard.manualMultiplierX, wizard.manualMultiplierY)
                        wizard.finish(qsTr("Scale changed: X %1, Y %2.").arg(wizard.percentText(wizard.manualMultiplierX))
                                      .arg(wizard.percentText(wizard.manualMultiplierY)))
                    }
                }
            }
        }

        // ---- done
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Fine-tune saved"); font.bold: true; color: Theme.okText }
            Label {
                objectName: "fineTuneDoneText"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: wizard.doneText
            }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("The printer uses the new values for %1 at %2 µm from the next print on.").arg(wizard.resin).arg(wizard.thickness)
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "fineTuneAgainButton"; text: qsTr("Fine-tune again"); onClicked: { wizard.page = wizard.pageStart; wizard.history = [] } }
                Item { Layout.fillWidth: true }
                Button { objectName: "fineTuneFinishButton"; text: qsTr("Finish"); highlighted: true; onClicked: wizard.close() }
            }
        }
    }

    footer: DialogButtonBox {
        Button { objectName: "fineTuneCloseButton"; text: qsTr("Close"); DialogButtonBox.buttonRole: DialogButtonBox.RejectRole }
    }
}
