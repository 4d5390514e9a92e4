import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// "Printer  [ nickname ▾ ]" over the connected printers (the controller's `printers`);
// `serial` is the chosen one's, `printer` its current record (empty without a printer).
RowLayout {
    id: choice

    property var printers: null
    property int labelWidth: 90
    readonly property int count: printers ? printers.count : 0
    readonly property var printer: {
        if (!printers || combo.currentIndex < 0 || combo.currentIndex >= count)
            return ({})
        printers.revision // read again with every record
        return printers.get(combo.currentIndex)
    }
    readonly property string serial: printer.serial !== undefined ? printer.serial : ""
    readonly property string nickname: printer.nickname !== undefined ? printer.nickname : ""
    signal activated()

    function choose(serialNumber) {
        var index = printers ? printers.indexOf(serialNumber) : -1
        if (index >= 0)
            combo.currentIndex = index
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
        enabled: choice.count > 0
        displayText: choice.count > 0 ? currentText : qsTr("No printer connected")
        onActivated: choice.activated()
        onCountChanged: if (currentIndex < 0 && count > 0) currentIndex = 0
    }
}
