import QtQuick 2.15

Text {
    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontSub
    color: Theme.textSecondary
    elide: Text.ElideRight
}
