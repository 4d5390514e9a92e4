import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Slicing the platform into a print job file: layer thickness and anti-aliasing, then
// the file name.
TessoraDialog {
    id: dialog
    objectName: "sliceDialog"

    signal sliceRequested(int thickness, bool antialiasing)

    title: qsTr("Save print job")
    preferredWidth: 420

    ColumnLayout {
        width: dialog.availableWidth
        spacing: Theme.gap

        Label { text: qsTr("Layer thickness"); font.bold: true }
        ThicknessChoice {
            id: thickness
            objectName: "sliceThickness"
            Layout.fillWidth: true
        }
        CheckBox {
            id: antialiasing
            objectName: "sliceAntialiasing"
            text: qsTr("Anti-aliasing (smoother surfaces)")
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
    onAccepted: sliceRequested(thickness.thickness, antialiasing.checked)
}
