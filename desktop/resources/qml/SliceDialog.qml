import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Slicing the platform into a print job file: layer thickness and anti-aliasing, then
// the file name.
TessoraDialog {
    id: dialog
    objectName: "sliceDialog"

    signal sliceRequested(int thickness, bool antialiasing, int antialiasingLevel)

    // The controller (the window's), for the anti-aliasing level; none in a bare dialog.
    readonly property var appController: typeof controller !== "undefined" ? controller : null
    // Millilitres of the platform's models and supports: the resin the job will take, near enough.
    property real modelVolume: typeof root !== "undefined" && root.totalModelVolume !== undefined
                               ? root.totalModelVolume : 0
    // Sub-rows per pixel of each anti-aliasing choice (0: grey edges).
    readonly property var levels: [0, 2, 4, 8]

    title: qsTr("Save print job")
    preferredWidth: 420
    onAboutToShow: {
        var index = appController ? levels.indexOf(appController.antiAliasingLevel()) : 0
        aaLevel.currentIndex = index >= 0 ? index : 0
    }

    ColumnLayout {
        width: dialog.availableWidth
        spacing: Theme.gap

        Label { text: qsTr("Layer thickness"); font.bold: true }
        ThicknessChoice {
            id: thickness
            objectName: "sliceThickness"
            Layout.fillWidth: true
        }
        RowLayout {
            spacing: Theme.gap
            CheckBox {
                id: antialiasing
                objectName: "sliceAntialiasing"
                text: qsTr("Anti-aliasing (smoother surfaces)")
            }
            ComboBox {
                id: aaLevel
                objectName: "sliceAntialiasingLevel"
                enabled: antialiasing.checked
                model: [qsTr("Edge"), qsTr("2x"), qsTr("4x"), qsTr("8x")]
            }
        }
        Label {
            objectName: "sliceVolume"
            visible: dialog.modelVolume > 0
            text: qsTr("Resin: about %1 ml").arg(dialog.modelVolume.toFixed(1))
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: Theme.mutedText
            text: qsTr("Thinner layers show finer detail and take longer to print. The job is written for the printer type chosen in the status bar.")
        }
    }

    footer: DialogButtonBox {
        Button {
            objectName: "sliceCancelButton"
            text: qsTr("Cancel")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
        Button {
            objectName: "sliceSaveButton"
            text: qsTr("Choose file and slice…")
            highlighted: true
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
    }
    onAccepted: {
        if (antialiasing.checked && appController)
            appController.setAntiAliasingLevel(levels[aaLevel.currentIndex])
        sliceRequested(thickness.thickness, antialiasing.checked, levels[aaLevel.currentIndex])
    }
}
