import QtQuick 2.15
import QtQuick.Layouts 1.15
import "controls"

MySettingForm {
    id: root

    function portValue(text) {
        const n = parseInt(text, 10);
        return n >= 1 && n <= 65535 ? n : 0;
    }

    objectName: "connectForm"
    width: 550
    height: 500
    title: qsTr("IDS_TITLE_CONNECT")
    okText: qsTr("Connect")
    isOkEnabled: ipField.acceptableInput && root.portValue(portField.text) > 0
    onOkPressed: devicemgr.connectDevice(ipField.text.trim(), root.portValue(portField.text), passwordField.text.trim())
    onCancelPressed: devicemgr.connectPresent = false

    GridLayout {
        width: parent.width
        columns: 2
        columnSpacing: 2 * Theme.unit
        rowSpacing: 2 * Theme.unit

        TextMain {
            text: qsTr("IP:")
        }

        MyTextField {
            id: ipField

            objectName: "connectForm.ip"
            Layout.fillWidth: true
            focus: true
            placeholderText: "192.168.1.20"
            validator: RegularExpressionValidator { regularExpression: /^\s*\d{1,3}(\.\d{1,3}){3}\s*$/ }
        }

        TextMain {
            text: qsTr("Port:")
        }

        MyTextField {
            id: portField

            objectName: "connectForm.port"
            Layout.fillWidth: true
            text: String(server.defaultPort)
            validator: RegularExpressionValidator { regularExpression: /^\d{1,5}$/ }
        }

        TextMain {
            text: qsTr("Password:")
        }

        MyTextField {
            id: passwordField

            objectName: "connectForm.password"
            Layout.fillWidth: true
            echoMode: TextInput.Password
        }
    }
}
