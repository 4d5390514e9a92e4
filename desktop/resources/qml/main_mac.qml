import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import QtQuick.Window 2.15
import QtQuick.Dialogs 1.3 as Dialogs
import OpenGLUnderQML 1.0
import "format.js" as Format
import "sizes.js" as Sizes

// Tessora's main window: the 3D editor with its model tools, slicing and printing, the
// connected printers and the dialogs that manage them. Files named on the command line
// (fileEvent) or handed over by a second start (fileHandOff) are opened here: print jobs
// in the job viewer, meshes in the editor.
Page {
    id: root
    objectName: "mainPage"
    width: 1280
    height: 800

    // ---- state the pages share
    readonly property var editor: editorLoader.status === Loader.Ready ? editorLoader.item.renderer : null
    property bool hasSelection: false
    property real maxModelHeight: 0
    property real totalModelVolume: 0
    readonly property bool hasModels: maxModelHeight > 0

    property bool importing: false
    property int importProgress: 0
    property bool generatingSupports: false
    property int supportsProgress: 0
    property bool slicing: false
    property int sliceProgress: 0
    readonly property int transferProgress: printerModel.transferPercent
    readonly property bool sendingJob: transferProgress >= 0
    readonly property bool busy: importing || generatingSupports || slicing
    // The editor says whether it has a step to undo or redo.
    readonly property bool canUndo: editor !== null && editor.canUndo && !busy
    readonly property bool canRedo: editor !== null && editor.canRedo && !busy

    // The connected printers, each as its last record: every page shows these.
    readonly property var printerModel: controller.printers
    readonly property int printerCount: printerModel.count
    // The printer the printer pages work with; the controller asks for it (setSelectedPrinter).
    property string currentPrinterSerial: printerCount > 0 ? printerModel.get(0).serial : ""
    property bool showQualityTools: controller.getTessoraQALevel() >= controller.getQALevelForDistributors()

    // Kept for the job viewer: the file shown and a number that changes with every layer
    // shown, so that the image is fetched again.
    property string viewerJobPath: ""
    property int viewerImageNum: 0
    property int projectedImageNum: 0
    // The provider's id of the frame projected last (projectSlice), shown by projectionWindow.
    property string projectedImageId: ""

    // Imports waiting for the editor: file names in the order of the queue, and the one
    // whose model the editor is about to add (after the units or size answer, if asked).
    property var importQueue: []
    property string awaitingImportName: ""

    MyGLWidget {
        id: controller
        objectName: "controller"
        projectionWindow: projectionWindow
    }

    ProjectionWindow {
        id: projectionWindow
        imageId: root.projectedImageId
    }

    // Closing the window while the printer of this computer prints is asked first: the print
    // is cancelled, and the window closes once the platform has made its final movement.
    property bool closeWhenTetheredIdle: false
    Connections {
        target: root.Window.window
        function onClosing(close) {
            close.accepted = controller.tetheredState === "idle"
            if (!close.accepted)
                closeConfirm.open()
        }
    }

    ListModel {
        id: modelList
        objectName: "modelListModel"
    }

    // Prints that ended, and other news for the user, until dismissed: text.
    ListModel {
        id: notices
        objectName: "noticeModel"
    }

    // A message for the status bar that stays a few seconds: what was just done.
    property string statusNote: ""
    Timer {
        id: statusNoteTimer
        interval: 8000
        onTriggered: root.statusNote = ""
    }
    function showStatus(text) {
        statusNote = text
        statusNoteTimer.restart()
    }

    // ---- functions the controller and the editor call on the page
    function advanceImportModelBar(percent) {
        importProgress = percent
        importing = percent < 100
        if (percent >= 100 && importQueue.length > 0) {
            var queue = importQueue
            awaitingImportName = queue.shift()
            importQueue = queue
        }
    }

    function advanceAddingSupportsBar(percent) {
        supportsProgress = percent
        generatingSupports = percent < 100
    }

    function advanceSliceStage(percent) {
        sliceProgress = percent
    }

    // The print on the printer of this computer (its pane tells it).
    function advancePrintStage(printPercent, timeLeft, layerNum) {
        tetheredPane.layerNumber = layerNum
        tetheredPane.percent = printPercent
        tetheredPane.minutesLeft = timeLeft
    }

    function projectSlice(sliceImage) {
        projectedImageId = sliceImage
        projectedImageNum++
    }

    function setSelectedPrinter() {
        controller.setSelectedPrinter(currentPrinterSerial)
    }

    // ---- opening files
    function openJobInViewer(ssjPath) {
        console.log("INFO. main_mac.qml::openJobInViewer. Opening print job in the viewer: " + ssjPath)
        jobViewer.openJob(ssjPath)
    }

    function importModels(modelFilePathsList) {
        if (!editor) {
            for (var i = 0; i < modelFilePathsList.length; ++i)
                console.log("NOTICE. main_mac.qml::importModels. No 3D editor to import the model into: "
                            + modelFilePathsList[i])
            return
        }
        var accepted = []
        var refused = []
        var queue = importQueue
        for (var j = 0; j < modelFilePathsList.length; ++j) {
            var path = Format.localPath(modelFilePathsList[j])
            if (Format.isImportable(path)) {
                console.log("INFO. main_mac.qml::importModels. Importing: " + path)
                accepted.push(path)
                queue.push(Format.fileName(path))
            } else {
                refused.push(Format.fileName(path))
            }
        }
        importQueue = queue
        if (accepted.length > 0) {
            importing = true
            importProgress = 0
            editor.addModels(accepted)
        }
        if (refused.length > 0)
            messageDialog.show(qsTr("File not imported"),
                               qsTr("Tessora imports STL and OBJ files. Not imported: %1").arg(refused.join(", ")))
    }

    function openFiles(urls) {
        var meshes = []
        for (var i = 0; i < urls.length; ++i) {
            var path = Format.localPath(urls[i])
            if (Format.isPrintJob(path))
                openJobInViewer(path)
            else
                meshes.push(path)
        }
        if (meshes.length > 0)
            importModels(meshes)
    }

    // The editor's list of models, by file name: one row per file, with its number of copies.
    function showModels(fileNames) {
        var rows = []
        var counts = {}
        for (var i = 0; i < fileNames.length; ++i) {
            if (counts[fileNames[i]] === undefined) {
                counts[fileNames[i]] = 0
                rows.push(fileNames[i])
            }
            counts[fileNames[i]] += 1
        }
        modelList.clear()
        for (var j = 0; j < rows.length; ++j)
            modelList.append({ name: rows[j], path: rows[j], copies: counts[rows[j]] })
    }

    function saveJob(thickness, antialiasing, antialiasingLevel) {
        if (editor.doAnyModelsIntersectWalls()) {
            messageDialog.show(qsTr("Model outside the build area"),
                               qsTr("A model crosses the edge of the build area (shown in red). Move or scale it before slicing."))
            return
        }
        pendingSave.thickness = thickness
        pendingSave.antialiasing = antialiasing
        pendingSave.antialiasingLevel = antialiasingLevel
        pendingSave.waiting = true
        var names = []
        for (var i = 0; i < modelList.count; ++i)
            names.push(modelList.get(i).name)
        controller.openSaveSSJDialog(names)
    }

    // Slices into a folder of its own first: the job reaches the chosen file only when it
    // leaves no islands or the user saves it anyway.
    function sliceForSave(filePath) {
        var scratch = controller.scratchJobPath(filePath)
        root.slicing = true
        root.sliceProgress = 0
        var saved = scratch !== "" && root.editor.saveSlices(scratch, pendingSave.thickness, pendingSave.antialiasing,
                                                                    pendingSave.antialiasingLevel)
        root.slicing = false
        if (!saved) {
            controller.discardScratchJob(scratch)
            messageDialog.show(qsTr("Print job not saved"),
                               qsTr("Slicing was cancelled or the file could not be written: %1").arg(filePath))
            return
        }
        islandWarning.purpose = "save"
        islandWarning.jobPath = scratch
        islandWarning.destination = filePath
        if (!controller.warnOfIslands(scratch))
            finishIslandCheckedJob()
    }

    // The job of islandWarning goes on: saved (and shown in the viewer) or sent.
    function finishIslandCheckedJob() {
        if (islandWarning.purpose === "print") {
            controller.printSSJ(islandWarning.serial, islandWarning.jobPath, islandWarning.resinName)
            return
        }
        if (islandWarning.purpose === "tethered") {
            if (!controller.printTethered(islandWarning.jobPath, islandWarning.resinName, printDialog.screenNumber,
                                          printDialog.serialPort))
                controller.discardScratchJob(islandWarning.jobPath)
            return
        }
        var filePath = Format.localPath(islandWarning.destination)
        if (controller.keepScratchJob(islandWarning.jobPath, filePath)) {
            root.showStatus(qsTr("Print job saved: %1").arg(filePath))
            openJobInViewer(filePath)
        } else {
            messageDialog.show(qsTr("Print job not saved"), qsTr("The file could not be written: %1").arg(filePath))
        }
    }

    // The editor's platform, the controller's resin lists and the selector follow one model.
    function usePlatform(is75) {
        platformChoice.currentIndex = is75 ? 1 : 0
        if (is75)
            controller.setTo75Microns()
        else
            controller.setTo100Microns()
        if (editor)
            editor.platformIs75Microns = is75
    }

    function printModels(serial, resinName, thickness, antialiasing, antialiasingLevel) {
        // Sliced for the printer's own pixel size: a job for the other size prints 25 % too
        // small or 33 % too large.
        // The printer of this computer (no serial) has the platform chosen in the window.
        var is75 = serial === "" ? platformChoice.currentIndex === 1 : controller.isPrinter75Microns(serial)
        usePlatform(is75)
        if (editor.doAnyModelsIntersectWalls()) {
            messageDialog.show(qsTr("Model outside the build area"),
                               qsTr("A model crosses the edge of the build area of %1 (%2, shown in red). Move or scale it; nothing was sent to the printer.")
                               .arg(serial === "" ? qsTr("the printer of this computer") : printerModel.bySerial(serial).nickname)
                               .arg(is75 ? qsTr("96 × 60 mm, a 75-micron printer") : qsTr("128 × 80 mm, a 100-micron printer")))
            return
        }
        if (serial !== "")
            currentPrinterSerial = serial
        slicing = true
        sliceProgress = 0
        editor.print(serial, resinName, thickness, antialiasing, antialiasingLevel)
        slicing = false
    }


    // A save started by saveJob(), waiting for the file name.
    QtObject {
        id: pendingSave
        property bool waiting: false
        property int thickness: 50
        property bool antialiasing: false
        property int antialiasingLevel: 0
    }

    // ---- the controller's news
    Connections {
        target: controller
        function onSetSaveSSJPath(filePath) {
            if (!pendingSave.waiting)
                return
            pendingSave.waiting = false
            if (filePath === "")
                return
            root.sliceForSave(filePath)
        }
        function onSendMessagePopup(messageText) {
            messageDialog.show(qsTr("Message"), messageText)
        }
        function onTransmit_receivedPrinterError(serial, message) {
            var printer = printerModel.bySerial(serial)
            var name = printer.nickname !== undefined ? printer.nickname : serial
            messageDialog.show(qsTr("Printer error"), qsTr("%1 reports: %2").arg(name).arg(message))
        }
        function onPrinterUpdateRequested(serial) {
            updateConfirm.serial = serial
            updateConfirm.open()
        }
        function onIslandsFound(jobPath, messageText, firstIslandLayer, firstCavityLayer) {
            islandWarning.text = messageText
            islandWarning.islandLayer = firstIslandLayer
            islandWarning.cavityLayer = firstCavityLayer
            islandWarning.open()
        }
        function onTetheredPrintEnded(messageText) { notices.append({ text: messageText }) }
        function onTetheredStateChanged(state) {
            if (state === "idle" && root.closeWhenTetheredIdle)
                root.Window.window.close()
        }
        function onSendErrorMessage(errorNum, errorDescription, errorFix) {
            messageDialog.show(qsTr("Error %1").arg(errorNum), errorDescription + "\n\n" + errorFix)
        }
    }

    // ---- the editor's news
    Connections {
        target: root.editor
        ignoreUnknownSignals: true
        function onSelectedModelTransformationReceived(position, scale, unscaledDimensions, fileName, volume) {
            if (root.awaitingImportName !== "" && fileName === root.awaitingImportName)
                root.awaitingImportName = ""
            root.hasSelection = true
            modelPanel.selectedName = fileName
            modelPanel.selectedPosition = position
            modelPanel.selectedScale = scale
            modelPanel.selectedDimensions = unscaledDimensions
            modelPanel.selectedVolume = volume
        }
        function onNoModelSelectedAfterRequestingTransformation() {
            root.hasSelection = false
        }
        function onPlatformInfoReceived(maxModelHeight, totalModelVolume) {
            root.maxModelHeight = maxModelHeight
            root.totalModelVolume = totalModelVolume
        }
        function onModelListChanged(fileNames) { root.showModels(fileNames) }
        function onSendPromptUserForInchesOrMM() { unitsPrompt.open() }
        function onSendPromptUserForResizeToFitPlatform() { resizePrompt.open() }
        function onSendPrint(ssjName, printerSerial, resinName) {
            islandWarning.purpose = printerSerial === "" ? "tethered" : "print"
            islandWarning.jobPath = ssjName
            islandWarning.serial = printerSerial
            islandWarning.resinName = resinName
            if (!controller.warnOfIslands(ssjName))
                root.finishIslandCheckedJob()
        }
        function onLoadSSJToViewer(ssjPath) { root.openJobInViewer(ssjPath) }
    }

    Connections {
        target: root.printerModel
        function onPrintEnded(serial, message) { notices.append({ text: message }) }
    }

    Connections {
        target: fileEvent
        function onFilepathChanged() { fileHandOff.openFile(fileEvent.filepath) }
    }

    Connections {
        target: fileHandOff
        function onLoadSSJToViewer(ssjPath) { root.openJobInViewer(ssjPath) }
        function onAddModels(modelFilePathsList) { root.importModels(modelFilePathsList) }
    }

    // Ctrl+Z undoes; Ctrl+Y and Ctrl+Shift+Z redo, whatever the platform's habit.
    Shortcut { sequences: ["Ctrl+Z"]; enabled: root.canUndo; onActivated: root.editor.undoAction() }
    Shortcut { sequences: ["Ctrl+Y", "Ctrl+Shift+Z"]; enabled: root.canRedo; onActivated: root.editor.redoAction() }
    Shortcut { sequences: [StandardKey.Open]; enabled: !root.busy; onActivated: importDialog.open() }
    Shortcut {
        sequences: [StandardKey.Delete]
        enabled: root.editor !== null && root.hasSelection && !root.busy
        onActivated: root.editor.deleteSelectedModel()
    }
    // Factory and service staff reach the quality-assurance tools this way.
    Shortcut { sequence: "Ctrl+Alt+Q"; onActivated: root.showQualityTools = !root.showQualityTools }

    // ---- tool bar
    header: ToolBar {
        objectName: "toolBar"
        RowLayout {
            anchors.fill: parent
            spacing: 2

            ToolButton {
                objectName: "importButton"
                text: qsTr("Import…")
                enabled: root.editor !== null && !root.busy
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Import models (Ctrl+O)")
                onClicked: importDialog.open()
            }
            ToolButton {
                objectName: "undoButton"
                text: qsTr("Undo")
                enabled: root.canUndo
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Undo the last change (Ctrl+Z)")
                onClicked: root.editor.undoAction()
            }
            ToolButton {
                objectName: "redoButton"
                text: qsTr("Redo")
                enabled: root.canRedo
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Redo what was undone (Ctrl+Y)")
                onClicked: root.editor.redoAction()
            }
            ToolButton {
                objectName: "clearAllButton"
                text: qsTr("Clear")
                enabled: root.hasModels && !root.busy
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Remove every model from the platform")
                onClicked: clearConfirm.open()
            }
            ToolSeparator {}
            Label { text: qsTr("View") }
            Repeater {
                model: [{ key: "home", name: qsTr("Home") }, { key: "top", name: qsTr("Top") },
                    { key: "front", name: qsTr("Front") }, { key: "left", name: qsTr("Left") },
                    { key: "right", name: qsTr("Right") }]
                delegate: ToolButton {
                    objectName: "view_" + modelData.key
                    text: modelData.name
                    enabled: root.editor !== null
                    onClicked: editorLoader.item.moveCamera(modelData.key)
                }
            }
            Item { Layout.fillWidth: true }
            ToolButton {
                objectName: "printersButton"
                text: qsTr("Printers (%1)").arg(root.printerCount)
                onClicked: printersPanel.open()
            }
            ToolButton {
                objectName: "toolsButton"
                text: qsTr("Tools ▾")
                onClicked: toolsMenu.open()

                Menu {
                    id: toolsMenu
                    objectName: "toolsMenu"
                    y: parent.height
                    MenuItem { objectName: "connectPrinterItem"; text: qsTr("Connect a printer…"); onTriggered: connectWizard.open() }
                    MenuItem {
                        objectName: "printTetheredItem"
                        text: qsTr("Print on this computer…")
                        enabled: root.hasModels && !root.busy && controller.tetheredState === "idle"
                        onTriggered: printDialog.openForThisComputer()
                    }
                    MenuItem {
                        objectName: "printerControlsItem"
                        text: qsTr("Printer controls…")
                        enabled: root.printerCount > 0
                        onTriggered: printerControls.open()
                    }
                    MenuItem { objectName: "printerSettingsItem"; text: qsTr("Printer and resin settings…"); onTriggered: printerSettings.open() }
                    MenuItem {
                        objectName: "fineTuneItem"
                        text: qsTr("Fine-tune a resin…")
                        enabled: root.printerCount > 0
                        onTriggered: fineTuneWizard.open()
                    }
                    MenuSeparator {}
                    MenuItem { objectName: "jobViewerItem"; text: qsTr("Print job viewer…"); onTriggered: jobViewer.open() }
                    MenuSeparator { visible: root.showQualityTools }
                    MenuItem {
                        objectName: "serialModelItem"
                        text: qsTr("Set serial and model…")
                        visible: root.showQualityTools
                        height: visible ? implicitHeight : 0
                        enabled: root.printerCount > 0
                        onTriggered: serialModelDialog.open()
                    }
                    MenuItem {
                        objectName: "grayscaleItem"
                        text: qsTr("Set printer grayscale…")
                        visible: root.showQualityTools
                        height: visible ? implicitHeight : 0
                        enabled: root.printerCount > 0
                        onTriggered: grayscaleDialog.open()
                    }
                    MenuSeparator {}
                    MenuItem { objectName: "aboutItem"; text: qsTr("About Tessora"); onTriggered: messageDialog.show(qsTr("About Tessora"), qsTr("Tessora %1").arg(controller.getTessoraVersion())) }
                }
            }
        }
    }

    // ---- work area
    RowLayout {
        anchors.fill: parent
        spacing: 0

        ModelPanel {
            id: modelPanel
            Layout.preferredWidth: Theme.sidePanelWidth
            Layout.fillHeight: true
            editor: root.editor
            models: modelList
            hasSelection: root.hasSelection
            busy: root.busy
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            color: Theme.viewportBackground
            clip: true

            Loader {
                id: editorLoader
                objectName: "editorLoader"
                anchors.fill: parent
                source: "EditorView.qml"
            }
            Connections {
                target: editorLoader.item
                ignoreUnknownSignals: true
                // A click in the view means the import that was waiting has been settled.
                function onPressed() {
                    if (!unitsPrompt.opened && !resizePrompt.opened)
                        root.awaitingImportName = ""
                }
            }

            Rectangle {
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.top: parent.top
                anchors.topMargin: Theme.margin
                width: Math.min(emptyHint.implicitWidth, parent.width - 4 * Theme.margin) + 2 * Theme.margin
                height: emptyHint.implicitHeight + Theme.gap * 2
                radius: height / 2
                color: Theme.viewportBackground
                opacity: 0.9
                visible: !root.hasModels && !root.importing

                Label {
                    id: emptyHint
                    objectName: "emptyViewHint"
                    anchors.centerIn: parent
                    width: parent.width - 2 * Theme.margin
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    color: Theme.viewportText
                    text: root.editor ? qsTr("Drop STL or OBJ files here, or choose Import.")
                                      : qsTr("The 3D view is not available.")
                }
            }

            // Prints that ended, until the user dismisses them.
            ColumnLayout {
                objectName: "noticeArea"
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.margins: Theme.margin
                width: Math.min(380, parent.width - 2 * Theme.margin)
                spacing: Theme.smallGap
                z: 1
                Repeater {
                    model: notices
                    delegate: Rectangle {
                        objectName: "notice_" + index
                        Layout.fillWidth: true
                        // As tall as its wrapped text.
                        implicitHeight: noticeRow.implicitHeight + 2 * Theme.gap
                        color: Theme.cardBackground
                        border.color: Theme.panelBorder
                        radius: 4
                        RowLayout {
                            id: noticeRow
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.margins: Theme.gap
                            Label {
                                objectName: "noticeText"
                                Layout.fillWidth: true
                                wrapMode: Text.Wrap
                                text: model.text
                            }
                            ToolButton {
                                objectName: "noticeCloseButton"
                                text: "×"
                                onClicked: notices.remove(index)
                            }
                        }
                    }
                }
            }

            DropArea {
                id: dropArea
                objectName: "dropArea"
                anchors.fill: parent
                enabled: !root.busy
                onEntered: drag.accepted = drag.hasUrls
                onDropped: {
                    if (drop.hasUrls) {
                        root.openFiles(drop.urls)
                        drop.acceptProposedAction()
                    }
                }
                Rectangle {
                    anchors.fill: parent
                    color: "transparent"
                    border.color: Theme.accent
                    border.width: 3
                    visible: dropArea.containsDrag
                }
            }

            TetheredPrintPane {
                id: tetheredPane
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: progressPane.visible ? progressPane.top : parent.bottom
                anchors.margins: Theme.gap
                controller: controller
            }

            // Long jobs: import, supports, slicing and the transfer to a printer.
            Pane {
                id: progressPane
                objectName: "progressPane"
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: Theme.gap
                visible: root.importing || root.generatingSupports || root.slicing || root.sendingJob
                padding: Theme.gap

                RowLayout {
                    anchors.fill: parent
                    spacing: Theme.gap
                    Label {
                        objectName: "progressLabel"
                        text: root.slicing ? qsTr("Slicing %1 %").arg(root.sliceProgress)
                            : root.generatingSupports ? qsTr("Generating supports %1 %").arg(root.supportsProgress)
                            : root.importing ? qsTr("Importing %1 %").arg(root.importProgress)
                            : qsTr("Sending to printer %1 %").arg(root.transferProgress)
                        Layout.minimumWidth: implicitWidth
                    }
                    ProgressBar {
                        objectName: "progressBar"
                        Layout.fillWidth: true
                        from: 0
                        to: 100
                        value: root.slicing ? root.sliceProgress
                             : root.generatingSupports ? root.supportsProgress
                             : root.importing ? root.importProgress : root.transferProgress
                    }
                    Button {
                        objectName: "cancelSlicingButton"
                        text: qsTr("Cancel")
                        visible: root.slicing
                        onClicked: root.editor.cancelSlicing()
                    }
                }
            }
        }
    }

    // ---- status bar
    footer: ToolBar {
        objectName: "statusBar"
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: Theme.gap
            anchors.rightMargin: Theme.gap
            spacing: Theme.gap

            Label {
                id: statusMessage
                objectName: "statusMessage"
                Layout.fillWidth: true
                elide: Text.ElideRight
                // What happens now: the printers' work, else what was just done, else the platform.
                text: root.printerModel.activitySummary !== "" ? root.printerModel.activitySummary
                    : root.statusNote !== "" ? root.statusNote
                    : root.hasModels ? qsTr("Height %1 mm, volume %2 ml")
                                       .arg(Format.number(root.maxModelHeight, 1))
                                       .arg(Format.number(root.totalModelVolume, 2))
                                     : qsTr("No models on the platform")
                ToolTip.visible: statusHover.containsMouse && truncated
                ToolTip.text: text
                MouseArea { id: statusHover; anchors.fill: parent; hoverEnabled: true }
            }
            ComboBox {
                id: platformChoice
                objectName: "platformChoice"
                implicitWidth: 170
                model: [qsTr("100 µm printer"), qsTr("75 µm printer")]
                ToolTip.visible: hovered
                ToolTip.text: currentIndex === 0 ? qsTr("Platform 128 × 80 mm") : qsTr("Platform 96 × 60 mm")
                onActivated: root.usePlatform(index === 1)
            }
            Button {
                objectName: "saveJobButton"
                text: qsTr("Save job…")
                enabled: root.hasModels && !root.busy
                onClicked: sliceDialog.open()
            }
            Button {
                objectName: "printButton"
                text: qsTr("Print…")
                highlighted: true
                enabled: root.hasModels && !root.busy && root.printerCount > 0
                onClicked: printDialog.openForModels()
                ToolTip.visible: hovered && root.printerCount === 0
                ToolTip.text: qsTr("Connect a printer first (Tools, Connect a printer), or print on this computer (Tools)")
            }
        }
    }

    // ---- dialogs
    Dialogs.FileDialog {
        id: importDialog
        title: qsTr("Import models")
        selectMultiple: true
        nameFilters: [qsTr("Models (*.stl *.STL *.obj *.OBJ)"), qsTr("Print jobs (*.ssj *.SSJ)")]
        onAccepted: root.openFiles(fileUrls)
    }

    MessageDialog { id: messageDialog }

    ConfirmDialog {
        id: closeConfirm
        objectName: "closeConfirmDialog"
        title: qsTr("Quit Tessora")
        text: qsTr("A print is running on the printer of this computer. Cancel it and quit? Tessora closes once the platform has made its final movement.")
        confirmText: qsTr("Cancel print and quit")
        onConfirmed: {
            root.closeWhenTetheredIdle = true
            controller.cancelPrint()
        }
    }

    ConfirmDialog {
        id: clearConfirm
        objectName: "clearConfirmDialog"
        title: qsTr("Clear the platform")
        text: qsTr("Remove every model from the platform?")
        confirmText: qsTr("Remove all")
        onConfirmed: root.editor.clearAllModels()
    }

    UnitsPrompt {
        id: unitsPrompt
        objectName: "unitsPrompt"
        editor: root.editor
        title: "Undersized Model Detected"
        text: "The dimensions of the imported model are very small. Tessora uses millimeters (mm) as its units system, but perhaps the model was created in inches. Should this model be imported using mm or inches?"
        millimetresText: "Use mm"
        inchesText: "Use inches"
        onUnitsAnswered: root.editor.setImportedModelUnits(isInches)
        onScaleAnswered: root.editor.setImportedModelScale(factor)
    }

    ImportPrompt {
        id: resizePrompt
        objectName: "resizePrompt"
        readonly property vector3d fitSize: root.editor ? root.editor.importedModelResizedSize : Qt.vector3d(0, 0, 0)
        title: "Model Larger than Print Platform"
        text: "This model is too large to fit on the print platform in its default orientation. Would you like Tessora to scale it down?"
        detail: root.editor === null ? ""
                : (root.editor.fitsPlatform(fitSize) ? qsTr("Scale to fit makes it %1.")
                                                     : qsTr("Scale to fit makes it %1, still larger than the platform: turn it, or use Scale to fit in the model panel then."))
                  .arg(Sizes.sizeText(fitSize))
        rejectText: qsTr("Keep size")
        acceptText: qsTr("Scale to fit")
        onAnswered: root.editor.resizeImportedModelToFitPlatform(yes)
    }

    IslandWarningDialog {
        id: islandWarning
        onShowRequested: {
            root.openJobInViewer(jobPath)
            if (islandLayer > 0)
                jobViewer.showIsland(0)
            else
                jobViewer.shown(controller.requestSSJViewerLayer(cavityLayer))
        }
        onGoOnRequested: root.finishIslandCheckedJob()
        onCancelRequested: controller.discardScratchJob(jobPath)
    }

    SliceDialog {
        id: sliceDialog
        onSliceRequested: root.saveJob(thickness, antialiasing, antialiasingLevel)
    }

    PrintDialog {
        id: printDialog
        controller: controller
        maxModelHeight: root.maxModelHeight
        tetheredIs75: platformChoice.currentIndex === 1
        onPrintModels: root.printModels(serial, resinName, thickness, antialiasing, antialiasingLevel)
        onPrintJobFile: {
            if (printDialog.tethered) {
                controller.printTethered(path, resinName, printDialog.screenNumber, printDialog.serialPort)
                return
            }
            root.currentPrinterSerial = serial
            controller.printSSJ(serial, path, resinName)
        }
    }

    PrintersPanel {
        id: printersPanel
        controller: controller
        onPrinterChosen: root.currentPrinterSerial = serial
    }

    ConnectWizard {
        id: connectWizard
        controller: controller
    }

    PrinterSettingsDialog {
        id: printerSettings
        controller: controller
        platformIs75: platformChoice.currentIndex === 1
    }

    FineTuneWizard {
        id: fineTuneWizard
        controller: controller
    }

    PrinterControlsDialog {
        id: printerControls
        controller: controller
        onPrinterChosen: root.currentPrinterSerial = serial
    }

    JobViewer {
        id: jobViewer
        controller: controller
        imageNum: root.viewerImageNum
        onShowLayer: root.viewerImageNum++
        onJobChanged: root.viewerJobPath = path
        onPrintRequested: printDialog.openForJob(path)
    }

    SerialModelDialog {
        id: serialModelDialog
        controller: controller
    }

    GrayscaleDialog {
        id: grayscaleDialog
        controller: controller
    }

    ConfirmDialog {
        id: updateConfirm
        objectName: "updateConfirmDialog"
        property string serial: ""
        title: qsTr("Printer software update")
        text: qsTr("The printer %1 needs a new version of its software before Tessora can work with it. Install it now over the network? The printer restarts afterwards; do not switch it off meanwhile.").arg(serial)
        confirmText: qsTr("Install")
        onConfirmed: controller.installPrinterUpdate(serial)
    }
}
