import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "controls"

// The left navigation; the highlighted button follows the page's current value.
Rectangle {
    id: root

    property string current: ""

    objectName: "mainLeft"
    color: Theme.sidebar

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.unit
        spacing: Theme.unit / 2

        Repeater {
            model: [
                { key: "home", text: qsTr("Home"), source: "home.qml", glyph: "\u2302" },
                { key: "devices", text: qsTr("Drop & Send"), source: "Devices.qml", glyph: "\u21C4" },
                { key: "share", text: qsTr("Share"), source: "Share.qml", glyph: "\u2197" },
                { key: "tasks", text: qsTr("Tasks"), source: "Tasks.qml", glyph: "\u2630" }
            ]

            delegate: AbstractButton {
                id: navButton

                required property var modelData
                readonly property bool isCurrent: root.current === navButton.modelData.key

                objectName: "mainLeft." + navButton.modelData.key
                Layout.fillWidth: true
                implicitHeight: 5 * Theme.unit
                text: navButton.modelData.text
                activeFocusOnTab: true
                focusPolicy: Qt.StrongFocus
                checkable: false
                Accessible.role: Accessible.Button
                Accessible.name: navButton.text
                Accessible.checked: navButton.isCurrent
                Accessible.onPressAction: navButton.clicked()
                Keys.onReturnPressed: navButton.clicked()
                Keys.onEnterPressed: navButton.clicked()
                onClicked: global.navTo(navButton.modelData.source)

                contentItem: Row {
                    leftPadding: 2 * Theme.unit
                    spacing: Theme.unit

                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 2 * Theme.unit
                        text: navButton.modelData.glyph
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.fontTitle
                        color: navButton.isCurrent ? Theme.textOnAccent : Theme.textSecondary
                        horizontalAlignment: Text.AlignHCenter
                    }

                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: navButton.text
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.fontDefault
                        font.bold: navButton.isCurrent
                        color: navButton.isCurrent ? Theme.textOnAccent : Theme.text
                    }
                }

                background: Rectangle {
                    radius: Theme.radius
                    color: navButton.isCurrent ? Theme.accentText : navButton.hovered ? Theme.hover : "transparent"
                    border.width: navButton.visualFocus ? Theme.focusWidth : 0
                    border.color: Theme.accent
                }
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
