import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "controls"

// The program's name, version and what it does.
MyPopup {
    id: root

    width: 420
    closePolicy: Popup.CloseOnEscape
    onClosed: root.destroy()

    contentItem: FocusScope {
        objectName: "aboutBox"
        focus: true
        implicitHeight: column.implicitHeight

        ColumnLayout {
            id: column

            anchors.left: parent.left
            anchors.right: parent.right
            spacing: 2 * Theme.unit

            Image {
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 64
                Layout.preferredHeight: 64
                source: Theme.appIcon
                sourceSize: Qt.size(64, 64)
            }

            TextTitle {
                Layout.alignment: Qt.AlignHCenter
                text: PROD_NAME
            }

            TextSub {
                objectName: "aboutBox.version"
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Version %1").arg(PROD_VER)
            }

            TextMain {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                elide: Text.ElideNone
                horizontalAlignment: Text.AlignHCenter
                text: qsTr("Moves files between the computers of one local network, directly and without a cloud.")
            }

            SimpleButton {
                objectName: "aboutBox.close"
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Close")
                focus: true
                onClicked: root.close()
            }
        }
    }
}
