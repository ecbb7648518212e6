import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import MessageBoxContext 1.0
import "controls"

// A modal box made from a model's request map: title and/or msg, an icon, and
// one button per entry of buttons, each answering with its callback.
MyPopup {
    id: root

    required property var e
    readonly property var buttons: root.e.buttons || []
    readonly property string title: root.e.title || ""
    readonly property string msg: root.e.msg || ""

    function iconFor(icon) {
        switch (icon) {
        case MessageBoxContext.Warning: return "qrc:/res/icon_warning.png";
        case MessageBoxContext.Question: return "qrc:/res/icon_question.png";
        case MessageBoxContext.Error: return "qrc:/res/icon_error.png";
        case MessageBoxContext.Suc: return "qrc:/res/icon_suc.png";
        default: return "qrc:/res/icon_alert.png";
        }
    }

    function press(i) {
        const cb = root.e.cbs[i];
        root.close();
        msgboxctx.callBack(cb);
    }

    width: 420
    closePolicy: Popup.NoAutoClose
    onClosed: root.destroy()

    // Answered elsewhere (a desktop notification): closes without an answer.
    Connections {
        target: msgboxctx
        function onCloseMsgbox(id) {
            if (root.e.id && root.e.id === id)
                root.close();
        }
    }

    contentItem: FocusScope {
        objectName: "messageBox"
        focus: true
        implicitHeight: column.implicitHeight
        Keys.onEscapePressed: root.press(root.buttons.length - 1)

        ColumnLayout {
            id: column

            anchors.left: parent.left
            anchors.right: parent.right
            spacing: 3 * Theme.unit

            RowLayout {
                spacing: 2 * Theme.unit
                Layout.fillWidth: true

                Image {
                    objectName: "messageBox.icon"
                    Layout.alignment: Qt.AlignTop
                    Layout.preferredWidth: Theme.boxIconSize
                    Layout.preferredHeight: Theme.boxIconSize
                    source: root.iconFor(root.e.icon)
                    sourceSize: Qt.size(Theme.boxIconSize, Theme.boxIconSize)
                }

                TextMain {
                    objectName: "messageBox.text"
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignVCenter
                    wrapMode: Text.Wrap
                    elide: Text.ElideNone
                    textFormat: Text.StyledText
                    linkColor: Theme.accentText
                    text: root.title !== "" && root.msg !== "" ? root.title + "<br/>" + root.msg
                                                               : root.title + root.msg
                    onLinkActivated: (link) => Qt.openUrlExternally(link)
                }
            }

            RowLayout {
                Layout.alignment: Qt.AlignRight
                spacing: Theme.unit

                Repeater {
                    model: root.buttons

                    SimpleButton {
                        id: button

                        required property int index
                        required property var modelData

                        objectName: "messageBox.button." + button.index
                        Layout.preferredWidth: Theme.boxButtonWidth
                        text: root.e.buttonNames[button.index]
                        secondary: button.modelData === MessageBoxContext.No || button.modelData === MessageBoxContext.Cancel
                        fill: Theme.accent
                        focus: button.index === 0
                        onClicked: root.press(button.index)
                    }
                }
            }
        }
    }
}
