import QtQuick 2.15
import QtQuick.Window 2.15
import "controls"

// Minimise, maximise or restore, and close.
Row {
    id: root

    required property Item frame

    objectName: "winControlBar"

    MyContextMenuBtn {
        objectName: "winControlBar.minimize"
        text: qsTr("Minimize")
        glyph: "\u2014"
        onClicked: root.frame.win.showMinimized()
    }

    MyContextMenuBtn {
        objectName: "winControlBar.maximize"
        text: root.frame.isMaximized ? qsTr("Restore") : qsTr("Maximize")
        glyph: root.frame.isMaximized ? "\u2750" : "\u2610"
        onClicked: root.frame.toggleMaximized()
    }

    MyContextMenuBtn {
        id: closeButton

        objectName: "winControlBar.close"
        text: qsTr("Close")
        glyph: "\u2715"
        hoverColor: Theme.closeHover
        glyphColor: closeButton.hovered ? Theme.textOnAccent : Theme.textSecondary
        onClicked: root.frame.win.close()
    }
}
