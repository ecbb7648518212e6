import QtQuick 2.15
import QtQuick.Window 2.15
import "controls"

// The frameless window's frame: a shadow around a rounded page, and 5-pixel
// bands on the edges and corners that resize the window through the window
// system (or by geometry where it refuses).
Item {
    id: root

    default property alias content: page.data
    readonly property Window win: Window.window
    readonly property bool isMaximized: root.win !== null && root.win.visibility === Window.Maximized
    readonly property int margin: root.isMaximized ? 0 : Theme.shadowSize

    function toggleMaximized() {
        if (root.isMaximized)
            root.win.showNormal();
        else
            root.win.showMaximized();
    }

    objectName: "customWin"

    Repeater {
        model: root.isMaximized ? 0 : Theme.shadowSize

        Rectangle {
            required property int index

            anchors.fill: parent
            anchors.margins: index
            radius: Theme.radiusWindow + Theme.shadowSize - index
            color: "transparent"
            border.width: 1
            border.color: Theme.shadow
            opacity: 0.012 * (index + 1)
        }
    }

    Rectangle {
        id: page

        anchors.fill: parent
        anchors.margins: root.margin
        radius: root.isMaximized ? 0 : Theme.radiusWindow
        color: Theme.page
        border.color: Theme.border
    }

    Repeater {
        model: root.isMaximized ? [] : [
            { key: "top", edges: Qt.TopEdge, cursor: Qt.SizeVerCursor },
            { key: "bottom", edges: Qt.BottomEdge, cursor: Qt.SizeVerCursor },
            { key: "left", edges: Qt.LeftEdge, cursor: Qt.SizeHorCursor },
            { key: "right", edges: Qt.RightEdge, cursor: Qt.SizeHorCursor },
            { key: "topLeft", edges: Qt.TopEdge | Qt.LeftEdge, cursor: Qt.SizeFDiagCursor },
            { key: "bottomRight", edges: Qt.BottomEdge | Qt.RightEdge, cursor: Qt.SizeFDiagCursor },
            { key: "topRight", edges: Qt.TopEdge | Qt.RightEdge, cursor: Qt.SizeBDiagCursor },
            { key: "bottomLeft", edges: Qt.BottomEdge | Qt.LeftEdge, cursor: Qt.SizeBDiagCursor }
        ]

        MouseArea {
            id: band

            required property var modelData
            readonly property int edges: band.modelData.edges
            readonly property bool isTop: (band.edges & Qt.TopEdge) !== 0
            readonly property bool isBottom: (band.edges & Qt.BottomEdge) !== 0
            readonly property bool isLeft: (band.edges & Qt.LeftEdge) !== 0
            readonly property bool isRight: (band.edges & Qt.RightEdge) !== 0
            readonly property bool isCorner: (band.isTop || band.isBottom) && (band.isLeft || band.isRight)
            property bool isManual: false
            property point pressGlobal
            property rect pressGeometry

            objectName: "customWin.resize." + band.modelData.key
            x: band.isRight ? root.width - root.margin : band.isLeft ? root.margin - Theme.resizeBand : root.margin
            y: band.isBottom ? root.height - root.margin : band.isTop ? root.margin - Theme.resizeBand : root.margin
            width: band.isLeft || band.isRight ? Theme.resizeBand + (band.isCorner ? Theme.resizeBand : 0)
                                           : root.width - 2 * root.margin
            height: band.isTop || band.isBottom ? Theme.resizeBand + (band.isCorner ? Theme.resizeBand : 0)
                                            : root.height - 2 * root.margin
            cursorShape: band.modelData.cursor
            onPressed: (mouse) => {
                band.isManual = !root.win.startSystemResize(band.edges);
                band.pressGlobal = band.mapToGlobal(mouse.x, mouse.y);
                band.pressGeometry = Qt.rect(root.win.x, root.win.y, root.win.width, root.win.height);
            }
            onPositionChanged: (mouse) => {
                if (!band.isManual || !band.pressed)
                    return;
                const p = band.mapToGlobal(mouse.x, mouse.y);
                const g = band.pressGeometry;
                const dx = p.x - band.pressGlobal.x;
                const dy = p.y - band.pressGlobal.y;
                if (band.isRight)
                    root.win.width = Math.max(root.win.minimumWidth, g.width + dx);
                if (band.isBottom)
                    root.win.height = Math.max(root.win.minimumHeight, g.height + dy);
                if (band.isLeft) {
                    const w = Math.max(root.win.minimumWidth, g.width - dx);
                    root.win.x = g.x + g.width - w;
                    root.win.width = w;
                }
                if (band.isTop) {
                    const h = Math.max(root.win.minimumHeight, g.height - dy);
                    root.win.y = g.y + g.height - h;
                    root.win.height = h;
                }
            }
            onReleased: band.isManual = false
        }
    }
}
