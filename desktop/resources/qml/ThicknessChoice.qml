import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "format.js" as Format

// The three layer thicknesses, each with its estimated print time when `times` holds
// them (minutes; -1 = the resin does not offer that thickness, which disables it).
ColumnLayout {
    id: choice

    property int thickness: 50
    // Minutes for 20, 50 and 100 µm, or an empty list to show no times.
    property var times: []
    // Only this thickness can be chosen (a job file's own), 0 for any.
    property int onlyThickness: 0
    readonly property var thicknesses: [20, 50, 100]
    readonly property bool offered: timeFor(thickness) !== -1

    function timeFor(microns) {
        var index = thicknesses.indexOf(microns)
        return index >= 0 && index < times.length ? times[index] : null
    }

    spacing: 0

    ButtonGroup { id: group }

    Repeater {
        model: choice.thicknesses
        delegate: RowLayout {
            Layout.fillWidth: true
            RadioButton {
                objectName: "thickness" + modelData
                text: qsTr("%1 µm").arg(modelData)
                ButtonGroup.group: group
                checked: choice.thickness === modelData
                enabled: choice.timeFor(modelData) !== -1
                         && (choice.onlyThickness === 0 || choice.onlyThickness === modelData)
                onToggled: if (checked) choice.thickness = modelData
                Layout.preferredWidth: 90
            }
            Label {
                objectName: "thicknessTime" + modelData
                Layout.fillWidth: true
                visible: choice.times.length > 0
                color: choice.timeFor(modelData) === -1 ? Theme.mutedText : palette.windowText
                text: choice.timeFor(modelData) === -1 ? qsTr("not offered by this resin")
                                                      : qsTr("about %1").arg(Format.minutesText(choice.timeFor(modelData)))
            }
        }
    }
}
