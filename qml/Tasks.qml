import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "controls"

// Every sent and received task with its files: follow, start, stop and delete them.
Item {
    id: root

    readonly property string current: "tasks"
    readonly property int selections: taskmgr.selectionsCount
    // The task row the "…" menu was opened for.
    property var menuTask: ({})

    function pressTask(d, row) {
        taskmgr.loadTaskFiles(d.uid, d.fromMe);
        tree.rows.toggle(row);
    }

    function checkTask(d) {
        taskmgr.checkTask(d.node, !d.checked);
    }

    function openMenu(d, button) {
        root.menuTask = d;
        taskMenu.popup(button, 0, button.height);
    }

    function showInFolder(d) {
        global.showInFolder(d.saveUrl);
    }

    function openFile(d) {
        global.openUrl(d.saveUrl);
    }

    function sizeLine(d) {
        return qsTr("Size: %1 / %2").arg(d.offset).arg(d.total);
    }

    function fileProgressLine(d) {
        return d.progressDesc !== "" ? d.progressDesc : qsTr("%1 / %2").arg(d.offset).arg(d.total);
    }

    objectName: "tasks"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 3 * Theme.unit
        spacing: 2 * Theme.unit

        RowLayout {
            Layout.fillWidth: true
            Layout.preferredHeight: 4 * Theme.unit
            spacing: 2 * Theme.unit

            TextTitle {
                text: qsTr("Tasks")
                font.pixelSize: Theme.fontTitle1
            }

            Item {
                Layout.fillWidth: true
            }

            // The selection bar, while any task is selected.
            MyCheckbox {
                objectName: "tasks.selectAll"
                visible: root.selections > 0
                text: qsTr("Select All")
                checkable: false
                checked: root.selections > 0 && root.selections === taskmgr.tasksCount()
                onClicked: taskmgr.checkAll(!checked)
            }

            SimpleButton {
                objectName: "tasks.delete"
                visible: root.selections > 0
                text: qsTr("Delete")
                secondary: true
                onClicked: taskmgr.removeChecked()
            }
        }

        MyTreeView {
            id: tree

            objectName: "tasks.tree"
            Layout.fillWidth: true
            Layout.fillHeight: true
            treeModel: taskmgr.model
            spacing: 2

            delegate: ItemDelegate {
                id: row

                required property var d
                required property int index
                required property int depth
                required property bool expanded
                readonly property bool isTask: row.d.t === "task"

                objectName: row.isTask ? "tasks.task." + row.d.uid : "tasks.file." + row.d.uid + "." + row.d.row
                width: ListView.view.width
                height: row.isTask ? 8 * Theme.unit : 6 * Theme.unit
                leftPadding: Theme.unit + row.depth * tree.indentation
                rightPadding: Theme.unit
                topPadding: Theme.unit / 2
                bottomPadding: Theme.unit / 2
                focusPolicy: Qt.StrongFocus
                Accessible.role: Accessible.ListItem
                Accessible.name: row.d.name
                Accessible.onPressAction: row.clicked()
                // Pooled for reuse, a row is hidden until it shows another row.
                ListView.onPooled: row.visible = false
                ListView.onReused: row.visible = true
                Keys.onReturnPressed: row.clicked()
                Keys.onEnterPressed: row.clicked()
                onClicked: {
                    if (row.isTask)
                        root.pressTask(row.d, row.index);
                }
                onDoubleClicked: {
                    if (!row.isTask)
                        root.openFile(row.d);
                }

                contentItem: Loader {
                    sourceComponent: row.isTask ? taskContent : fileContent
                }

                background: Rectangle {
                    radius: Theme.radius
                    color: row.isTask && row.d.checked ? Theme.accentTint : row.hovered ? Theme.hover
                         : row.isTask ? Theme.surface : "transparent"
                    border.width: row.visualFocus ? Theme.focusWidth : row.isTask ? 1 : 0
                    border.color: row.visualFocus ? Theme.accent : Theme.border
                }

                Component {
                    id: taskContent

                    RowLayout {
                        spacing: Theme.unit

                        Item {
                            Layout.preferredWidth: 3 * Theme.unit
                            Layout.fillHeight: true

                            MyCheckbox {
                                objectName: row.objectName + ".check"
                                anchors.centerIn: parent
                                visible: row.hovered || root.selections > 0
                                checkable: false
                                checked: row.d.checked
                                Accessible.name: qsTr("Select")
                                onClicked: root.checkTask(row.d)
                            }
                        }

                        Text {
                            text: row.expanded ? "\u25BE" : "\u25B8"
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.fontDefault
                            color: Theme.textMuted
                        }

                        Image {
                            Layout.preferredWidth: 4 * Theme.unit
                            Layout.preferredHeight: 4 * Theme.unit
                            source: row.d.fromMe ? "qrc:/res/send.png" : "qrc:/res/receive.png"
                            sourceSize: Qt.size(4 * Theme.unit, 4 * Theme.unit)
                        }

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 2

                            TextMain {
                                id: taskName

                                objectName: row.objectName + ".name"
                                Layout.fillWidth: true
                                text: row.d.name
                                font.bold: true
                                textFormat: Text.PlainText

                                MyToolTip {
                                    visible: taskName.truncated && row.hovered
                                    text: taskName.text
                                }
                            }

                            TextSub {
                                Layout.fillWidth: true
                                text: row.d.created
                                font.pixelSize: Theme.fontSub2
                                textFormat: Text.PlainText
                            }

                            Loader {
                                Layout.fillWidth: true
                                active: row.d.status < 0 && row.d.error !== ""
                                visible: active

                                sourceComponent: TextSub {
                                    id: taskError

                                    objectName: row.objectName + ".error"
                                    text: row.d.error
                                    color: Theme.error
                                    font.pixelSize: Theme.fontSub2
                                    textFormat: Text.PlainText
                                    elide: Text.ElideRight

                                    MyToolTip {
                                        visible: taskError.truncated && row.hovered
                                        text: taskError.text
                                    }
                                }
                            }
                        }

                        ColumnLayout {
                            Layout.preferredWidth: 24 * Theme.unit
                            Layout.fillWidth: false
                            spacing: 2

                            Loader {
                                Layout.fillWidth: true
                                active: row.d.running
                                visible: active

                                sourceComponent: MyProgressBar {
                                    objectName: row.objectName + ".progress"
                                    value: row.d.progress
                                }
                            }

                            TextSub {
                                objectName: row.objectName + ".progressDesc"
                                Layout.fillWidth: true
                                text: row.d.progressDesc
                                font.pixelSize: Theme.fontSub2
                            }
                        }

                        StatusMark {
                            running: row.d.running
                            status: row.d.status
                            objectName: row.objectName + ".mark"
                        }

                        MyContextMenuBtn {
                            id: menuButton

                            objectName: row.objectName + ".menu"
                            glyph: "\u2026"
                            text: qsTr("More")
                            onClicked: root.openMenu(row.d, menuButton)
                        }
                    }
                }

                Component {
                    id: fileContent

                    RowLayout {
                        spacing: Theme.unit

                        Image {
                            Layout.preferredWidth: 4 * Theme.unit
                            Layout.preferredHeight: 4 * Theme.unit
                            source: row.d.thumb
                            sourceSize: Qt.size(4 * Theme.unit, 4 * Theme.unit)
                            fillMode: Image.PreserveAspectFit
                            asynchronous: true
                        }

                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 2

                            TextMain {
                                id: fileName

                                objectName: row.objectName + ".name"
                                Layout.fillWidth: true
                                text: row.d.name
                                font.pixelSize: Theme.fontSub
                                textFormat: Text.PlainText

                                MyToolTip {
                                    visible: fileName.truncated && row.hovered
                                    text: fileName.text
                                }
                            }

                            TextSub {
                                id: fileLine

                                objectName: row.objectName + ".size"
                                Layout.fillWidth: true
                                text: row.d.status < 0 && row.d.error !== "" ? row.d.error : root.sizeLine(row.d)
                                color: row.d.status < 0 ? Theme.error : Theme.textSecondary
                                font.pixelSize: Theme.fontSub2
                                textFormat: Text.PlainText

                                MyToolTip {
                                    visible: fileLine.truncated && row.hovered
                                    text: fileLine.text
                                }
                            }
                        }

                        ColumnLayout {
                            Layout.preferredWidth: 24 * Theme.unit
                            Layout.fillWidth: false
                            spacing: 2
                            visible: row.d.status === 0

                            MyProgressBar {
                                objectName: row.objectName + ".progress"
                                Layout.fillWidth: true
                                value: row.d.progress
                            }

                            TextSub {
                                Layout.fillWidth: true
                                text: root.fileProgressLine(row.d)
                                font.pixelSize: Theme.fontSub2
                                textFormat: Text.PlainText
                            }
                        }

                        SimpleButton {
                            objectName: row.objectName + ".showInFolder"
                            visible: !row.d.fromMe && row.d.status > 0
                            text: qsTr("Show in folder")
                            secondary: true
                            font.pixelSize: Theme.fontSub2
                            padding: Theme.unit / 2
                            onClicked: root.showInFolder(row.d)
                        }

                        StatusMark {
                            running: row.d.running
                            status: row.d.status
                            objectName: row.objectName + ".mark"
                        }
                    }
                }
            }
        }
    }

    ColumnLayout {
        objectName: "tasks.empty"
        anchors.centerIn: parent
        width: parent.width - 6 * Theme.unit
        visible: tree.count === 0 && taskmgr.isLoading === 0
        spacing: Theme.unit / 2

        TextSub {
            Layout.fillWidth: true
            text: qsTr("No transfers yet")
            horizontalAlignment: Text.AlignHCenter
            font.bold: true
        }

        TextSub {
            Layout.fillWidth: true
            text: qsTr("Files you send or receive appear here, with their progress.")
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
    }

    MyContextMenu {
        id: taskMenu

        objectName: "tasks.task." + (root.menuTask.uid || "") + ".menu"

        TaskMenuItem {
            objectName: taskMenu.objectName + ".start"
            text: qsTr("Start")
            shown: root.menuTask.startable === true
            onTriggered: taskmgr.startTask(root.menuTask.uid, root.menuTask.fromMe)
        }

        TaskMenuItem {
            objectName: taskMenu.objectName + ".stop"
            text: qsTr("Stop")
            shown: root.menuTask.running === true && root.menuTask.fromMe === false
            onTriggered: taskmgr.stopTask(root.menuTask.node)
        }

        TaskMenuItem {
            objectName: taskMenu.objectName + ".showInFolder"
            text: qsTr("Show in folder")
            shown: root.menuTask.fromMe === false && root.menuTask.status > 0 && root.menuTask.saveUrl !== ""
            onTriggered: global.showInFolder(root.menuTask.saveUrl)
        }

        TaskMenuItem {
            objectName: taskMenu.objectName + ".delete"
            text: qsTr("Delete")
            shown: true
            onTriggered: taskmgr.removeTask(root.menuTask.node)
        }
    }

    BusyMask {
        visible: taskmgr.isLoading > 0
    }

    // A task's or file's state: busy while it runs, then done or failed.
    component StatusMark: Item {
        property bool running: false
        property int status: 0

        Layout.preferredWidth: 3 * Theme.unit
        Layout.preferredHeight: 3 * Theme.unit

        BusyIndicator {
            anchors.fill: parent
            padding: 0
            visible: parent.running
            running: parent.running
        }

        Image {
            anchors.fill: parent
            visible: !parent.running && parent.status !== 0
            source: parent.status > 0 ? "qrc:/res/icon_suc.png" : "qrc:/res/icon_failed.png"
            sourceSize: Qt.size(3 * Theme.unit, 3 * Theme.unit)
        }
    }

    // An entry of the task menu that takes no room while it does not apply.
    component TaskMenuItem: MenuItem {
        id: entry

        property bool shown: true

        visible: entry.shown
        height: entry.shown ? entry.implicitHeight : 0
        font: taskMenu.font
        padding: Theme.unit

        background: Rectangle {
            color: entry.highlighted ? Theme.hover : Theme.surface
            border.width: entry.visualFocus ? Theme.focusWidth : 0
            border.color: Theme.accent
        }
    }
}
