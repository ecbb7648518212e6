import QtQuick 2.15
import QtQuick.Controls 2.15

// An icon-only button; draws its icon glyph as text so that no artwork is needed.
AbstractButton {
    id: control

    property string glyph: ""
    property color hoverColor: Theme.hover
    property color glyphColor: Theme.textSecondary

    implicitWidth: 4 * Theme.unit + Theme.unit
    implicitHeight: Theme.headerHeight
    activeFocusOnTab: true
    focusPolicy: Qt.StrongFocus
    Accessible.role: Accessible.Button
    Accessible.name: control.text
    Accessible.onPressAction: control.clicked()
    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    contentItem: Text {
        text: control.glyph
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontDefault
        color: control.glyphColor
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        color: control.down || control.hovered ? control.hoverColor : "transparent"
        border.width: control.visualFocus ? Theme.focusWidth : 0
        border.color: Theme.accent
    }

    MyToolTip {
        visible: control.hovered && control.text !== ""
        text: control.text
    }
}
