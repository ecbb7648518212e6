import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15

// A modal card centred on the window, closed only by its own buttons or Escape.
Popup {
    id: control

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    anchors.centerIn: Overlay.overlay
    padding: 3 * Theme.unit

    background: Rectangle {
        color: Theme.surface
        radius: Theme.radiusWindow
        border.color: Theme.border
    }

    // Dims the window's page only, not the transparent shadow around it.
    Overlay.modal: Item {
        Rectangle {
            id: scrim

            readonly property bool isMaximized: control.Overlay.overlay !== null
                                                && control.Overlay.overlay.Window.visibility === Window.Maximized

            anchors.fill: parent
            anchors.margins: scrim.isMaximized ? 0 : Theme.shadowSize
            radius: scrim.isMaximized ? 0 : Theme.radiusWindow
            color: Theme.scrim
        }
    }
}
