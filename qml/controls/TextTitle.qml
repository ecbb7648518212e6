import QtQuick 2.15

Text {
    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontTitle
    font.bold: true
    color: Theme.text
    elide: Text.ElideRight
}
