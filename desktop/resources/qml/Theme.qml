pragma Singleton
import QtQuick 2.15

// Sizes and colours shared by every page, so that spacing, type and the few colours
// outside the controls' palette stay the same everywhere.
QtObject {
    // Spacing, in pixels.
    readonly property int gap: 8
    readonly property int smallGap: 4
    readonly property int margin: 12
    readonly property int sidePanelWidth: 264

    // Type sizes, in pixels; body text uses the application font.
    readonly property int titleSize: 16
    readonly property int headingSize: 14
    readonly property int smallSize: 11

    // Colours outside the palette.
    readonly property color viewportBackground: "#2b2f35"
    readonly property color viewportText: "#d6dae0"
    readonly property color accent: "#2f7fc8"
    readonly property color errorText: "#b3261e"
    readonly property color okText: "#2e7d32"
    readonly property color warningText: "#9a6700"
    readonly property color mutedText: "#5f6770"
    readonly property color panelBorder: "#c5cad1"
    readonly property color cardBackground: "#f6f7f9"
    readonly property color selectedRow: "#d6e6f5"
}
