import QtQuick 2.15
import QtQuick.Controls 2.15

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

    Overlay.modal: Rectangle {
        color: Theme.scrim
    }
}
