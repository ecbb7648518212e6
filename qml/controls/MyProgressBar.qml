import QtQuick 2.15
import QtQuick.Controls 2.15

// A thin progress bar from 0 to 100; the value changes without animation
// because the models already batch their updates.
ProgressBar {
    id: control

    from: 0
    to: 100

    background: Rectangle {
        implicitWidth: 20 * Theme.unit
        implicitHeight: Theme.unit - 2
        radius: height / 2
        color: Theme.border
    }

    contentItem: Item {
        implicitWidth: 20 * Theme.unit
        implicitHeight: Theme.unit - 2

        Rectangle {
            width: control.visualPosition * parent.width
            height: parent.height
            radius: height / 2
            color: Theme.accentText
        }
    }
}
