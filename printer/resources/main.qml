import QtQuick 2.3
import QtQuick.Window 2.2
import MyClient 1.0

Item {
    id: root
    height: 300
    width: 300
    visible: true

    Rectangle {
        anchors.fill: parent
        color: "black"
    }
    onWidthChanged: console.log("w: " + width + " h: " + height)
    onHeightChanged: console.log("w: " + width + " h: " + height)

    MouseArea {
        anchors.fill: parent
        onClicked: {}
    }

    Text {
        text: "Client"
    }

    Image {
        id: projectorImage
        fillMode: Image.PreserveAspectFit
        cache: false
    }

    property int imageNum: 0

    function projectSlice(number) {
        console.log("QML. Project Slice called. Image number: " + imageNum)
        projectorImage.source = "image://colors/newImage" + imageNum++
    }

    ImageClient {
        id: myImageClient
    }
}
