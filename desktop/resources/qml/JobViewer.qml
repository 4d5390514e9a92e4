import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import QtQuick.Dialogs 1.3 as Dialogs
import "format.js" as Format

// The print job viewer: the layers of an SSJ file, one at a time (slider, previous and
// next, or the arrow keys), with the file's layer thickness and printer resolution, the
// height each layer reaches, and the job's islands: drawn red over the layer, and listed
// beside it (a click on one shows its layer).
TessoraDialog {
    id: viewer
    objectName: "jobViewer"

    property var controller: null
    // Changes with every layer shown (the image is then fetched again).
    property int imageNum: 0
    property string jobPath: ""
    property string layerText: "n/a"
    property string totalText: "n/a"
    property int thickness: 0
    property int resolution: 0
    property string heightText: ""
    property var islands: []

    signal showLayer()
    signal jobChanged(string path)
    signal printRequested(string path)

    function openJob(path) {
        var answer = controller.setSSJViewerPath(path)
        if (answer === "1") {
            jobPath = path
            thickness = controller.requestSSJThickness(path)
            resolution = controller.requestSSJResolution(path)
            totalText = controller.requestTotalSlicesSSJViewer()
            islands = controller.requestSSJViewerIslands()
            jobChanged(path)
            shown(answer)
        }
        open()
        keys.forceActiveFocus()
    }

    function shown(answer) {
        if (answer === "n/a")
            return
        layerText = answer
        heightText = controller.requestSSJViewerLayerText()
        // The slider's ends are the first and the last layer.
        var total = Number(totalText)
        slider.value = total > 1 ? (Number(answer) - 1) / (total - 1) : 0
        showLayer()
    }

    // Shows the layer of the island of that index (the first island: 0).
    function showIsland(index) {
        shown(controller.requestSSJViewerIsland(index))
    }

    title: qsTr("Print job viewer")
    preferredWidth: 900
    height: parent ? parent.height - 2 * Theme.margin : 560
    standardButtons: Dialog.Close
    onOpened: keys.forceActiveFocus()

    Item {
        id: keys
        anchors.fill: parent
        focus: true
        Keys.onRightPressed: viewer.shown(viewer.controller.requestNextSSJViewerImage())
        Keys.onLeftPressed: viewer.shown(viewer.controller.requestPrevSSJViewerImage())

        ColumnLayout {
            anchors.fill: parent
            spacing: Theme.gap

            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.gap
                Button {
                    objectName: "openJobButton"
                    text: qsTr("Open…")
                    onClicked: jobDialog.open()
                }
                Label {
                    objectName: "jobFileName"
                    Layout.fillWidth: true
                    elide: Text.ElideMiddle
                    text: viewer.jobPath === "" ? qsTr("Open a print job (.ssj) to view its layers")
                                                : Format.fileName(viewer.jobPath)
                }
                Label {
                    objectName: "jobDetails"
                    visible: viewer.jobPath !== ""
                    color: Theme.mutedText
                    text: qsTr("%1 µm layers · %2 µm pixels").arg(viewer.thickness)
                          .arg(viewer.resolution > 0 ? viewer.resolution : "?")
                }
                Button {
                    objectName: "printJobButton"
                    text: qsTr("Print…")
                    enabled: viewer.jobPath !== ""
                    onClicked: viewer.printRequested(viewer.jobPath)
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                spacing: Theme.gap

                Rectangle {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    color: "black"

                    Image {
                        id: layerImage
                        objectName: "layerImage"
                        anchors.fill: parent
                        fillMode: Image.PreserveAspectFit
                        cache: false
                        source: viewer.jobPath === "" ? "" : "image://colors/1_" + viewer.imageNum
                    }
                }

                ColumnLayout {
                    // A layout fills the width by default: the layer keeps the room.
                    Layout.fillWidth: false
                    Layout.preferredWidth: 220
                    Layout.maximumWidth: 220
                    Layout.fillHeight: true
                    visible: viewer.jobPath !== ""
                    spacing: Theme.gap

                    Label {
                        objectName: "islandCount"
                        readonly property int cavities: viewer.islands.filter(function (entry) { return entry.cavity }).length
                        readonly property int islands: viewer.islands.length - cavities
                        font.bold: true
                        wrapMode: Text.Wrap
                        Layout.preferredWidth: 220
                        text: (islands === 0 ? qsTr("No islands")
                               : islands === 1 ? qsTr("1 island") : qsTr("%1 islands").arg(islands))
                              + (cavities === 0 ? ""
                                 : cavities === 1 ? qsTr(", 1 cavity") : qsTr(", %1 cavities").arg(cavities))
                    }
                    CheckBox {
                        objectName: "showIslandsBox"
                        text: viewer.islands.some(function (entry) { return entry.cavity })
                              ? qsTr("Show them in colour") : qsTr("Show islands in red")
                        checked: true
                        enabled: viewer.islands.length > 0
                        onToggled: {
                            viewer.controller.setSSJViewerIslandsShown(checked)
                            viewer.showLayer()
                        }
                    }
                    ListView {
                        id: islandList
                        objectName: "islandList"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        clip: true
                        model: viewer.islands
                        ScrollBar.vertical: ScrollBar {}
                        delegate: ItemDelegate {
                            objectName: "island_" + index
                            width: islandList.width
                            highlighted: modelData.layer === Number(viewer.layerText)
                            text: modelData.text
                            contentItem: Label {
                                text: modelData.text
                                wrapMode: Text.Wrap
                                font.pixelSize: Theme.smallSize
                            }
                            onClicked: viewer.showIsland(index)
                        }
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.gap
                enabled: viewer.jobPath !== ""
                Button {
                    objectName: "previousLayerButton"
                    text: qsTr("◀ Previous")
                    onClicked: viewer.shown(viewer.controller.requestPrevSSJViewerImage())
                }
                Slider {
                    id: slider
                    objectName: "layerSlider"
                    Layout.fillWidth: true
                    from: 0
                    to: 1
                    onMoved: viewer.shown(viewer.controller.requestSSJViewerImage(value))
                }
                Button {
                    objectName: "nextLayerButton"
                    text: qsTr("Next ▶")
                    onClicked: viewer.shown(viewer.controller.requestNextSSJViewerImage())
                }
                Label {
                    objectName: "layerNumber"
                    Layout.minimumWidth: implicitWidth
                    text: viewer.jobPath === "" ? "" : viewer.heightText
                }
            }
        }
    }

    Dialogs.FileDialog {
        id: jobDialog
        title: qsTr("Open print job")
        nameFilters: [qsTr("Print jobs (*.ssj *.SSJ)")]
        onAccepted: viewer.openJob(Format.localPath(fileUrl))
    }
}
