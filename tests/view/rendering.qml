import QtQuick 2.0
import GLRenderer 1.0

// The editor item filling a small window.
Item {
    width: 640
    height: 480

    OpenGLRenderer {
        objectName: "editor"
        anchors.fill: parent
    }
}
