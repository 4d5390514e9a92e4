import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// The units question of the import: the model looks as if it was drawn in inches. Every
// choice shows the size the model gets with it, and says so when that is larger than the
// platform. Millimetres and inches answer as the question always did; centimetres and a
// unit of the user's own answer with the drawing unit in millimetres.
TessoraDialog {
    id: prompt

    // The editor item: the waiting model's size and the platform's.
    property var editor: null
    property alias text: promptText.text
    property alias millimetresText: millimetres.text
    property alias inchesText: inches.text
    signal unitsAnswered(bool isInches)
    signal scaleAnswered(real factor)

    readonly property vector3d drawnSize: editor ? editor.importedModelSize : Qt.vector3d(0, 0, 0)

    preferredWidth: 500
    closePolicy: Popup.NoAutoClose

    function answer(factor) {
        close()
        scaleAnswered(factor)
    }

    ColumnLayout {
        width: prompt.availableWidth
        spacing: Theme.margin

        Label {
            id: promptText
            objectName: prompt.objectName + "Text"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            UnitsChoice {
                id: millimetres
                objectName: prompt.objectName + "Reject"
                question: prompt
                factor: 1
                onClicked: { prompt.close(); prompt.unitsAnswered(false) }
            }
            UnitsChoice {
                id: inches
                objectName: prompt.objectName + "Accept"
                question: prompt
                factor: 25.4
                highlighted: true
                onClicked: { prompt.close(); prompt.unitsAnswered(true) }
            }
            UnitsChoice {
                objectName: prompt.objectName + "Centimetres"
                question: prompt
                text: qsTr("Use cm")
                factor: 10
                onClicked: prompt.answer(10)
            }
        }

        MenuSeparator { Layout.fillWidth: true }

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            NumberField {
                id: factorField
                objectName: prompt.objectName + "Factor"
                Layout.alignment: Qt.AlignTop
                Layout.fillWidth: false
                fieldWidth: 64
                label: qsTr("One unit is")
                labelWidth: 0
                unit: qsTr("mm")
                text: "1"
                minimum: 0.001
                maximum: 10000
                decimals: 3
                onAccepted: if (custom.enabled) custom.clicked()
            }
            UnitsChoice {
                id: custom
                objectName: prompt.objectName + "Custom"
                question: prompt
                Layout.preferredWidth: -1
                text: qsTr("Use × %1").arg(factor)
                factor: factorField.acceptable && factorField.value > 0 ? factorField.value : 1
                enabled: factorField.acceptable && factorField.value > 0
                onClicked: prompt.answer(factor)
            }
        }
    }
}
