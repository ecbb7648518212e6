import QtQuick 2.15
import QtQuick.Controls 2.15
import TreeRowsModel 1.0

// A tree drawn as a list: the rows of a tree model flattened by a TreeRows
// model, each row indented by its depth by its own delegate. Rows keep their
// items across updates: a change of a row only updates its bindings.
ListView {
    id: control

    // The tree model to show.
    property alias treeModel: rows.sourceModel
    // The flat rows, for expanding and collapsing by list row.
    readonly property alias rows: rows
    // Pixels of indentation per level.
    property int indentation: 4 * Theme.unit

    clip: true
    reuseItems: true
    boundsBehavior: Flickable.StopAtBounds
    activeFocusOnTab: true
    keyNavigationEnabled: true
    model: rows

    ScrollBar.vertical: ScrollBar {
        policy: ScrollBar.AsNeeded
    }

    TreeRowsModel {
        id: rows
    }
}
