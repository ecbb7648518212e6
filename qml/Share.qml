import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import ShareFormModel 1.0
import "controls"

// What this device shares: switch sharing on or off, add files and folders, remove them.
Item {
    id: root

    readonly property string current: "share"

    objectName: "share"

    ShareFormModel {
        id: form
    }

    // The switch shows the stored state; a change by the user is written back.
    Binding {
        target: form
        property: "shareEnabled"
        value: enableSwitch.checked
        delayed: true
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 3 * Theme.unit
        spacing: 2 * Theme.unit

        TextTitle {
            text: qsTr("Share")
            font.pixelSize: Theme.fontTitle1
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 2 * Theme.unit

            MySwitch {
                id: enableSwitch

                objectName: "share.enable"
                text: qsTr("Enable")
                checked: form.shareEnabled
            }

            TextSub {
                Layout.fillWidth: true
                text: enableSwitch.checked ? qsTr("Other devices can browse and download these files.") : qsTr("Other devices see nothing while sharing is off.")
                wrapMode: Text.Wrap
            }

        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: Theme.unit
            spacing: 2 * Theme.unit

            TextSub {
                text: qsTr("Files")
                font.bold: true
            }

            Item {
                Layout.fillWidth: true
            }

            MyCheckbox {
                objectName: "share.selectAll"
                text: qsTr("Select All")
                checkable: false
                enabled: list.count > 0
                checked: form.selectionCount > 0 && form.selectionCount === form.filesCount()
                onClicked: form.checkAll(!checked)
            }

            SimpleButton {
                objectName: "share.delete"
                text: qsTr("Delete")
                secondary: true
                enabled: form.selectionCount > 0
                onClicked: form.removeChecked()
            }

            SimpleButton {
                objectName: "share.addFiles"
                text: qsTr("IDS_ADD_FILES")
                onClicked: filesDialog.open()
            }

        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ListView {
                id: list

                objectName: "share.files"
                anchors.fill: parent
                clip: true
                reuseItems: true
                boundsBehavior: Flickable.StopAtBounds
                activeFocusOnTab: true
                keyNavigationEnabled: true
                model: form.model

                ScrollBar.vertical: ScrollBar {
                }

                delegate: ItemDelegate {
                    id: fileRow

                    required property var d

                    objectName: "share.file." + fileRow.d.row
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
                    onClicked: form.check(fileRow.d.row, !fileRow.d.checked)
                    onDoubleClicked: global.open(fileRow.d.uri)

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
                            Layout.preferredWidth: 25 * Theme.unit
                            text: fileRow.d.name
                            textFormat: Text.PlainText

                            MyToolTip {
                                visible: fileName.truncated && fileRow.hovered
                                text: fileName.text
                            }

                        }

                        TextSub {
                            id: fileLocation

                            objectName: fileRow.objectName + ".uri"
                            Layout.fillWidth: true
                            text: fileRow.d.uri
                            textFormat: Text.PlainText
                            elide: Text.ElideMiddle

                            MyToolTip {
                                visible: fileLocation.truncated && fileRow.hovered
                                text: fileLocation.text
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
                objectName: "share.empty"
                anchors.centerIn: parent
                width: parent.width
                visible: list.count === 0
                spacing: Theme.unit / 2

                TextSub {
                    Layout.fillWidth: true
                    text: qsTr("Nothing shared yet")
                    horizontalAlignment: Text.AlignHCenter
                    font.bold: true
                }

                TextSub {
                    Layout.fillWidth: true
                    text: qsTr("Drop files or folders here, or add them with the button above.")
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                }

            }

            DropArea {
                id: dropArea

                objectName: "share.dropArea"
                anchors.fill: parent
                keys: ["text/uri-list"]
                onDropped: (drop) => {
                    if (!drop.hasUrls)
                        return ;

                    drop.acceptProposedAction();
                    form.addFiles(drop.urls);
                }
            }

            Rectangle {
                anchors.fill: parent
                visible: dropArea.containsDrag
                color: "transparent"
                radius: Theme.radiusWindow
                border.width: Theme.focusWidth
                border.color: Theme.accent
            }

        }

    }

    FileDialog {
        id: filesDialog

        title: qsTr("IDS_SELECT_FILES")
        selectExisting: true
        selectMultiple: true
        folder: shortcuts.desktop
        onAccepted: form.addFiles(filesDialog.fileUrls)
    }

}
