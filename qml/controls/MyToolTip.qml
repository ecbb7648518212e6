import QtQuick 2.15
import QtQuick.Controls 2.15

ToolTip {
    id: control

    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontSub
    delay: 500
}
