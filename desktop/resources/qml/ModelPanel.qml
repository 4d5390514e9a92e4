import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "format.js" as Format
import "sizes.js" as Sizes

// The side panel of the main window: the models on the platform, and the transform and
// support tools for the selected one. Everything here acts on the selected model, so the
// tools are disabled while no model is selected or a long job runs.
Pane {
    id: panel
    objectName: "modelPanel"

    property var editor: null
    property ListModel models: ListModel {}
    property bool hasSelection: false
    property string selectedName: ""
    property vector3d selectedPosition: Qt.vector3d(0, 0, 0)
    property real selectedScale: 1
    property vector4d selectedDimensions: Qt.vector4d(0, 0, 0, 0)
    // The selected model's size on the platform as the editor reports it (the extents of
    // its world box: turned, scaled, supports included), the editor's axes (y up).
    property vector3d selectedSize: Qt.vector3d(0, 0, 0)
    property real selectedVolume: 0
    property bool busy: false

    // Copies of the model `name` were added (change > 0), removed (change < 0), or all
    // but the selected one removed (change 0).
    signal copiesChanged(string name, int change)
    // More copies than this at once are confirmed first.
    readonly property int copiesAskedAbout: 20

    function makeCopies(count) {
        editor.duplicateSelectedModel(count)
        copiesChanged(selectedName, count)
    }

    ConfirmDialog {
        id: copiesConfirm
        objectName: "copiesConfirmDialog"
        property int count: 0
        title: qsTr("Many copies")
        text: qsTr("Make %1 copies of %2? Copies without room on the platform are set beside it.")
              .arg(count).arg(panel.selectedName)
        confirmText: qsTr("Make %1 copies").arg(count)
        keepText: qsTr("Cancel")
        onConfirmed: panel.makeCopies(count)
    }

    readonly property bool canEdit: editor !== null && hasSelection && !busy

    Connections {
        target: panel.editor
        ignoreUnknownSignals: true
        function onSelectedModelSizeReceived(size) { panel.selectedSize = size }
    }

    function refreshFields() {
        positionX.text = hasSelection ? Format.number(selectedPosition.x, 2) : ""
        positionY.text = hasSelection ? Format.number(selectedPosition.z, 2) : ""
        scaleField.text = hasSelection ? Format.number(selectedScale * 100, 2) : ""
    }

    onSelectedPositionChanged: refreshFields()
    onSelectedScaleChanged: refreshFields()
    onHasSelectionChanged: refreshFields()

    padding: Theme.gap

    ColumnLayout {
        anchors.fill: parent
        spacing: Theme.gap

        Label {
            text: qsTr("Models on the platform")
            font.bold: true
            font.pixelSize: Theme.headingSize
        }

        Frame {
            Layout.fillWidth: true
            Layout.preferredHeight: 96
            padding: 1

            ListView {
                id: modelList
                objectName: "modelList"
                anchors.fill: parent
                clip: true
                model: panel.models
                ScrollBar.vertical: ScrollBar {}
                delegate: ItemDelegate {
                    objectName: "modelListEntry"
                    width: modelList.width
                    highlighted: panel.hasSelection && model.name === panel.selectedName
                    text: model.copies > 1 ? qsTr("%1  × %2").arg(model.name).arg(model.copies) : model.name
                    ToolTip.visible: hovered
                    ToolTip.text: model.path
                    ToolTip.delay: 600
                }
                Label {
                    anchors.fill: parent
                    anchors.margins: Theme.gap
                    visible: panel.models.count === 0
                    wrapMode: Text.Wrap
                    color: Theme.mutedText
                    text: qsTr("No models yet. Import STL or OBJ files, or drop them on the 3D view.")
                }
            }
        }

        Label {
            id: selectionLabel
            objectName: "selectionLabel"
            Layout.fillWidth: true
            // Room for two lines whatever it says: the tools below keep their place.
            Layout.preferredHeight: Math.ceil(selectionMetrics.lineSpacing * 2)
            verticalAlignment: Text.AlignTop
            wrapMode: Text.Wrap
            FontMetrics { id: selectionMetrics; font: selectionLabel.font }
            color: panel.hasSelection ? palette.windowText : Theme.mutedText
            text: panel.hasSelection
                  ? qsTr("Size %1 × %2 × %3 mm, %4 ml")
                    .arg(Format.number(panel.selectedSize.x, 1))
                    .arg(Format.number(panel.selectedSize.z, 1))
                    .arg(Format.number(panel.selectedSize.y, 1))
                    .arg(Format.number(panel.selectedVolume, 2))
                  : qsTr("Click a model in the 3D view to select it.")
        }

        // Scale to fit, while the selected model is larger than the platform.
        RowLayout {
            id: scaleToFit
            objectName: "scaleToFitRow"
            readonly property vector3d fitSize: panel.editor ? panel.editor.scaleToFitSize : Qt.vector3d(0, 0, 0)
            Layout.fillWidth: true
            visible: panel.canEdit && fitSize.length() > 0
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: Theme.warningText
                font.pixelSize: Theme.smallSize
                text: qsTr("Larger than the platform; fits at %1.").arg(Sizes.sizeText(scaleToFit.fitSize))
            }
            Button {
                objectName: "scaleToFitButton"
                text: qsTr("Scale to fit")
                onClicked: panel.editor.scaleSelectedModelToFit()
            }
        }

        TabBar {
            id: tabs
            objectName: "toolTabs"
            Layout.fillWidth: true
            TabButton { objectName: "transformTab"; text: qsTr("Transform") }
            TabButton { objectName: "supportsTab"; text: qsTr("Supports") }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: tabs.currentIndex

            // ---- transform
            ScrollView {
                id: transformScroll
                clip: true
                contentWidth: availableWidth

                ColumnLayout {
                    width: transformScroll.availableWidth
                    spacing: Theme.smallGap
                    enabled: panel.canEdit

                    RowLayout {
                        Layout.fillWidth: true
                        NumberField {
                            id: positionX
                            objectName: "positionX"
                            Layout.fillWidth: true
                            label: qsTr("X")
                            labelWidth: 14
                            unit: qsTr("mm")
                            onAccepted: applyPosition.clicked()
                        }
                        NumberField {
                            id: positionY
                            objectName: "positionY"
                            Layout.fillWidth: true
                            label: qsTr("Y")
                            labelWidth: 14
                            unit: qsTr("mm")
                            onAccepted: applyPosition.clicked()
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        Button {
                            id: applyPosition
                            objectName: "applyPositionButton"
                            Layout.fillWidth: true
                            text: qsTr("Move")
                            enabled: positionX.acceptable && positionY.acceptable
                            onClicked: panel.editor.setSelectedModelPosition(positionX.value, positionY.value)
                        }
                        Button {
                            objectName: "centerButton"
                            Layout.fillWidth: true
                            text: qsTr("Center")
                            onClicked: panel.editor.centerSelectedModelInPlatform()
                        }
                    }

                    MenuSeparator { Layout.fillWidth: true }

                    RowLayout {
                        Layout.fillWidth: true
                        NumberField {
                            id: angleField
                            objectName: "rotationAngle"
                            Layout.fillWidth: true
                            label: qsTr("Rotate by")
                            labelWidth: 0
                            unit: qsTr("°")
                            text: "90"
                            minimum: -360
                            maximum: 360
                            decimals: 1
                        }
                        Repeater {
                            model: [qsTr("X"), qsTr("Y"), qsTr("Z")]
                            delegate: Button {
                                objectName: "rotate" + ["X", "Y", "Z"][index] + "Button"
                                text: modelData
                                implicitWidth: 34
                                enabled: angleField.acceptable && angleField.value !== 0
                                ToolTip.visible: hovered
                                ToolTip.text: qsTr("Rotate about the %1 axis").arg(modelData)
                                // The editor's frame has y up: the platform's Y axis is its z.
                                onClicked: panel.editor.setSelectedModelRotation(index === 0 ? angleField.value : 0,
                                                                                 index === 2 ? angleField.value : 0,
                                                                                 index === 1 ? angleField.value : 0)
                            }
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        Button {
                            objectName: "resetRotationButton"
                            Layout.fillWidth: true
                            text: qsTr("Reset rotation")
                            onClicked: panel.editor.resetSelectedModelRotation()
                        }
                        Button {
                            objectName: "layFlatButton"
                            Layout.fillWidth: true
                            text: qsTr("Lay flat…")
                            checkable: true
                            checked: panel.editor !== null && panel.editor.inSelectBaseMode
                            ToolTip.visible: hovered
                            ToolTip.text: qsTr("Click the face of the model that should rest on the platform")
                            onToggled: panel.editor.inSelectBaseMode = checked
                        }
                    }

                    MenuSeparator { Layout.fillWidth: true }

                    RowLayout {
                        Layout.fillWidth: true
                        NumberField {
                            id: scaleField
                            objectName: "scale"
                            Layout.fillWidth: true
                            label: qsTr("Scale")
                            labelWidth: 0
                            unit: qsTr("%")
                            minimum: 0.1
                            maximum: 10000
                            onAccepted: applyScale.clicked()
                        }
                        Button {
                            id: applyScale
                            objectName: "applyScaleButton"
                            text: qsTr("Apply")
                            enabled: scaleField.acceptable && scaleField.value > 0
                            onClicked: panel.editor.setSelectedModelScale(scaleField.value / 100)
                        }
                    }

                    MenuSeparator { Layout.fillWidth: true }

                    RowLayout {
                        Layout.fillWidth: true
                        SpinBox {
                            id: copies
                            objectName: "duplicateCount"
                            from: 1
                            to: 100
                            value: 1
                            editable: true
                            implicitWidth: 84
                            onActiveFocusChanged: if (activeFocus) Qt.callLater(contentItem.selectAll)
                        }
                        Button {
                            objectName: "duplicateButton"
                            Layout.fillWidth: true
                            text: qsTr("Duplicate")
                            onClicked: {
                                // Many copies take long to slice and rarely all fit: ask first.
                                if (copies.value > panel.copiesAskedAbout) {
                                    console.log("INFO. ModelPanel.qml::duplicate. Asking before making "
                                                + copies.value + " copies of " + panel.selectedName)
                                    copiesConfirm.count = copies.value
                                    copiesConfirm.open()
                                } else {
                                    panel.makeCopies(copies.value)
                                }
                            }
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        Button {
                            objectName: "removeDuplicatesButton"
                            Layout.fillWidth: true
                            text: qsTr("Remove copies")
                            onClicked: {
                                panel.editor.removeSelectedModelDuplicates()
                                panel.copiesChanged(panel.selectedName, 0)
                            }
                        }
                        Button {
                            objectName: "deleteButton"
                            Layout.fillWidth: true
                            text: qsTr("Delete")
                            ToolTip.visible: hovered
                            ToolTip.text: qsTr("Delete the selected model (Del)")
                            onClicked: {
                                panel.copiesChanged(panel.selectedName, -1)
                                panel.editor.deleteSelectedModel()
                            }
                        }
                    }
                }
            }

            // ---- supports
            ScrollView {
                id: supportsScroll
                objectName: "supportsScroll"
                clip: true
                contentWidth: availableWidth

                ColumnLayout {
                    width: supportsScroll.availableWidth
                    spacing: Theme.gap

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: Theme.smallGap
                        enabled: panel.canEdit

                        RowLayout {
                            Layout.fillWidth: true
                            Label { text: qsTr("Density"); Layout.preferredWidth: 64 }
                            Slider {
                                id: density
                                objectName: "supportDensity"
                                Layout.fillWidth: true
                                from: 1
                                to: 100
                                stepSize: 1
                                value: 50
                            }
                            Label {
                                objectName: "supportDensityValue"
                                text: qsTr("%1 %").arg(density.value)
                                Layout.preferredWidth: 40
                                horizontalAlignment: Text.AlignRight
                            }
                        }
                        RowLayout {
                            Layout.fillWidth: true
                            Label { text: qsTr("Strength"); Layout.preferredWidth: 64 }
                            Slider {
                                id: strength
                                objectName: "supportStrength"
                                Layout.fillWidth: true
                                from: 0
                                to: 100
                                stepSize: 1
                                value: 50
                            }
                            Label {
                                objectName: "supportStrengthValue"
                                text: qsTr("%1 %").arg(strength.value)
                                Layout.preferredWidth: 40
                                horizontalAlignment: Text.AlignRight
                            }
                        }
                        Label {
                            Layout.fillWidth: true
                            wrapMode: Text.Wrap
                            color: Theme.mutedText
                            font.pixelSize: Theme.smallSize
                            text: qsTr("Denser supports hold overhangs better; stronger ones are thicker and harder to remove.")
                        }
                        RowLayout {
                            Layout.fillWidth: true
                            CheckBox {
                                id: noLift
                                objectName: "supportNoLift"
                                text: qsTr("No lift")
                                ToolTip.visible: hovered
                                ToolTip.text: qsTr("The model's flat base stands on the platform; supports only under overhangs")
                            }
                            CheckBox {
                                id: raft
                                objectName: "supportRaft"
                                text: qsTr("Raft")
                                ToolTip.visible: hovered
                                ToolTip.text: qsTr("A thin plate under the model and its supports")
                            }
                        }
                        RowLayout {
                            Layout.fillWidth: true
                            Button {
                                objectName: "addSupportsButton"
                                Layout.fillWidth: true
                                text: qsTr("Add supports")
                                highlighted: true
                                onClicked: panel.editor.addSupportsToSelectedModel(
                                               Format.supportDensityForLevel(density.value), strength.value,
                                               noLift.checked, raft.checked)
                            }
                            Button {
                                objectName: "removeSupportsButton"
                                Layout.fillWidth: true
                                text: qsTr("Remove")
                                onClicked: panel.editor.removeSupportsFromSelectedModel()
                            }
                        }
                        Button {
                            objectName: "editSupportsButton"
                            Layout.fillWidth: true
                            text: qsTr("Edit supports by hand")
                            checkable: true
                            checked: panel.editor !== null && panel.editor.inEditSupportMode
                            onToggled: panel.editor.inEditSupportMode = checked
                        }
                        Label {
                            Layout.fillWidth: true
                            visible: panel.editor !== null && panel.editor.inEditSupportMode
                            wrapMode: Text.Wrap
                            color: Theme.mutedText
                            font.pixelSize: Theme.smallSize
                            text: qsTr("Click the model to add a support; right-click a support to remove it.")
                        }
                    }

                    // Not tied to the selection: hollowing is the whole plate's.
                    HollowBlock {
                        Layout.fillWidth: true
                        enabled: !panel.busy
                        editor: panel.editor
                    }
                }
            }
        }
    }
}
