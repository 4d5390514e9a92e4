import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Asks, after slicing and before a job is written or sent, whether to go on although its
// supports leave islands or it has cavities that trap resin or suck at the platform: "Show
// them" opens the job in the viewer on its first island, or else on its lowest cavity.
TessoraDialog {
    id: dialog
    objectName: "islandWarningDialog"

    // "save" or "print": what waits for the answer, with the paths and printer it needs.
    property string purpose: "save"
    property string jobPath: ""
    property string destination: ""
    property string serial: ""
    property string resinName: ""
    property alias text: warningText.text
    // Layers counted from 1: the first island's and the lowest cavity's, 0 for none.
    property int islandLayer: 0
    property int cavityLayer: 0

    signal showRequested()
    signal goOnRequested()
    signal cancelRequested()

    title: cavityLayer === 0 ? qsTr("Islands in the job")
                             : islandLayer === 0 ? qsTr("Cavities in the job") : qsTr("Islands and cavities in the job")
    preferredWidth: 460
    closePolicy: Popup.NoAutoClose

    Label {
        id: warningText
        objectName: "islandWarningText"
        width: dialog.availableWidth
        wrapMode: Text.Wrap
    }

    footer: DialogButtonBox {
        Button {
            objectName: "islandShowButton"
            text: qsTr("Show them")
            onClicked: { dialog.close(); dialog.showRequested() }
        }
        Button {
            objectName: "islandGoOnButton"
            text: dialog.purpose === "print" ? qsTr("Print anyway") : qsTr("Save anyway")
            onClicked: { dialog.close(); dialog.goOnRequested() }
        }
        Button {
            objectName: "islandCancelButton"
            text: qsTr("Cancel")
            onClicked: { dialog.close(); dialog.cancelRequested() }
        }
    }
}
