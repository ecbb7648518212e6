import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "controls"

// The window's title bar: drags the window, a double-click toggles
// maximised, and it holds the menu and the window buttons.
Item {
    id: root

    required property Item frame

    signal helpRequested()
    signal aboutRequested()

    objectName: "mainHeader"
    implicitHeight: Theme.headerHeight

    MouseArea {
        id: moveArea

        property point pressAt
        property bool isMoving: false
        property bool isManual: false

        anchors.fill: parent
        onPressed: (mouse) => {
            moveArea.pressAt = Qt.point(mouse.x, mouse.y);
            moveArea.isMoving = false;
            moveArea.isManual = false;
        }
        onPositionChanged: (mouse) => {
            if (!moveArea.pressed)
                return;
            if (!moveArea.isMoving) {
                if (Math.abs(mouse.x - moveArea.pressAt.x) + Math.abs(mouse.y - moveArea.pressAt.y) < Qt.styleHints.startDragDistance)
                    return;
                moveArea.isMoving = true;
                moveArea.isManual = !root.frame.win.startSystemMove();
            }
            if (moveArea.isManual && !root.frame.isMaximized) {
                root.frame.win.x += mouse.x - moveArea.pressAt.x;
                root.frame.win.y += mouse.y - moveArea.pressAt.y;
            }
        }
        onDoubleClicked: root.frame.toggleMaximized()
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: Theme.unit
        spacing: Theme.unit

        Image {
            Layout.preferredWidth: 3 * Theme.unit
            Layout.preferredHeight: 3 * Theme.unit
            source: Theme.appIcon
            sourceSize: Qt.size(64, 64)
            asynchronous: true
        }

        TextMain {
            objectName: "mainHeader.title"
            text: PROD_NAME
            font.bold: true
        }

        Item {
            Layout.fillWidth: true
        }

        MyContextMenuBtn {
            id: menuButton

            objectName: "mainHeader.menu"
            text: qsTr("Menu")
            glyph: "\u2630"
            onClicked: menu.open()

            MyContextMenu {
                id: menu

                objectName: "mainHeader.menu"
                y: menuButton.height

                Action {
                    objectName: "devices"
                    text: qsTr("Drop & Send")
                    onTriggered: global.navTo("Devices.qml")
                }

                Action {
                    objectName: "help"
                    text: qsTr("Help")
                    onTriggered: root.helpRequested()
                }

                Action {
                    objectName: "about"
                    text: qsTr("About")
                    onTriggered: root.aboutRequested()
                }
            }
        }

        WinControlBar {
            frame: root.frame
        }
    }
}
