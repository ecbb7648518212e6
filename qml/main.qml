import QtQuick 2.15
import QtQuick.Window 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import QtQuick.Dialogs 1.3
import "controls"

ApplicationWindow {
    id: root

    property var pendingSaveRoot: null

    function showMessageBox(e) {
        const box = messageBoxComponent.createObject(root, { e: e });
        box.open();
    }

    function askSaveRoot(cb) {
        // One folder dialog at a time; a second request is answered as cancelled.
        if (root.pendingSaveRoot !== null) {
            inputcb.callback(cb, []);
            return;
        }
        root.pendingSaveRoot = cb;
        saveRootDialog.open();
    }

    function answerSaveRoot(urls) {
        const cb = root.pendingSaveRoot;
        root.pendingSaveRoot = null;
        inputcb.callback(cb, urls);
    }

    objectName: "main"
    width: 1024
    height: 768
    minimumWidth: 1024
    minimumHeight: 650
    visible: true
    flags: Qt.Window | Qt.FramelessWindowHint
    color: "transparent"
    title: PROD_NAME
    background: null
    font.family: Theme.fontFamily
    font.pixelSize: Theme.fontDefault
    onClosing: (close) => {
        close.accepted = false;
        navUtil.navTodo(engine.quit);
    }
    Component.onCompleted: {
        server.start();
        global.navTo("home.qml");
    }

    Connections {
        target: global

        function onNav(qml, props) {
            navUtil.nav(qml, props);
        }
    }

    Connections {
        target: server

        function onSelectSaveRoot(cb) {
            root.askSaveRoot(cb);
        }
    }

    Connections {
        target: devicemgr

        function onPwdRequest(cb) {
            passwordFormComponent.createObject(root, { cb: cb }).open();
        }
    }

    Connections {
        target: msgboxctx

        function onMsgbox(e) {
            root.showMessageBox(e);
        }
    }

    Connections {
        target: toastctx

        function onToast(text, msl) {
            toast.show(text, msl);
        }
    }

    CustomWin {
        id: frame

        anchors.fill: parent

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 1
            spacing: 0

            MainHeader {
                Layout.fillWidth: true
                frame: frame
                onHelpRequested: helpComponent.createObject(root).open()
                onAboutRequested: aboutComponent.createObject(root).open()
            }

            Line {
                Layout.fillWidth: true
            }

            RowLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                spacing: 0

                MainLeft {
                    Layout.preferredWidth: Theme.leftWidth
                    Layout.fillHeight: true
                    current: navUtil.currentPage && navUtil.currentPage.current !== undefined
                             ? navUtil.currentPage.current : ""
                }

                NavUtil {
                    id: navUtil

                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    focus: true
                }
            }
        }

        MyToast {
            id: toast
        }
    }

    FileDialog {
        id: saveRootDialog

        title: qsTr("IDS_SELECT_SAVE_ROOT")
        selectFolder: true
        selectExisting: true
        selectMultiple: false
        folder: shortcuts.desktop
        onAccepted: root.answerSaveRoot([saveRootDialog.fileUrl])
        onRejected: root.answerSaveRoot([])
    }

    Component {
        id: messageBoxComponent

        MessageBox {}
    }

    Component {
        id: passwordFormComponent

        PassowrdInputForm {}
    }

    Component {
        id: helpComponent

        HelpBox {}
    }

    Component {
        id: aboutComponent

        AboutBox {}
    }
}
