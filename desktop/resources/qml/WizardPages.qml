import QtQuick 2.15
import QtQuick.Layouts 1.15

// The pages of a wizard, one shown at a time; the height is the shown page's. Each page
// fills the width (Layout.fillWidth). A StackLayout would size the hidden pages too, whose
// wrapped texts then change the dialog's height in a loop.
ColumnLayout {
    id: pages

    property int currentIndex: 0

    function arrange() {
        for (var i = 0; i < children.length; ++i)
            children[i].visible = i === currentIndex
    }

    spacing: 0
    onCurrentIndexChanged: arrange()
    Component.onCompleted: arrange()
}
