import QtQuick 2.15
import QtQuick.Layouts 1.15
import "controls"

// Asks again for a device's password; OK hands it back to the model that asked.
MySettingForm {
    id: root

    required property var cb

    objectName: "passowrdInputForm"
    width: 450
    height: 300
    title: qsTr("IDS_TITLE_CONNECTION_INVALID_PASSWORD")
    okText: qsTr("Connect")
    isOkEnabled: passwordField.text.trim() !== ""
    onOkPressed: {
        inputcb.callback(root.cb, [passwordField.text.trim()]);
        root.close();
    }
    onCancelPressed: root.close()
    onClosed: root.destroy()

    RowLayout {
        width: parent.width
        spacing: 2 * Theme.unit

        TextMain {
            text: qsTr("Password:")
        }

        MyTextField {
            id: passwordField

            objectName: "passowrdInputForm.password"
            Layout.fillWidth: true
            focus: true
            echoMode: TextInput.Password
        }
    }
}
