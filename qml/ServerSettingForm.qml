import QtQuick 2.15
import QtQuick.Layouts 1.15
import "controls"

MySettingForm {
    id: root

    // 1 to 65535, otherwise 0 (the model then takes its default).
    function portValue(text) {
        const n = parseInt(text, 10);
        return n >= 1 && n <= 65535 ? n : 0;
    }

    objectName: "serverSettingForm"
    width: 550
    height: 500
    title: qsTr("IDS_TITLE_SERVER_SETTING")
    isOkEnabled: nameField.text.trim() !== ""
    onOkPressed: {
        if (server.saveMe(nameField.text.trim(), root.portValue(portField.text), passwordField.text.trim()))
            devicemgr.serverSettingPresent = false;
    }
    onCancelPressed: devicemgr.serverSettingPresent = false

    GridLayout {
        width: parent.width
        columns: 2
        columnSpacing: 2 * Theme.unit
        rowSpacing: 2 * Theme.unit

        TextMain {
            text: qsTr("Name:")
        }

        MyTextField {
            id: nameField

            objectName: "serverSettingForm.name"
            Layout.fillWidth: true
            focus: true
            text: server.name
            maximumLength: 64
        }

        TextMain {
            text: qsTr("Port:")
        }

        MyTextField {
            id: portField

            objectName: "serverSettingForm.port"
            Layout.fillWidth: true
            text: String(server.port)
            validator: RegularExpressionValidator { regularExpression: /^\d{1,5}$/ }
        }

        TextMain {
            text: qsTr("Password:")
        }

        MyTextField {
            id: passwordField

            objectName: "serverSettingForm.password"
            Layout.fillWidth: true
            text: server.passcode
            maximumLength: 64
        }
    }
}
