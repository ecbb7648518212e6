import QtQuick 2.15
import QtQuick.Controls 2.15

// An on/off switch in the program's colours.
Switch {
    id: control

    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontDefault
    padding: Theme.unit / 2
    spacing: Theme.unit
    Accessible.name: control.text
    Keys.onReturnPressed: control.toggle()
    Keys.onEnterPressed: control.toggle()

    indicator: Rectangle {
        implicitWidth: 5 * Theme.unit
        implicitHeight: 2.5 * Theme.unit
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: height / 2
        color: control.checked ? Theme.accentText : Theme.secondaryButton
        opacity: control.enabled ? 1 : 0.4
        border.width: control.visualFocus ? Theme.focusWidth : 0
        border.color: Theme.accent

        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            anchors.verticalCenter: parent.verticalCenter
            width: parent.height - 4
            height: width
            radius: width / 2
            color: Theme.surface

            Behavior on x {
                NumberAnimation { duration: Theme.durationFast }
            }
        }
    }

    contentItem: Text {
        leftPadding: control.indicator.width + control.spacing
        text: control.text
        font: control.font
        color: Theme.text
        verticalAlignment: Text.AlignVCenter
    }
}
