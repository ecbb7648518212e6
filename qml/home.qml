import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "controls"

Item {
    id: root

    readonly property string current: "home"

    objectName: "home"

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 6 * Theme.unit, 720)
        spacing: 2 * Theme.unit

        Image {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 128
            Layout.preferredHeight: 128
            source: Theme.appIcon
            sourceSize: Qt.size(128, 128)
            asynchronous: true
        }

        Text {
            Layout.fillWidth: true
            text: qsTr("Your Professional Cross-Platform File Sharing Tool")
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontTitle1
            font.bold: true
            color: Theme.text
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        TextSub {
            Layout.fillWidth: true
            text: qsTr("Effortlessly transfer, share and manage files across all your devices with speed and reliability")
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        RowLayout {
            Layout.topMargin: 3 * Theme.unit
            Layout.fillWidth: true
            spacing: 2 * Theme.unit

            Repeater {
                model: [
                    { key: "devices", title: qsTr("Drop & Send"), text: qsTr("Select a device and send files instantly with a single drop"),
                      source: "Devices.qml", glyph: "\u21C4" },
                    { key: "share", title: qsTr("Share"), text: qsTr("Choose files to share, and others can download them anytime"),
                      source: "Share.qml", glyph: "\u2197" },
                    { key: "tasks", title: qsTr("Tasks"), text: qsTr("Track your transfers, check progress, and pause or resume"),
                      source: "Tasks.qml", glyph: "\u2630" }
                ]

                delegate: AbstractButton {
                    id: tile

                    required property var modelData

                    objectName: "home.tile." + tile.modelData.key
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    implicitHeight: 20 * Theme.unit
                    text: tile.modelData.title
                    activeFocusOnTab: true
                    focusPolicy: Qt.StrongFocus
                    Accessible.role: Accessible.Button
                    Accessible.name: tile.text
                    Accessible.description: tile.modelData.text
                    Accessible.onPressAction: tile.clicked()
                    Keys.onReturnPressed: tile.clicked()
                    Keys.onEnterPressed: tile.clicked()
                    onClicked: global.navTo(tile.modelData.source)

                    contentItem: ColumnLayout {
                        spacing: Theme.unit

                        Text {
                            text: tile.modelData.glyph
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.fontTitle1
                            color: Theme.accentText
                        }

                        TextMain {
                            Layout.fillWidth: true
                            text: tile.text
                            font.bold: true
                        }

                        TextSub {
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            text: tile.modelData.text
                            wrapMode: Text.Wrap
                            elide: Text.ElideNone
                            verticalAlignment: Text.AlignTop
                        }
                    }

                    padding: 2 * Theme.unit

                    background: Rectangle {
                        radius: Theme.radiusWindow
                        color: tile.down ? Theme.accentTint : tile.hovered ? Theme.hover : Theme.surface
                        border.width: tile.visualFocus ? Theme.focusWidth : 1
                        border.color: tile.visualFocus ? Theme.accent : Theme.border
                    }
                }
            }
        }
    }
}
