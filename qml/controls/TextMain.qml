import QtQuick 2.15

Text {
    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontDefault
    color: Theme.text
    elide: Text.ElideRight
}
