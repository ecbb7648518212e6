import QtQuick 2.15
import "controls"

// A short notice centred at the bottom of the window: fades in, waits, fades
// out, then hides. While one is showing, another show() is ignored.
Rectangle {
    id: root

    readonly property bool isShowing: showAnimation.running
    // The phases of the current (or last) show, in milliseconds.
    property int fadeInMs: 0
    property int waitMs: 0
    property int fadeOutMs: 0

    // Without msl the whole show lasts 1000 ms (320 ms in, 200 ms out);
    // with it, msl ms (a third in, a fifth out).
    function show(text, msl) {
        if (root.isShowing)
            return;
        const total = msl > 0 ? msl : 1000;
        root.fadeInMs = msl > 0 ? Math.round(msl / 3) : 320;
        root.fadeOutMs = msl > 0 ? Math.round(msl / 5) : 200;
        root.waitMs = Math.max(0, total - root.fadeInMs - root.fadeOutMs);
        label.text = text;
        root.visible = true;
        showAnimation.restart();
    }

    objectName: "myToast"
    anchors.horizontalCenter: parent.horizontalCenter
    anchors.bottom: parent.bottom
    anchors.bottomMargin: 6 * Theme.unit
    width: label.implicitWidth + 50
    height: label.implicitHeight + 2 * Theme.unit
    radius: height / 2
    color: Theme.toast
    opacity: 0
    visible: false
    z: 1000

    TextMain {
        id: label

        objectName: "myToast.text"
        anchors.centerIn: parent
        color: Theme.toastText
        textFormat: Text.PlainText
    }

    SequentialAnimation {
        id: showAnimation

        NumberAnimation {
            target: root
            duration: root.fadeInMs
            property: "opacity"
            from: 0
            to: 1
        }

        PauseAnimation {
            duration: root.waitMs
        }

        NumberAnimation {
            target: root
            duration: root.fadeOutMs
            property: "opacity"
            to: 0
        }

        ScriptAction {
            script: root.visible = false
        }
    }
}
