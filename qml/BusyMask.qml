import QtQuick 2.15
import QtQuick.Controls 2.15
import "controls"

// Covers its parent and swallows input while visible.
Rectangle {
    id: root

    objectName: "busyMask"
    anchors.fill: parent
    color: Theme.busyMask
    z: 100

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => { wheel.accepted = true }
    }

    BusyIndicator {
        anchors.centerIn: parent
        running: root.visible
    }

    Keys.onPressed: (event) => { event.accepted = true }
}
