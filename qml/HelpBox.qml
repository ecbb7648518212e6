import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "controls"

// The short manual shipped with the program.
MyPopup {
    id: root

    width: 640
    height: 560
    closePolicy: Popup.CloseOnEscape
    onClosed: root.destroy()

    contentItem: FocusScope {
        objectName: "helpBox"
        focus: true

        ColumnLayout {
            anchors.fill: parent
            spacing: 2 * Theme.unit

            TextTitle {
                text: qsTr("Help")
            }

            ScrollView {
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true

                TextMain {
                    objectName: "helpBox.text"
                    width: root.availableWidth - Theme.unit
                    wrapMode: Text.Wrap
                    elide: Text.ElideNone
                    textFormat: Text.StyledText
                    lineHeight: 1.2
                    text: qsTr("<b>Home</b> leads to the three things the program does.<br/><br/>"
                               + "<b>Drop &amp; Send</b> lists the devices on your network that run the program. "
                               + "Drag files or folders from your file manager onto a device's tile to send them; "
                               + "the other side is asked to accept and chooses where to save them. "
                               + "Press a tile to open the device and download what it shares.<br/><br/>"
                               + "<b>Connecting by address.</b> A device on another subnet is not found by itself: "
                               + "press <i>Add a device</i> and type its IP address and port (20168 unless it was "
                               + "changed) and its password, if it has one.<br/><br/>"
                               + "<b>Appear as</b> shows how other devices see this one. Press it to change the name, "
                               + "the port and the password.<br/><br/>"
                               + "<b>The password</b> protects this device: a device that does not know it can neither "
                               + "send files here nor browse or download what you share. Without a password, any "
                               + "device on the network can do both.<br/><br/>"
                               + "<b>Where files go.</b> Received files are saved in the folder you choose when you "
                               + "accept; a file whose name is taken there gets a free numbered name. A transfer that "
                               + "stops resumes where it left off.<br/><br/>"
                               + "<b>Share</b> publishes files and folders for others to download, and <b>Tasks</b> "
                               + "lists every transfer with its progress.<br/><br/>"
                               + "No local network? Turn on your phone's hotspot and join both computers to it.")
                }
            }

            SimpleButton {
                objectName: "helpBox.close"
                Layout.alignment: Qt.AlignRight
                text: qsTr("Close")
                focus: true
                onClicked: root.close()
            }
        }
    }
}
