import QtQuick 2.3

// The projection page: black everywhere but the image, which sits at the top-left
// corner at its own size. projectSlice() fetches the provider's current image afresh.
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
}
