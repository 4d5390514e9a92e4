import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "format.js" as Format

// Printer and resin settings: the resins and their adhesion layers, the cure times this
// computer prints with (for the chosen printer's model, or the platform's without a printer),
// a printer's scaling and exposure factors per resin as saved on it, and the printer's own
// settings (nickname, compression height, network).
TessoraDialog {
    id: dialog
    objectName: "printerSettingsDialog"

    property var controller: null
    readonly property var printers: controller ? controller.printers : null
    readonly property string serial: printerChoice.serial
    readonly property bool hasPrinter: serial !== ""
    readonly property var printer: printerChoice.printer
    readonly property bool commandsWait: printer.commandsWait === true
    // Without a printer the cure times are those of the platform's printer model.
    property bool platformIs75: false
    readonly property bool listIs75: hasPrinter ? printer.is75 === true : platformIs75
    // The printer's factors of the resin and thickness on the scaling tab, as last saved.
    readonly property var savedFactors: {
        if (!printers)
            return ({ scaleX: 1, scaleY: 1, fineTune: 1 })
        printers.revision // read again with every record
        return controller.resinFactors(serial, scalingResin.currentText, scalingThickness.thickness)
    }
    readonly property string savedFactorsText: qsTr("Saved on the printer: scale X %1 %, Y %2 %, exposure %3 %")
        .arg(Format.number(savedFactors.scaleX * 100, 3)).arg(Format.number(savedFactors.scaleY * 100, 3))
        .arg(Format.number(savedFactors.fineTune * 100, 1))
    onSavedFactorsTextChanged: showSavedFactors()

    // Seven entries per resin: name, adhesion cure times at 20, 50, 100 µm, cure times at
    // 20, 50, 100 µm (seconds; -1 = thickness not offered).
    ListModel { id: cureTimes; objectName: "cureTimesModel" }
    property var resinNames: []

    function showSavedFactors() {
        scaleX.text = Format.number(savedFactors.scaleX * 100, 3)
        scaleY.text = Format.number(savedFactors.scaleY * 100, 3)
        exposure.text = Format.number(savedFactors.fineTune * 100, 1)
    }

    function loadCureTimes() {
        cureTimes.clear()
        var data = controller.getResinDataAsStringList(serial)
        for (var i = 0; i + 6 < data.length; i += 7)
            cureTimes.append({ name: data[i], a20: data[i + 1], a50: data[i + 2], a100: data[i + 3],
                               c20: data[i + 4], c50: data[i + 5], c100: data[i + 6] })
    }

    function saveCureTimes() {
        var data = []
        for (var i = 0; i < cureTimes.count; ++i) {
            var row = cureTimes.get(i)
            if (row.name.trim() === "")
                continue
            data.push(row.name.trim(), row.a20, row.a50, row.a100, row.c20, row.c50, row.c100)
        }
        controller.saveResinCureTimes(data, serial)
        loadCureTimes()
        refreshResins()
        savedNote.text = qsTr("Cure times saved.")
    }

    function refreshResins() {
        resinNames = hasPrinter ? controller.getResinNames(serial) : controller.getResinNames()
    }

    function refreshPrinter() {
        refreshResins()
        nicknameField.text = hasPrinter ? printerChoice.nickname : ""
        showSavedFactors()
    }

    title: qsTr("Printer and resin settings")
    preferredWidth: 740
    // As tall as the window: the cure time table gets the room.
    height: parent ? parent.height - 2 * Theme.margin : 560
    standardButtons: Dialog.Close
    onAboutToShow: {
        savedNote.text = ""
        loadCureTimes()
        refreshPrinter()
    }
    onSerialChanged: if (opened) { loadCureTimes(); refreshPrinter() }
    onListIs75Changed: if (opened) loadCureTimes()

    ColumnLayout {
        anchors.fill: parent
        spacing: Theme.gap

        PrinterChoice {
            id: printerChoice
            objectName: "settingsPrinter"
            Layout.fillWidth: true
            printers: dialog.printers
        }

        TabBar {
            id: tabs
            objectName: "settingsTabs"
            Layout.fillWidth: true
            TabButton { objectName: "resinsTab"; text: qsTr("Resins") }
            TabButton { objectName: "cureTimesTab"; text: qsTr("Cure times") }
            TabButton { objectName: "scalingTab"; text: qsTr("Scaling") }
            TabButton { objectName: "printerTab"; text: qsTr("Printer") }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: tabs.currentIndex

            // ---- resins
            ColumnLayout {
                spacing: Theme.gap
                Label {
                    text: dialog.hasPrinter ? qsTr("Resins on %1").arg(printerChoice.nickname)
                                            : qsTr("Resins of this computer")
                    font.bold: true
                }
                Frame {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.minimumHeight: 80
                    padding: 1
                    ListView {
                        objectName: "resinList"
                        anchors.fill: parent
                        clip: true
                        model: dialog.resinNames
                        ScrollBar.vertical: ScrollBar {}
                        delegate: ItemDelegate { width: ListView.view.width; text: modelData; height: 28 }
                    }
                }
                RowLayout {
                    spacing: Theme.gap
                    Label { text: qsTr("Adhesion layers") }
                    SpinBox {
                        id: adhesionLayers
                        objectName: "adhesionLayers"
                        from: 0
                        to: 20
                        value: 3
                        editable: true
                    }
                    Label { text: qsTr("layers"); color: Theme.mutedText }
                    Button {
                        objectName: "applyAdhesionButton"
                        text: qsTr("Apply to all resins")
                        onClicked: {
                            dialog.controller.setNumResinAdhesionLayers(adhesionLayers.value)
                            savedNote.text = qsTr("Adhesion layers set to %1.").arg(adhesionLayers.value)
                        }
                    }
                }
                Label {
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    color: Theme.mutedText
                    text: qsTr("The first layers of a print are cured longer so that it sticks to the platform.")
                }
            }

            // ---- cure times
            ColumnLayout {
                spacing: Theme.smallGap
                Label {
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    color: Theme.mutedText
                    text: qsTr("Cure times in seconds that prints from this computer use on %1-micron printers; -1 marks a layer thickness the resin does not offer.")
                          .arg(dialog.listIs75 ? 75 : 100)
                }
                RowLayout {
                    id: headerRow
                    Layout.fillWidth: true
                    spacing: Theme.smallGap
                    Label { text: qsTr("Resin"); font.bold: true; Layout.fillWidth: true }
                    Repeater {
                        model: [qsTr("Adh. 20 µm"), qsTr("Adh. 50 µm"), qsTr("Adh. 100 µm"),
                            qsTr("20 µm"), qsTr("50 µm"), qsTr("100 µm")]
                        delegate: Label {
                            text: modelData
                            font.bold: true
                            wrapMode: Text.Wrap
                            Layout.preferredWidth: 70
                            horizontalAlignment: Text.AlignHCenter
                        }
                    }
                    Item { Layout.preferredWidth: 24 }
                }
                ListView {
                    id: cureList
                    objectName: "cureTimesList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.minimumHeight: 100
                    clip: true
                    spacing: 2
                    model: cureTimes
                    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AlwaysOn }
                    delegate: RowLayout {
                        id: resinRow
                        readonly property int rowIndex: index
                        width: cureList.width - 12
                        spacing: Theme.smallGap
                        TextField {
                            objectName: "resinName_" + index
                            Layout.fillWidth: true
                            text: model.name
                            selectByMouse: true
                            validator: RegExpValidator { regExp: /[^,*!]*/ }
                            onEditingFinished: cureTimes.setProperty(index, "name", text)
                        }
                        Repeater {
                            model: ["a20", "a50", "a100", "c20", "c50", "c100"]
                            delegate: TextField {
                                objectName: modelData + "_" + resinRow.rowIndex
                                Layout.preferredWidth: 70
                                horizontalAlignment: TextInput.AlignRight
                                selectByMouse: true
                                // A row being removed by a reload has no entry any more.
                                text: {
                                    var entry = cureTimes.get(resinRow.rowIndex)
                                    return entry ? entry[modelData] : ""
                                }
                                validator: DoubleValidator { bottom: -1; top: 3600; decimals: 2; locale: "C"; notation: DoubleValidator.StandardNotation }
                                onEditingFinished: cureTimes.setProperty(resinRow.rowIndex, modelData, text)
                            }
                        }
                        ToolButton {
                            objectName: "removeResin_" + index
                            text: "×"
                            implicitWidth: 24
                            ToolTip.visible: hovered
                            ToolTip.text: qsTr("Remove this resin")
                            onClicked: cureTimes.remove(index)
                        }
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    Button {
                        objectName: "addResinButton"
                        text: qsTr("Add resin")
                        onClicked: {
                            cureTimes.append({ name: qsTr("New resin"), a20: "30", a50: "30", a100: "30",
                                               c20: "-1", c50: "8", c100: "12" })
                            cureList.positionViewAtEnd()
                        }
                    }
                    Button { objectName: "reloadCureTimesButton"; text: qsTr("Undo changes"); onClicked: dialog.loadCureTimes() }
                    Item { Layout.fillWidth: true }
                    Button {
                        objectName: "saveCureTimesButton"
                        text: qsTr("Save cure times")
                        highlighted: true
                        onClicked: dialog.saveCureTimes()
                    }
                }
            }

            // ---- scaling and exposure factors of a printer's resin
            ColumnLayout {
                spacing: Theme.gap
                enabled: dialog.hasPrinter && !dialog.commandsWait
                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.gap
                    Label { text: qsTr("Resin"); Layout.preferredWidth: 90 }
                    ComboBox {
                        id: scalingResin
                        objectName: "scalingResin"
                        Layout.fillWidth: true
                        model: dialog.resinNames
                    }
                }
                ThicknessChoice {
                    id: scalingThickness
                    objectName: "scalingThickness"
                    Layout.fillWidth: true
                }
                Label {
                    objectName: "calibratedState"
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    text: !dialog.hasPrinter || scalingResin.currentText === "" ? ""
                          : dialog.savedFactors.scaleX !== 1 || dialog.savedFactors.scaleY !== 1 || dialog.savedFactors.fineTune !== 1
                            ? qsTr("This resin has been fine-tuned at %1 µm on this printer.").arg(scalingThickness.thickness)
                            : qsTr("This resin has not been fine-tuned at %1 µm on this printer yet.").arg(scalingThickness.thickness)
                }
                Label {
                    objectName: "savedFactors"
                    Layout.fillWidth: true
                    visible: dialog.hasPrinter && scalingResin.currentText !== ""
                    wrapMode: Text.Wrap
                    color: Theme.mutedText
                    text: dialog.savedFactorsText
                }
                RowLayout {
                    Layout.fillWidth: true
                    NumberField {
                        id: scaleX
                        objectName: "scaleX"
                        label: qsTr("Scale X")
                        labelWidth: 90
                        unit: qsTr("%")
                        text: "100"
                        minimum: 50
                        maximum: 150
                        decimals: 3
                    }
                    NumberField {
                        id: scaleY
                        objectName: "scaleY"
                        label: qsTr("Scale Y")
                        labelWidth: 60
                        unit: qsTr("%")
                        text: "100"
                        minimum: 50
                        maximum: 150
                        decimals: 3
                    }
                    Item { Layout.fillWidth: true }
                    Button {
                        objectName: "applyScalingButton"
                        text: qsTr("Set scale")
                        enabled: scaleX.acceptable && scaleY.acceptable && scalingResin.currentText !== ""
                        onClicked: {
                            dialog.controller.setResinScalingFactor(dialog.serial, scalingResin.currentText,
                                                                    scalingThickness.thickness, scaleX.value / 100, scaleY.value / 100)
                            savedNote.text = qsTr("Scale of %1 at %2 µm sent to the printer.").arg(scalingResin.currentText).arg(scalingThickness.thickness)
                        }
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    NumberField {
                        id: exposure
                        objectName: "exposureFactor"
                        label: qsTr("Exposure")
                        labelWidth: 90
                        unit: qsTr("%")
                        text: "100"
                        minimum: 70
                        maximum: 130
                        decimals: 1
                    }
                    Item { Layout.fillWidth: true }
                    Button {
                        objectName: "applyExposureButton"
                        text: qsTr("Set exposure")
                        enabled: exposure.acceptable && scalingResin.currentText !== ""
                        onClicked: {
                            dialog.controller.setResinFineTuneFactor(dialog.serial, scalingResin.currentText,
                                                                     scalingThickness.thickness, exposure.value / 100)
                            savedNote.text = qsTr("Exposure of %1 at %2 µm sent to the printer.").arg(scalingResin.currentText).arg(scalingThickness.thickness)
                        }
                    }
                }
                Label {
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    color: Theme.mutedText
                    text: qsTr("100 % leaves sizes and cure times as designed. The fine-tune wizard finds these values from test prints.")
                }
                Item { Layout.fillHeight: true }
            }

            // ---- the printer itself
            ColumnLayout {
                spacing: Theme.gap
                enabled: dialog.hasPrinter && !dialog.commandsWait
                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.gap
                    Label { text: qsTr("Nickname"); Layout.preferredWidth: 130 }
                    TextField {
                        id: nicknameField
                        objectName: "settingsNickname"
                        Layout.fillWidth: true
                        selectByMouse: true
                        maximumLength: 32
                        validator: RegExpValidator { regExp: /[^,*!]+/ }
                    }
                    Button {
                        objectName: "saveNicknameButton"
                        text: qsTr("Rename")
                        enabled: nicknameField.acceptableInput && nicknameField.text.trim() !== ""
                        onClicked: {
                            dialog.controller.manage_changeNickName(dialog.serial, nicknameField.text.trim())
                            savedNote.text = qsTr("Nickname sent to the printer.")
                        }
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.gap
                    Label { text: qsTr("Compression height"); Layout.preferredWidth: 130 }
                    Label {
                        objectName: "gParameterValue"
                        Layout.fillWidth: true
                        text: !dialog.hasPrinter ? "" : dialog.printer.gParameterReset === true
                              ? qsTr("not determined yet") : qsTr("%1 (board steps)").arg(dialog.printer.gParameter)
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.gap
                    Item { Layout.preferredWidth: 130 }
                    SpinBox {
                        id: newG
                        objectName: "newGParameter"
                        from: 0
                        to: 100000
                        editable: true
                        implicitWidth: 110
                    }
                    Label { text: qsTr("steps"); color: Theme.mutedText }
                    Button {
                        objectName: "setGButton"
                        text: qsTr("Set")
                        onClicked: {
                            dialog.controller.modifyPrinterGParameter(dialog.serial, newG.value)
                            savedNote.text = qsTr("Compression height sent to the printer.")
                        }
                    }
                    Button {
                        objectName: "resetGButton"
                        text: qsTr("Factory value")
                        onClicked: {
                            dialog.controller.resetPrinterGParameter(dialog.serial)
                            savedNote.text = qsTr("The printer returns to its factory compression height.")
                        }
                    }
                    Item { Layout.fillWidth: true }
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.gap
                    Label { text: qsTr("Network"); Layout.preferredWidth: 130 }
                    Button {
                        objectName: "resetNetworkButton"
                        text: qsTr("Reset network settings…")
                        onClicked: resetNetworkConfirm.open()
                    }
                    Item { Layout.fillWidth: true }
                }
                Item { Layout.fillHeight: true }
            }
        }

        Label {
            id: savedNote
            objectName: "settingsNote"
            Layout.fillWidth: true
            elide: Text.ElideRight
            color: Theme.okText
        }
        Label {
            objectName: "settingsWaiting"
            Layout.fillWidth: true
            visible: dialog.commandsWait && tabs.currentIndex >= 2
            wrapMode: Text.Wrap
            color: Theme.warningText
            text: qsTr("Waiting for the job transfer to end")
        }
        Label {
            Layout.fillWidth: true
            visible: !dialog.hasPrinter && tabs.currentIndex >= 2
            wrapMode: Text.Wrap
            color: Theme.warningText
            text: qsTr("Connect a printer to change its settings.")
        }
    }

    ConfirmDialog {
        id: resetNetworkConfirm
        objectName: "resetNetworkConfirmDialog"
        title: qsTr("Reset network settings")
        text: qsTr("The printer forgets its Wi-Fi network and opens its own again. You will need to connect to it directly.")
        confirmText: qsTr("Reset")
        onConfirmed: dialog.controller.resetPrinterNetworkSettings(dialog.serial)
    }
}
