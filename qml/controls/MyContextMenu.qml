import QtQuick 2.15
import QtQuick.Controls 2.15

Menu {
    id: control

    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontDefault
    padding: Theme.unit / 2

    background: Rectangle {
        implicitWidth: 160
        color: Theme.surface
        radius: Theme.radius
        border.color: Theme.border
    }

    delegate: MenuItem {
        id: item

        objectName: control.objectName + "." + (item.action ? item.action.objectName : "")
        font: control.font
        padding: Theme.unit

        background: Rectangle {
            color: item.highlighted ? Theme.hover : Theme.surface
            border.width: item.visualFocus ? Theme.focusWidth : 0
            border.color: Theme.accent
        }
    }
}
