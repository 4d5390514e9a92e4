import QtQuick 2.15
import QtQuick.Controls 2.15

// The frame of every dialog: modal, centred in the window, never larger than the window
// (at the smallest window size the content scrolls or wraps instead of being cut off).
Dialog {
    id: dialog

    property int preferredWidth: 520

    parent: Overlay.overlay
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    width: parent ? Math.min(preferredWidth, parent.width - 2 * Theme.margin) : preferredWidth
    height: parent ? Math.min(implicitHeight, parent.height - 2 * Theme.margin) : implicitHeight
}
