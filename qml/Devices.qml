import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "controls"

Item {
    id: root

    readonly property string current: "devices"
    readonly property int defaultPort: server.defaultPort

    // The tile's address: the IP alone on the default port, else IP:port.
    function addressOf(ip, port) {
        return port === root.defaultPort ? ip : ip + ":" + port;
    }

    // The add tile opens the connect form; a device's tile opens the device.
    function pressTile(d) {
        if (d.t === "add")
            devicemgr.connectPresent = true;
        else
            devicemgr.gotoDevice(d.row);
    }

    function sendTo(d, urls) {
        devicemgr.sendFiles(d.ip, d.port, d.pwd, urls);
    }

    objectName: "devices"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 3 * Theme.unit
        spacing: 2 * Theme.unit

        TextTitle {
            text: qsTr("Drop & Send")
            font.pixelSize: Theme.fontTitle1
        }

        TextSub {
            text: qsTr("Appear as")
            font.bold: true
        }

        AbstractButton {
            id: appearAs

            objectName: "devices.appearAs"
            Layout.fillWidth: true
            implicitHeight: 10 * Theme.unit
            padding: Theme.unit
            text: server.name
            activeFocusOnTab: true
            focusPolicy: Qt.StrongFocus
            Accessible.role: Accessible.Button
            Accessible.name: appearAs.text
            Accessible.onPressAction: appearAs.clicked()
            Keys.onReturnPressed: appearAs.clicked()
            Keys.onEnterPressed: appearAs.clicked()
            onClicked: devicemgr.serverSettingPresent = true

            contentItem: RowLayout {
                spacing: 2 * Theme.unit

                Image {
                    Layout.preferredWidth: 6 * Theme.unit
                    Layout.preferredHeight: 6 * Theme.unit
                    source: global.serverIcon()
                    sourceSize: Qt.size(6 * Theme.unit, 6 * Theme.unit)
                }

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: Theme.unit / 2

                    TextMain {
                        objectName: "devices.appearAs.name"
                        Layout.fillWidth: true
                        text: server.name
                        font.bold: true
                        textFormat: Text.PlainText
                    }

                    TextSub {
                        objectName: "devices.appearAs.password"
                        visible: server.passcode !== ""
                        text: qsTr("Password: ") + server.passcode
                        textFormat: Text.PlainText
                    }

                    TextSub {
                        objectName: "devices.appearAs.ip"
                        text: qsTr("IP: ") + server.ip
                        textFormat: Text.PlainText
                    }
                }

                Text {
                    text: "\u270E"
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontTitle
                    color: Theme.accentText
                }
            }

            background: Rectangle {
                radius: Theme.radiusWindow
                color: appearAs.down ? Theme.accentTint : appearAs.hovered ? Theme.hover : Theme.surface
                border.width: appearAs.visualFocus ? Theme.focusWidth : 1
                border.color: appearAs.visualFocus ? Theme.accent : Theme.border
            }
        }

        TextSub {
            Layout.topMargin: Theme.unit
            text: qsTr("Other Devices")
            font.bold: true
        }

        GridView {
            id: grid

            objectName: "devices.grid"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            cellWidth: Theme.tileSize
            cellHeight: Theme.tileSize
            reuseItems: true
            activeFocusOnTab: true
            keyNavigationEnabled: true
            model: devicemgr.itemModel()

            delegate: AbstractButton {
                id: tile

                required property var d
                required property int index
                readonly property bool isAdd: tile.d.t === "add"
                readonly property string address: tile.isAdd ? "" : root.addressOf(tile.d.ip, tile.d.port)

                objectName: tile.isAdd ? "devices.tile.add" : "devices.tile." + tile.d.ip
                width: GridView.view.cellWidth - Theme.unit
                height: GridView.view.cellHeight - Theme.unit
                text: tile.isAdd ? qsTr("Add a device") : tile.d.name
                focusPolicy: Qt.StrongFocus
                Accessible.role: Accessible.Button
                Accessible.name: tile.isAdd ? tile.text : tile.text + " " + tile.address
                Accessible.onPressAction: tile.clicked()
                Keys.onReturnPressed: tile.clicked()
                Keys.onEnterPressed: tile.clicked()
                onClicked: root.pressTile(tile.d)

                contentItem: ColumnLayout {
                    spacing: Theme.unit / 2

                    Image {
                        Layout.alignment: Qt.AlignHCenter
                        Layout.preferredWidth: 7 * Theme.unit
                        Layout.preferredHeight: 7 * Theme.unit
                        source: tile.isAdd ? "qrc:/res/icon_connect1.png" : tile.d.iconsrc
                        sourceSize: Qt.size(7 * Theme.unit, 7 * Theme.unit)
                    }

                    TextSub {
                        objectName: tile.objectName + ".address"
                        Layout.fillWidth: true
                        visible: !tile.isAdd
                        text: tile.address
                        font.pixelSize: Theme.fontSub2
                        horizontalAlignment: Text.AlignHCenter
                        textFormat: Text.PlainText
                    }

                    TextMain {
                        id: nameLabel

                        objectName: tile.objectName + ".name"
                        Layout.fillWidth: true
                        text: tile.text
                        font.pixelSize: Theme.fontSub
                        horizontalAlignment: Text.AlignHCenter
                        textFormat: Text.PlainText

                        MyToolTip {
                            visible: nameLabel.truncated && tile.hovered
                            text: nameLabel.text
                        }
                    }
                }

                padding: Theme.unit

                background: Rectangle {
                    radius: Theme.radiusWindow
                    color: dropArea.containsDrag ? Theme.accentTint
                         : tile.down ? Theme.accentTint : tile.hovered ? Theme.hover : Theme.surface
                    border.width: tile.visualFocus || dropArea.containsDrag ? Theme.focusWidth : 1
                    border.color: tile.visualFocus || dropArea.containsDrag ? Theme.accent : Theme.border
                }

                DropArea {
                    id: dropArea

                    anchors.fill: parent
                    enabled: !tile.isAdd
                    keys: ["text/uri-list"]
                    onDropped: (drop) => {
                        if (!drop.hasUrls)
                            return;
                        drop.acceptProposedAction();
                        root.sendTo(tile.d, drop.urls);
                    }
                }
            }

            ColumnLayout {
                objectName: "devices.empty"
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.topMargin: Theme.tileSize + Theme.unit
                visible: grid.count === 1
                spacing: Theme.unit / 2

                TextSub {
                    Layout.fillWidth: true
                    text: qsTr("No devices found yet")
                    horizontalAlignment: Text.AlignHCenter
                    font.bold: true
                }

                TextSub {
                    Layout.fillWidth: true
                    text: qsTr("Devices on the same network appear here automatically, or add one by IP.")
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                }
            }
        }

        Line {
            Layout.fillWidth: true
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 2 * Theme.unit

            TextSub {
                text: qsTr("Help")
                font.bold: true
            }

            SimpleButton {
                objectName: "devices.getHelp"
                text: qsTr("Get help")
                secondary: true
                onClicked: devicemgr.getHelp()
            }

            Item {
                Layout.fillWidth: true
            }
        }
    }

    Loader {
        active: devicemgr.serverSettingPresent
        sourceComponent: Item {
            ServerSettingForm {
                id: settingForm

                Component.onCompleted: settingForm.open()
            }
        }
    }

    Loader {
        active: devicemgr.connectPresent
        sourceComponent: Item {
            ConnectForm {
                id: connectForm

                Component.onCompleted: connectForm.open()
            }
        }
    }

    BusyMask {
        visible: devicemgr.isLoading
    }
}
