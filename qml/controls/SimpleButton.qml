import QtQuick 2.15
import QtQuick.Controls 2.15

Button {
    id: control

    property bool secondary: false
    // White text needs the darker accent (5:1); the lighter one is kept where the look is prescribed.
    property color fill: Theme.accentText

    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontDefault
    font.bold: !control.secondary
    padding: Theme.unit
    leftPadding: 2 * Theme.unit
    rightPadding: 2 * Theme.unit
    Accessible.name: control.text
    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    contentItem: Text {
        text: control.text
        font: control.font
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: control.secondary ? Theme.secondaryButtonText : Theme.textOnAccent
    }

    background: Rectangle {
        implicitWidth: 80
        implicitHeight: 4 * Theme.unit
        radius: Theme.radius
        color: control.secondary ? Theme.secondaryButton : control.fill
        opacity: !control.enabled ? 0.4 : control.down ? 0.8 : control.hovered ? 0.9 : 1
        border.width: control.visualFocus ? Theme.focusWidth : 0
        border.color: control.secondary ? Theme.accentText : Theme.text

        Behavior on opacity {
            NumberAnimation { duration: Theme.durationFast }
        }
    }
}
