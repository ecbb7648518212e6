import DeviceModel 1.0
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import "controls"

// One other device: send it files or folders, and browse and download what it shares.
Item {
    id: root

    required property var devItem
    readonly property string current: "devices"

    // A thumbnail is fetched through the image provider; outside the program
    // the same picture is at the address behind it.
    function openThumb(thumb) {
        if (thumb !== "")
            Qt.openUrlExternally(thumb.replace(/^image:\/\/curl\//, ""));

    }

    objectName: "device"
    Component.onCompleted: device.open(root.devItem)

    DeviceModel {
        id: device
    }

    Connections {
        function onSelectSaveRoot(cb) {
            root.ApplicationWindow.window.askSaveRoot(cb);
        }

        target: device
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 3 * Theme.unit
        spacing: 2 * Theme.unit

        TextTitle {
            text: qsTr("Device")
            font.pixelSize: Theme.fontTitle1
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: header.implicitHeight + 2 * Theme.unit
            radius: Theme.radiusWindow
            color: Theme.surface
            border.color: Theme.border

            RowLayout {
                id: header

                anchors.fill: parent
                anchors.margins: Theme.unit
                spacing: 2 * Theme.unit

                Image {
                    Layout.preferredWidth: 6 * Theme.unit
                    Layout.preferredHeight: 6 * Theme.unit
                    source: device.iconSrc
                    sourceSize: Qt.size(6 * Theme.unit, 6 * Theme.unit)
                }

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: Theme.unit / 2

                    TextMain {
                        objectName: "device.name"
                        Layout.fillWidth: true
                        text: device.name
                        font.bold: true
                        textFormat: Text.PlainText
                    }

                    TextSub {
                        objectName: "device.subName"
                        Layout.fillWidth: true
                        text: device.subName
                        textFormat: Text.PlainText
                    }

                }

                SimpleButton {
                    objectName: "device.sendFiles"
                    text: qsTr("Send Files")
                    onClicked: filesDialog.open()
                }

                SimpleButton {
                    objectName: "device.sendFolders"
                    text: qsTr("Send Folders")
                    onClicked: foldersDialog.open()
                }

            }

        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: Theme.unit
            spacing: 2 * Theme.unit

            TextSub {
                text: qsTr("Share Files")
                font.bold: true
            }

            Item {
                Layout.fillWidth: true
            }

            MyCheckbox {
                objectName: "device.selectAll"
                text: qsTr("Select All")
                checkable: false
                enabled: files.count > 0
                checked: device.selectCount > 0 && device.selectCount === device.itemsCount()
                onClicked: device.checkAll(!checked)
            }

            SimpleButton {
                objectName: "device.download"
                text: qsTr("Download")
                enabled: device.selectCount > 0
                onClicked: device.download()
            }

        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ListView {
                id: files

                objectName: "device.files"
                anchors.fill: parent
                clip: true
                reuseItems: true
                boundsBehavior: Flickable.StopAtBounds
                activeFocusOnTab: true
                keyNavigationEnabled: true
                model: device.model

                ScrollBar.vertical: ScrollBar {
                }

                delegate: ItemDelegate {
                    id: fileRow

                    required property var d

                    objectName: "device.file." + fileRow.d.row
                    width: ListView.view.width
                    height: 6 * Theme.unit
                    padding: Theme.unit / 2
                    leftPadding: Theme.unit
                    focusPolicy: Qt.StrongFocus
                    Accessible.role: Accessible.CheckBox
                    Accessible.name: fileRow.d.name
                    Accessible.checked: fileRow.d.checked
                    Accessible.onPressAction: fileRow.clicked()
                // Pooled for reuse, a row is hidden until it shows another row.
                ListView.onPooled: fileRow.visible = false
                ListView.onReused: fileRow.visible = true
                    Keys.onSpacePressed: fileRow.clicked()
                    onClicked: device.check(fileRow.d.row, !fileRow.d.checked)
                    onDoubleClicked: root.openThumb(fileRow.d.thumb)

                    contentItem: RowLayout {
                        spacing: Theme.unit

                        MyCheckbox {
                            objectName: fileRow.objectName + ".check"
                            checkable: false
                            focusPolicy: Qt.NoFocus
                            checked: fileRow.d.checked
                            onClicked: fileRow.clicked()
                        }

                        Image {
                            objectName: fileRow.objectName + ".icon"
                            Layout.preferredWidth: 4 * Theme.unit
                            Layout.preferredHeight: 4 * Theme.unit
                            source: fileRow.d.icon
                            sourceSize: Qt.size(4 * Theme.unit, 4 * Theme.unit)
                            fillMode: Image.PreserveAspectFit
                            asynchronous: true

                            // A picture that cannot be read shows as a file.
                            Image {
                                anchors.fill: parent
                                visible: parent.status === Image.Error || (parent.status === Image.Ready && parent.implicitWidth === 0)
                                source: visible ? "qrc:/res/icon_file.png" : ""
                                sourceSize: parent.sourceSize
                            }
                        }

                        TextMain {
                            id: fileName

                            objectName: fileRow.objectName + ".name"
                            Layout.fillWidth: true
                            text: fileRow.d.name
                            textFormat: Text.PlainText

                            MyToolTip {
                                visible: fileName.truncated && fileRow.hovered
                                text: fileName.text
                            }

                        }

                    }

                    background: Rectangle {
                        color: fileRow.d.checked ? Theme.accentTint : fileRow.hovered ? Theme.hover : "transparent"
                        radius: Theme.radius
                        border.width: fileRow.visualFocus ? Theme.focusWidth : 0
                        border.color: Theme.accent
                    }

                }

            }

            ColumnLayout {
                objectName: "device.empty"
                anchors.centerIn: parent
                width: parent.width
                visible: files.count === 0 && !device.isLoading
                spacing: Theme.unit / 2

                TextSub {
                    Layout.fillWidth: true
                    text: qsTr("Nothing shared")
                    horizontalAlignment: Text.AlignHCenter
                    font.bold: true
                }

                TextSub {
                    Layout.fillWidth: true
                    text: qsTr("This device shares no files, or its sharing is switched off.")
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                }

            }

        }

    }

    FileDialog {
        id: filesDialog

        title: qsTr("IDS_SELECT_FILES")
        selectExisting: true
        selectMultiple: true
        folder: shortcuts.desktop
        onAccepted: device.sendFiles(filesDialog.fileUrls)
    }

    FileDialog {
        id: foldersDialog

        title: qsTr("Select folders to send")
        selectFolder: true
        selectExisting: true
        folder: shortcuts.desktop
        onAccepted: device.sendFiles(foldersDialog.fileUrls)
    }

    BusyMask {
        visible: device.isLoading
    }

}
