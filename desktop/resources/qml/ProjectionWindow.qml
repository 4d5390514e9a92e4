import QtQuick 2.15
import QtQuick.Window 2.15

// The projector of the printer tethered to this computer: a frameless black window that the
// controller moves to the projector's screen and shows full-screen while a print runs
// (MyGLWidget::printTethered). It shows the image `imageId` of the "colors" provider at the
// top-left corner, unscaled: each frame as the runner made it, 1280 x 800.
Window {
    id: projection
    objectName: "projectionWindow"

    property string imageId: ""

    flags: Qt.Window | Qt.FramelessWindowHint
    // A window of its own: one that belonged to the main window would be minimised with it,
    // leaving the projector to show the desktop. (Closing the main window asks first.)
    transientParent: null
    color: "black"
    visible: false
    title: qsTr("Tessora projector")

    Image {
        objectName: "projectionImage"
        // A new id for every frame: no frame is kept for another.
        cache: false
        smooth: false
        source: projection.imageId !== "" ? "image://colors/" + projection.imageId : ""
    }
    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.BlankCursor
    }
}
