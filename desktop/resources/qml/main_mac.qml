import QtQuick 2.15
import OpenGLUnderQML 1.0

// Tessora's main page. For now it holds the controller and the print job
// viewer; files named on the command line (fileEvent) or handed over by a
// second start (fileHandOff) are opened here.
Rectangle {
    id: root
    width: 1280
    height: 800
    color: "#2b2b2b"

    property string viewerJobPath: ""
    // Changes with every layer shown, so that the image is fetched again.
    property int viewerImageNum: 0

    MyGLWidget {
        id: controller
    }

    function openJobInViewer(ssjPath) {
        console.log("INFO. main_mac.qml::openJobInViewer. Opening print job in the viewer: " + ssjPath)
        if (controller.setSSJViewerPath(ssjPath) === "1") {
            viewerJobPath = ssjPath
            viewerImageNum++
        }
    }

    function importModels(modelFilePathsList) {
        // Model import arrives with the 3D editor; until then the request is only logged.
        for (var i = 0; i < modelFilePathsList.length; ++i)
            console.log("NOTICE. main_mac.qml::importModels. No 3D editor to import the model into: "
                        + modelFilePathsList[i])
    }

    function showViewerLayer(answer) {
        if (answer !== "n/a")
            viewerImageNum++
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

    Item {
        id: viewer
        anchors.fill: parent
        anchors.margins: 16
        focus: true

        Keys.onRightPressed: root.showViewerLayer(controller.requestNextSSJViewerImage())
        Keys.onLeftPressed: root.showViewerLayer(controller.requestPrevSSJViewerImage())

        Rectangle {
            anchors.fill: layerImage
            color: "black"
        }

        Image {
            id: layerImage
            objectName: "layerImage"
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: caption.top
            anchors.bottomMargin: 8
            fillMode: Image.PreserveAspectFit
            cache: false
            source: root.viewerJobPath === "" ? "" : "image://colors/1_" + root.viewerImageNum
        }

        Text {
            id: caption
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            color: "#e0e0e0"
            elide: Text.ElideMiddle
            text: root.viewerJobPath === "" ? qsTr("Open a print job (.ssj) to view its layers")
                                            : root.viewerJobPath
        }
    }
}
