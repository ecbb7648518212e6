import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import "controls"

// The common form: a title, the fields of the form, and OK and Cancel.
// Return triggers OK when it is enabled; Escape runs the same as Cancel.
MyPopup {
    id: root

    property string title: ""
    property string okText: qsTr("OK")
    property bool isOkEnabled: true
    default property alias fields: fieldArea.data

    signal okPressed()
    signal cancelPressed()

    function tryOk() {
        if (root.isOkEnabled)
            root.okPressed();
    }

    closePolicy: Popup.NoAutoClose
    padding: 4 * Theme.unit

    contentItem: FocusScope {
        objectName: root.objectName
        focus: true
        Keys.onReturnPressed: root.tryOk()
        Keys.onEnterPressed: root.tryOk()
        Keys.onEscapePressed: root.cancelPressed()

        ColumnLayout {
            anchors.fill: parent
            spacing: 3 * Theme.unit

            TextTitle {
                objectName: root.objectName + ".title"
                Layout.fillWidth: true
                text: root.title
            }

            Item {
                id: fieldArea

                Layout.fillWidth: true
                Layout.fillHeight: true
                implicitHeight: childrenRect.height
            }

            RowLayout {
                Layout.alignment: Qt.AlignRight
                spacing: Theme.unit

                SimpleButton {
                    objectName: root.objectName + ".cancel"
                    text: qsTr("Cancel")
                    secondary: true
                    onClicked: root.cancelPressed()
                }

                SimpleButton {
                    objectName: root.objectName + ".ok"
                    text: root.okText
                    enabled: root.isOkEnabled
                    onClicked: root.okPressed()
                }
            }
        }
    }
}
