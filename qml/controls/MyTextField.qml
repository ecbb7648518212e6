import QtQuick 2.15
import QtQuick.Controls 2.15

TextField {
    id: control

    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontDefault
    color: Theme.text
    selectByMouse: true
    leftPadding: Theme.unit
    rightPadding: Theme.unit
    Accessible.name: control.placeholderText

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 4 * Theme.unit
        radius: Theme.radius
        color: Theme.surface
        border.width: control.activeFocus ? Theme.focusWidth : 1
        border.color: control.activeFocus ? Theme.accent : Theme.border
    }
}
