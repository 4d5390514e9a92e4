import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// "Printer  [ nickname ▾ ]" over the connected printers; `serial` is the chosen one's.
RowLayout {
    id: choice

    property ListModel printers: ListModel {}
    property int labelWidth: 90
    readonly property string serial: combo.currentIndex >= 0 && combo.currentIndex < printers.count
                                     ? printers.get(combo.currentIndex).serial : ""
    readonly property string nickname: combo.currentIndex >= 0 && combo.currentIndex < printers.count
                                       ? printers.get(combo.currentIndex).nickname : ""
    signal activated()

    function choose(serialNumber) {
        for (var i = 0; i < printers.count; ++i) {
            if (printers.get(i).serial === serialNumber) {
                combo.currentIndex = i
                return
            }
        }
    }

    spacing: Theme.gap

    Label {
        text: qsTr("Printer")
        Layout.preferredWidth: Math.max(choice.labelWidth, implicitWidth)
    }
    ComboBox {
        id: combo
        objectName: choice.objectName + "Combo"
        Layout.fillWidth: true
        model: choice.printers
        textRole: "nickname"
        enabled: choice.printers.count > 0
        displayText: choice.printers.count > 0 ? currentText : qsTr("No printer connected")
        onActivated: choice.activated()
        onCountChanged: if (currentIndex < 0 && count > 0) currentIndex = 0
    }
}
