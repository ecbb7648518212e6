import QtQuick 2.15
import QtQuick.Controls 2.15

// A check box in the program's colours; the text is optional.
CheckBox {
    id: control

    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontDefault
    padding: Theme.unit / 2
    spacing: Theme.unit
    Accessible.name: control.text
    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    indicator: Rectangle {
        implicitWidth: 2 * Theme.unit + 2
        implicitHeight: 2 * Theme.unit + 2
        x: control.text ? control.leftPadding : control.leftPadding + (control.availableWidth - width) / 2
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: Theme.radius - 1
        color: control.checked ? Theme.accentText : Theme.surface
        opacity: control.enabled ? 1 : 0.4
        border.width: control.visualFocus ? Theme.focusWidth : 1
        border.color: control.visualFocus ? Theme.accent
                    : control.checked ? Theme.accentText : control.hovered ? Theme.accentText : Theme.textMuted

        Text {
            anchors.centerIn: parent
            visible: control.checked
            text: "\u2713"
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontSub
            font.bold: true
            color: Theme.textOnAccent
        }
    }

    contentItem: Text {
        leftPadding: control.indicator.width + control.spacing
        visible: control.text !== ""
        text: control.text
        font: control.font
        color: Theme.text
        elide: Text.ElideRight
        verticalAlignment: Text.AlignVCenter
    }
}
