pragma Singleton
import QtQuick 2.15

QtObject {
    readonly property color accent: MAIN_COLOR
    readonly property color accentText: "#0077A8"
    readonly property color accentTint: "#E6F7FF"
    readonly property color text: TEXTCOLOR_MAIN
    readonly property color textSecondary: TEXTCOLOR_MAIN2
    readonly property color textMuted: "#5C6370"
    readonly property color error: "#C42B1C"
    readonly property color page: "#FBFBFE"
    readonly property color surface: "white"
    readonly property color sidebar: "#F2F4F8"
    readonly property color border: "#E1E4EA"
    readonly property color hover: "#EEF1F6"
    readonly property color secondaryButton: "#D7D9DE"
    readonly property color secondaryButtonText: "#444E63"
    readonly property color textOnAccent: "white"
    readonly property color closeHover: "#E81123"
    readonly property color shadow: "black"
    readonly property color scrim: "#66000000"
    readonly property color toast: "#E6222222"
    readonly property color toastText: "white"
    readonly property color busyMask: "#99FBFBFE"
    readonly property string fontFamily: FONTFAMILY_MAIN
    readonly property int fontTitle1: FONTSIZE_TITLE1
    readonly property int fontTitle: FONTSIZE_TITLE
    readonly property int fontDefault: FONTSIZE_DEF
    readonly property int fontSub: FONTSIZE_SUB
    readonly property int fontSub2: FONTSIZE_SUB2
    readonly property int fontSub3: FONTSIZE_SUB3
    readonly property int unit: 8
    readonly property int radius: 4
    readonly property int radiusWindow: 10
    readonly property int shadowSize: 10
    readonly property int resizeBand: 5
    readonly property int headerHeight: 30
    readonly property int leftWidth: 200
    readonly property int tileSize: 125
    readonly property int deviceIconSize: 64
    readonly property int boxIconSize: 40
    readonly property int boxButtonWidth: 80
    readonly property int focusWidth: 2
    readonly property bool animationsEnabled: Qt.platform.pluginName !== "offscreen"
    readonly property int durationFast: animationsEnabled ? 120 : 0
    readonly property int durationNormal: animationsEnabled ? 200 : 0
    readonly property string appIcon: "qrc:/res/app-icon.svg"
}
