import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "sizes.js" as Sizes

// One answer of the units question (UnitsPrompt): its button, and under it the size the
// model gets with it and, when that is larger than the platform, a word saying so.
ColumnLayout {
    id: choice

    property var question: null
    property alias text: button.text
    property alias highlighted: button.highlighted
    // The drawing unit of this answer, in millimetres.
    property real factor: 1
    readonly property vector3d size: question ? question.drawnSize.times(factor) : Qt.vector3d(0, 0, 0)
    readonly property bool fits: question !== null && question.editor !== null && question.editor.fitsPlatform(size)
    signal clicked()

    spacing: 2
    Layout.fillWidth: true
    Layout.preferredWidth: 1
    Layout.alignment: Qt.AlignTop

    Button {
        id: button
        objectName: choice.objectName + "Button"
        Layout.fillWidth: true
        onClicked: choice.clicked()
    }
    Label {
        objectName: choice.objectName + "Size"
        Layout.fillWidth: true
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        text: Sizes.sizeText(choice.size)
    }
    Label {
        objectName: choice.objectName + "TooLarge"
        Layout.fillWidth: true
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        visible: !choice.fits
        color: Theme.warningText
        font.pixelSize: Theme.smallSize
        text: qsTr("larger than the platform")
    }
}
