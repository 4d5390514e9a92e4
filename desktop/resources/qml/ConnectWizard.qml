import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15

// Connecting a printer: directly (this computer joins the printer's own Wi-Fi) or through a
// router (the printer is cabled to it or joins its Wi-Fi; the Wi-Fi name and password are
// sent to the printer over a direct connection first). Every way ends in a search that
// announces this computer on the network and waits, up to a time-out, for a printer to
// connect.
TessoraDialog {
    id: wizard
    objectName: "connectWizard"

    property var controller: null
    readonly property var printers: controller ? controller.printers : null

    // Pages of the wizard.
    readonly property int pageChoice: 0
    readonly property int pageDirect: 1
    readonly property int pageRouter: 2
    readonly property int pageWifi: 3
    readonly property int pageWifiSent: 4
    readonly property int pageSearch: 5

    property int page: pageChoice
    property var history: []
    // Seconds a search waits for a printer.
    property int searchTimeout: 60
    property int secondsLeft: 0
    property bool searching: false
    property bool searchDirect: false
    // The printer the search found, and its record while it stays connected.
    property string foundSerial: ""
    readonly property var foundPrinter: {
        if (!printers || foundSerial === "")
            return ({})
        printers.revision // read again with every record
        return printers.bySerial(foundSerial)
    }
    readonly property bool foundConnected: foundPrinter.serial !== undefined
    property string foundName: ""
    property var networks: []
    property string sentNetwork: ""

    function go(next) {
        var list = history
        list.push(page)
        history = list
        page = next
        if (next === pageWifi)
            refreshNetworks()
    }

    function back() {
        stopSearch()
        var list = history
        page = list.length > 0 ? list.pop() : pageChoice
        history = list
    }

    function startSearch(direct) {
        searchDirect = direct
        foundSerial = ""
        foundName = ""
        secondsLeft = searchTimeout
        searching = true
        if (page !== pageSearch)
            go(pageSearch)
        controller.broadcastIPFromQML()
        searchTimer.start()
    }

    function stopSearch() {
        searching = false
        searchTimer.stop()
    }

    function found(serial) {
        foundSerial = serial
        foundName = foundPrinter.nickname !== undefined ? foundPrinter.nickname : serial
        stopSearch()
    }

    function refreshNetworks() {
        networks = wifiPrinter.serial !== "" ? controller.getPrinterNetworkList(wifiPrinter.serial) : []
    }

    title: qsTr("Connect a printer")
    preferredWidth: 560
    onAboutToShow: {
        page = pageChoice
        history = []
        stopSearch()
    }
    onClosed: stopSearch()

    Timer {
        id: searchTimer
        interval: 1000
        repeat: true
        onTriggered: {
            wizard.secondsLeft--
            if (wizard.searchDirect) {
                var serial = wizard.controller.isPrinterConnectedOnAdhoc()
                if (serial) {
                    wizard.found(serial)
                    return
                }
            }
            // The controller announces the desktop every few seconds meanwhile.
            if (wizard.secondsLeft <= 0)
                wizard.stopSearch()
        }
    }

    Connections {
        target: wizard.printers
        function onPrinterAdded(serial) {
            if (wizard.searching)
                wizard.found(serial)
        }
    }

    WizardPages {
        id: pages
        width: wizard.availableWidth
        currentIndex: wizard.page

        // ---- how is the printer connected?
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("How should this computer reach the printer?"); font.bold: true }
            RadioButton {
                id: directChoice
                objectName: "directChoice"
                checked: true
                text: qsTr("Directly, over the printer's own Wi-Fi")
            }
            Label {
                Layout.fillWidth: true
                Layout.leftMargin: 28
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: qsTr("No router needed; this computer leaves its usual network while connected.")
            }
            RadioButton {
                id: routerChoice
                objectName: "routerChoice"
                text: qsTr("Through a router (cable or Wi-Fi network)")
            }
            Label {
                Layout.fillWidth: true
                Layout.leftMargin: 28
                wrapMode: Text.Wrap
                color: Theme.mutedText
                text: qsTr("The printer and this computer share a network; several computers can reach the printer.")
            }
            Button {
                objectName: "choiceNextButton"
                Layout.alignment: Qt.AlignRight
                text: qsTr("Next")
                highlighted: true
                onClicked: wizard.go(directChoice.checked ? wizard.pageDirect : wizard.pageRouter)
            }
        }

        // ---- direct
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Direct connection"); font.bold: true }
            Label {
                Layout.fillWidth: true
                Layout.preferredWidth: 0
                wrapMode: Text.Wrap
                text: qsTr("1. Switch the printer on and wait about a minute.\n2. In this computer's Wi-Fi settings, join the network the printer opens (its name contains the printer's serial number).\n3. Search for the printer.")
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "directBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "directSearchButton"
                    text: qsTr("Search")
                    highlighted: true
                    onClicked: wizard.startSearch(true)
                }
            }
        }

        // ---- through a router
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Connection through a router"); font.bold: true }
            Label {
                Layout.fillWidth: true
                Layout.preferredWidth: 0
                wrapMode: Text.Wrap
                text: qsTr("If the printer is cabled to the router, or already knows the Wi-Fi network, search for it now. Otherwise connect to it directly once and send it the network's name and password.")
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "routerBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "setupWifiButton"
                    text: qsTr("Set up the printer's Wi-Fi…")
                    onClicked: wizard.go(wizard.pageWifi)
                }
                Button {
                    objectName: "routerSearchButton"
                    text: qsTr("Search")
                    highlighted: true
                    onClicked: wizard.startSearch(false)
                }
            }
        }

        // ---- Wi-Fi set-up over a direct connection
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("The printer's Wi-Fi network"); font.bold: true }
            Label {
                Layout.fillWidth: true
                Layout.preferredWidth: 0
                wrapMode: Text.Wrap
                visible: !wizard.printers || wizard.printers.count === 0
                color: Theme.warningText
                text: qsTr("No printer is connected. Connect to the printer directly first (Back, then Directly).")
            }
            PrinterChoice {
                id: wifiPrinter
                objectName: "wifiPrinter"
                Layout.fillWidth: true
                printers: wizard.printers
                onActivated: wizard.refreshNetworks()
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.gap
                Label { text: qsTr("Network"); Layout.preferredWidth: 90 }
                ComboBox {
                    id: networkCombo
                    objectName: "networkCombo"
                    Layout.fillWidth: true
                    model: wizard.networks
                    editable: true
                    enabled: wifiPrinter.serial !== ""
                }
                Button {
                    objectName: "refreshNetworksButton"
                    text: qsTr("Refresh")
                    enabled: wifiPrinter.serial !== ""
                    onClicked: wizard.refreshNetworks()
                }
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.gap
                Label { text: qsTr("Password"); Layout.preferredWidth: 90 }
                TextField {
                    id: passwordField
                    objectName: "passwordField"
                    Layout.fillWidth: true
                    echoMode: showPassword.checked ? TextInput.Normal : TextInput.Password
                    enabled: wifiPrinter.serial !== ""
                    selectByMouse: true
                }
                CheckBox { id: showPassword; objectName: "showPassword"; text: qsTr("Show") }
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "wifiBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "sendNetworkButton"
                    text: qsTr("Send to printer")
                    highlighted: true
                    enabled: wifiPrinter.serial !== "" && networkCombo.editText.trim() !== ""
                    onClicked: {
                        wizard.sentNetwork = networkCombo.editText.trim()
                        wizard.controller.networking_sendNewNetwork(wifiPrinter.serial, wizard.sentNetwork, passwordField.text)
                        passwordField.text = ""
                        wizard.go(wizard.pageWifiSent)
                    }
                }
            }
        }

        // ---- Wi-Fi sent
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            Label { text: qsTr("Network sent to the printer"); font.bold: true }
            Label {
                Layout.fillWidth: true
                Layout.preferredWidth: 0
                wrapMode: Text.Wrap
                text: qsTr("The printer now joins \"%1\" and leaves the direct connection. Connect this computer to \"%1\" as well, then search for the printer.").arg(wizard.sentNetwork)
            }
            RowLayout {
                Layout.fillWidth: true
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "wifiSearchButton"
                    text: qsTr("Search")
                    highlighted: true
                    onClicked: wizard.startSearch(false)
                }
            }
        }

        // ---- search
        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.gap
            RowLayout {
                spacing: Theme.gap
                BusyIndicator {
                    objectName: "searchBusy"
                    running: wizard.searching
                    visible: wizard.searching
                    implicitWidth: 32
                    implicitHeight: 32
                }
                Label {
                    objectName: "searchStatus"
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    font.bold: true
                    color: wizard.foundConnected ? Theme.okText
                         : (!wizard.searching ? Theme.errorText : palette.windowText)
                    text: wizard.foundConnected ? qsTr("Connected to %1.").arg(wizard.foundPrinter.nickname)
                        : wizard.foundSerial !== "" ? qsTr("%1 was found but is no longer connected.").arg(wizard.foundName)
                        : wizard.searching ? qsTr("Searching for printers… %1 s left").arg(wizard.secondsLeft)
                        : qsTr("No printer answered within %1 s.").arg(wizard.searchTimeout)
                }
            }
            Label {
                objectName: "searchHint"
                Layout.fillWidth: true
                Layout.preferredWidth: 0
                wrapMode: Text.Wrap
                visible: !wizard.searching && !wizard.foundConnected
                text: qsTr("Check that the printer is switched on and that this computer is on the same network as the printer (or on its own Wi-Fi for a direct connection). A firewall must let Tessora accept connections.")
            }
            RowLayout {
                Layout.fillWidth: true
                Button { objectName: "searchBackButton"; text: qsTr("Back"); onClicked: wizard.back() }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "searchAgainButton"
                    text: qsTr("Search again")
                    visible: !wizard.searching && !wizard.foundConnected
                    onClicked: wizard.startSearch(wizard.searchDirect)
                }
                Button {
                    objectName: "searchDoneButton"
                    text: qsTr("Done")
                    highlighted: true
                    visible: wizard.foundConnected
                    onClicked: wizard.close()
                }
            }
        }
    }

    footer: DialogButtonBox {
        Button {
            objectName: "connectCloseButton"
            text: qsTr("Close")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
    }
}
