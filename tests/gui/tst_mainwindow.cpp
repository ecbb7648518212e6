// The window as the program loads it: what start-up publishes, navigation,
// the devices screen's forms, message boxes, toasts, and closing the window.
#include "ScreenTest.h"

#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/MessageBoxContext.h"
#include "ui/ServerModel.h"
#include "ui/ToastContext.h"

#include <QQmlComponent>
#include <QSignalSpy>

using namespace screentest;

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void publishesObjectsAndConstants();
    void declaresTypes_data();
    void declaresTypes();
    void missingMainScreenEndsWithMinusOne();

    void navigation_data();
    void navigation();
    void modelNavigates();
    void missingPageKeepsTheCurrentOne();

    void tileAddress_data();
    void tileAddress();
    void connectFormRules_data();
    void connectFormRules();
    void formKeys();
    void busyMaskSwallowsInput();
    void settingsFormSavesTrimmed();

    void messageBox_data();
    void messageBox();
    void messageBoxButtons();
    void keyboardReachesNavigation();

    void toastTimings_data();
    void toastTimings();
    void toastIgnoresSecondWhileShowing();

    void dragMovesAndResizes_data();
    void dragMovesAndResizes();
    void doubleClickOnHeaderMaximizes();
    void closeWaitsForPage();

private:
    void navTo(const QString &page, const QString &expectedRoot)
    {
        GlobalModel::instance()->navTo(page);
        QTRY_VERIFY(m_screen->item(expectedRoot));
    }
    QString pageName() const
    {
        QObject *page = m_screen->eval("navUtil.currentPage").value<QObject *>();
        return page ? page->objectName() : QString();
    }

    std::unique_ptr<Screen> m_screen;
    QTemporaryDir m_dir;
};

void TestMainWindow::initTestCase()
{
    m_screen = std::make_unique<Screen>();
    QVERIFY(m_screen->window);
    QVERIFY(QTest::qWaitForWindowExposed(m_screen->window));
    QTRY_COMPARE(pageName(), QString("home"));
    QTRY_VERIFY(ServerModel::instance()->httpServer().isListening());
}

void TestMainWindow::cleanup()
{
    // A failed case leaves no form open for the next one.
    DevicesModel::instance()->setConnectPresent(false);
    DevicesModel::instance()->setServerSettingPresent(false);
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestMainWindow::cleanupTestCase()
{
    m_screen.reset();
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestMainWindow::publishesObjectsAndConstants()
{
    const struct {
        const char *name;
        QObject *object;
    } objects[] = {
        {"engine", m_screen->engine.get()},      {"msgboxctx", MessageBoxContext::instance()},
        {"toastctx", ToastContext::instance()},  {"server", ServerModel::instance()},
        {"global", GlobalModel::instance()},     {"taskmgr", TaskMgrModel::instance()},
        {"devicemgr", DevicesModel::instance()}, {"inputcb", InputCallbackModel::instance()},
    };
    for (const auto &o : objects) {
        QVERIFY(o.object);
        QCOMPARE(m_screen->engine->rootContext()->contextProperty(o.name).value<QObject *>(), o.object);
    }
    // Numbers stay numbers and texts texts once they reach the screens.
    QCOMPARE(m_screen->eval("typeof PROD_VERID + ':' + PROD_VERID").toString(), QString("number:1"));
    QCOMPARE(m_screen->eval("typeof PROD_VER + ':' + PROD_VER").toString(), QString("string:3.1.1"));
    QCOMPARE(
        m_screen->eval("[PROD_NAME, PROD_UID, TEXTCOLOR_MAIN, TEXTCOLOR_MAIN2, FONTFAMILY_MAIN, MAIN_COLOR].join()")
            .toString(),
        QString("Tovantic Lanferry,tovantic_lanferry_win,black,#333333,Arial,#02BAFF"));
    QCOMPARE(m_screen
                 ->eval("[FONTSIZE_TITLE1, FONTSIZE_TITLE, FONTSIZE_DEF, FONTSIZE_SUB, FONTSIZE_SUB2, "
                        "FONTSIZE_SUB3].map(v => typeof v + v).join()")
                 .toString(),
             QString("number20,number17,number14,number13,number11,number9"));
    // The window as the screens lay it out.
    QCOMPARE(m_screen->window->size(), QSize(1024, 768));
    QCOMPARE(m_screen->window->minimumSize(), QSize(1024, 650));
    QVERIFY(m_screen->window->flags() & Qt::FramelessWindowHint);
    QCOMPARE(m_screen->item("mainLeft")->width(), 200.0);
    QCOMPARE(m_screen->item("mainHeader")->height(), 30.0);
}

void TestMainWindow::declaresTypes_data()
{
    QTest::addColumn<QString>("type");
    for (const char *type :
         {"MessageBoxContext", "ToastContext", "LanferryUdpServerModel", "DevicesModel", "GlobalModel", "TaskMgrModel",
          "InputCallbackModel", "MyTreeItemModel", "ShareFormModel", "DeviceModel"})
        QTest::newRow(type) << QString(type);
}

void TestMainWindow::declaresTypes()
{
    QFETCH(QString, type);
    QQmlComponent component(m_screen->engine.get());
    component.setData(
        QStringLiteral("import QtQml 2.15\nimport %1 1.0 as T\nQtObject { property var t: T.%1 }").arg(type).toUtf8(),
        QUrl("qrc:/probe.qml"));
    QVERIFY2(component.isReady(), qPrintable(component.errorString()));
}

void TestMainWindow::missingMainScreenEndsWithMinusOne()
{
    QQmlApplicationEngine other;
    DesktopApp::load(other, QUrl("qrc:/qml/no-such-screen.qml"));
    QVERIFY(other.rootObjects().isEmpty());
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, [&loop] { loop.exit(1); });
    QCOMPARE(loop.exec(), -1);
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.join('\n').contains("no-such-screen.qml"), qPrintable(warnings.join('\n')));
}

void TestMainWindow::navigation_data()
{
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<QString>("page");
    QTest::newRow("left bar to devices") << QStringList{"mainLeft.devices"} << "devices";
    QTest::newRow("left bar back home") << QStringList{"mainLeft.devices", "mainLeft.home"} << "home";
    QTest::newRow("home tile") << QStringList{"mainLeft.home", "home.tile.devices"} << "devices";
    QTest::newRow("header menu") << QStringList{"mainLeft.home", "mainHeader.menu", "mainHeader.menu.devices"}
                                 << "devices";
}

void TestMainWindow::navigation()
{
    QFETCH(QStringList, presses);
    QFETCH(QString, page);
    navTo("home.qml", "home");
    for (const QString &name : presses) {
        QQuickItem *item = nullptr;
        QTRY_VERIFY((item = m_screen->item(name)));
        click(item);
    }
    QTRY_COMPARE(pageName(), page);
    // Exactly the page's button is highlighted.
    for (const char *key : {"home", "devices", "share", "tasks"}) {
        QQuickItem *button = m_screen->item(QString("mainLeft.") + key);
        QVERIFY(button);
        QCOMPARE(button->property("isCurrent").toBool(), page == key);
    }
}

void TestMainWindow::modelNavigates()
{
    navTo("home.qml", "home");
    GlobalModel::instance()->navTo("Devices.qml", {});
    QTRY_COMPARE(pageName(), QString("devices"));
    QCOMPARE(m_screen->item("mainLeft.devices")->property("isCurrent").toBool(), true);
}

void TestMainWindow::tileAddress_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("label");
    QTest::newRow("default port") << 20168 << "10.0.0.7";
    QTest::newRow("other port") << 20169 << "10.0.0.7:20169";
}

void TestMainWindow::tileAddress()
{
    QFETCH(int, port);
    QFETCH(QString, label);
    navTo("Devices.qml", "devices");
    QCOMPARE(m_screen->eval(QString("navUtil.currentPage.addressOf('10.0.0.7', %1)").arg(port)).toString(), label);
}

void TestMainWindow::missingPageKeepsTheCurrentOne()
{
    navTo("Devices.qml", "devices");
    GlobalModel::instance()->navTo("NoSuchPage.qml");
    const QStringList warnings = takeWarnings();
    QVERIFY2(!warnings.filter("NoSuchPage.qml").isEmpty(), qPrintable(warnings.join('\n')));
    QCOMPARE(pageName(), QString("devices"));
    QVERIFY(m_screen->item("devices.tile.add"));
}

void TestMainWindow::connectFormRules_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("okEnabled");
    QTest::newRow("address on the default port") << "10.0.0.7"
                                                 << "20168" << true;
    QTest::newRow("highest port") << "10.0.0.7"
                                  << "65535" << true;
    QTest::newRow("port 0") << "10.0.0.7"
                            << "0" << false;
    QTest::newRow("port 70000") << "10.0.0.7"
                                << "70000" << false;
    QTest::newRow("no port") << "10.0.0.7"
                             << "" << false;
    QTest::newRow("three groups") << "10.0.0"
                                  << "20168" << false;
    QTest::newRow("a letter is refused") << "10.0.0.x"
                                         << "20168" << false;
    QTest::newRow("surrounding blanks") << " 10.0.0.7 "
                                        << "20168" << true;
}

void TestMainWindow::connectFormRules()
{
    QFETCH(QString, ip);
    QFETCH(QString, port);
    QFETCH(bool, okEnabled);
    navTo("Devices.qml", "devices");
    QQuickItem *add = nullptr;
    QTRY_VERIFY((add = m_screen->item("devices.tile.add")));
    click(add);
    QTRY_VERIFY(m_screen->item("connectForm.ip"));
    QVERIFY(DevicesModel::instance()->connectPresent());
    QCOMPARE(m_screen->item("connectForm.port")->property("text").toString(), QString("20168"));
    typeInto(m_screen->item("connectForm.ip"), ip);
    typeInto(m_screen->item("connectForm.port"), port);
    QCOMPARE(m_screen->item("connectForm.ok")->isEnabled(), okEnabled);
    click(m_screen->item("connectForm.cancel"));
    QTRY_VERIFY(!m_screen->item("connectForm"));
    QVERIFY(!DevicesModel::instance()->connectPresent());
}

void TestMainWindow::formKeys()
{
    // Tab reaches the next field, Escape works as Cancel, and the first field
    // has the focus when a form opens.
    navTo("Devices.qml", "devices");
    click(m_screen->item("devices.appearAs"));
    QQuickItem *name = nullptr;
    QTRY_VERIFY((name = m_screen->item("serverSettingForm.name")));
    QTRY_VERIFY(name->hasActiveFocus());
    QTest::keyClick(m_screen->window, Qt::Key_Tab);
    QTRY_VERIFY(m_screen->item("serverSettingForm.port")->hasActiveFocus());
    QTest::keyClick(m_screen->window, Qt::Key_Escape);
    QTRY_VERIFY(!m_screen->item("serverSettingForm"));
    QVERIFY(!DevicesModel::instance()->serverSettingPresent());
}

void TestMainWindow::busyMaskSwallowsInput()
{
    navTo("Devices.qml", "devices");
    QVERIFY(!m_screen->item("busyMask"));
    DevicesModel::instance()->setIsLoading(true);
    QTRY_VERIFY(m_screen->item("busyMask"));
    click(m_screen->item("devices.tile.add"));
    QVERIFY(!DevicesModel::instance()->connectPresent());
    DevicesModel::instance()->setIsLoading(false);
    QTRY_VERIFY(!m_screen->item("busyMask"));
    click(m_screen->item("devices.tile.add"));
    QVERIFY(DevicesModel::instance()->connectPresent());
}

void TestMainWindow::settingsFormSavesTrimmed()
{
    ServerModel *server = ServerModel::instance();
    const int port = server->port();
    navTo("Devices.qml", "devices");
    click(m_screen->item("devices.appearAs"));
    QTRY_VERIFY(m_screen->item("serverSettingForm.name"));
    QCOMPARE(m_screen->item("serverSettingForm.port")->property("text").toString(), QString::number(port));
    typeInto(m_screen->item("serverSettingForm.name"), "  desk  ");
    typeInto(m_screen->item("serverSettingForm.password"), " pw ");
    // Blank names are refused here; the port is left to the model.
    typeInto(m_screen->item("serverSettingForm.name"), "   ");
    QVERIFY(!m_screen->item("serverSettingForm.ok")->isEnabled());
    typeInto(m_screen->item("serverSettingForm.name"), "  desk  ");
    QVERIFY(m_screen->item("serverSettingForm.ok")->isEnabled());
    QTest::keyClick(m_screen->window, Qt::Key_Return);
    QTRY_VERIFY(!m_screen->item("serverSettingForm"));
    QCOMPARE(server->name(), QString("desk"));
    QCOMPARE(server->passcode(), QString("pw"));
    QCOMPARE(server->port(), port);
    QTRY_COMPARE(m_screen->item("devices.appearAs.name")->property("text").toString(), QString("desk"));
    QCOMPARE(m_screen->item("devices.appearAs.password")->property("text").toString(), QString("Password: pw"));
}

void TestMainWindow::messageBox_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("msg");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("image");
    QTest::newRow("title and message") << "Title"
                                       << "Body" << int(MessageBoxContext::Warning) << "Title<br/>Body"
                                       << "qrc:/res/icon_warning.png";
    QTest::newRow("message only") << ""
                                  << "Body" << int(MessageBoxContext::Question) << "Body"
                                  << "qrc:/res/icon_question.png";
    QTest::newRow("title only") << "Title"
                                << "" << int(MessageBoxContext::Error) << "Title"
                                << "qrc:/res/icon_error.png";
    QTest::newRow("success") << ""
                             << "Done" << int(MessageBoxContext::Suc) << "Done"
                             << "qrc:/res/icon_suc.png";
    QTest::newRow("alert") << ""
                           << "Note" << int(MessageBoxContext::Alert) << "Note"
                           << "qrc:/res/icon_alert.png";
}

void TestMainWindow::messageBox()
{
    QFETCH(QString, title);
    QFETCH(QString, msg);
    QFETCH(int, icon);
    QFETCH(QString, text);
    QFETCH(QString, image);
    int pressed = 0;
    showOkBox(MessageBoxContext::instance(), title, msg, MessageBoxContext::CallBack([&] { ++pressed; }),
              MessageBoxContext::Icon(icon));
    QQuickItem *label = nullptr;
    QTRY_VERIFY((label = m_screen->item("messageBox.text")));
    QCOMPARE(label->property("text").toString(), text);
    QCOMPARE(m_screen->item("messageBox.icon")->property("source").toUrl(), QUrl(image));
    QTRY_COMPARE(m_screen->item("messageBox.icon")->property("status").toInt(), 1 /* Image.Ready */);
    click(m_screen->item("messageBox.button.0"));
    QTRY_VERIFY(!m_screen->item("messageBox"));
    QCOMPARE(pressed, 1);
}

void TestMainWindow::messageBoxButtons()
{
    QStringList pressed;
    const auto note = [&pressed](const QString &what) {
        return MessageBoxContext::CallBack([&pressed, what] { pressed << what; });
    };
    showMessageBox(MessageBoxContext::instance(), "Keep?", "", MessageBoxContext::Question,
                   {{MessageBoxContext::Yes, "Keep", note("yes")},
                    {MessageBoxContext::No, "Drop", note("no")},
                    {MessageBoxContext::Cancel, "Later", note("cancel")}});
    QQuickItem *yes = nullptr;
    QTRY_VERIFY((yes = m_screen->item("messageBox.button.0")));
    QQuickItem *no = m_screen->item("messageBox.button.1");
    QQuickItem *cancel = m_screen->item("messageBox.button.2");
    QCOMPARE(yes->property("text").toString(), QString("Keep"));
    QCOMPARE(no->property("text").toString(), QString("Drop"));
    QCOMPARE(yes->property("secondary").toBool(), false);
    QCOMPARE(no->property("secondary").toBool(), true);
    QCOMPARE(cancel->property("secondary").toBool(), true);
    QCOMPARE(yes->width(), 80.0);
    click(no);
    QTRY_VERIFY(!m_screen->item("messageBox"));
    QCOMPARE(pressed, QStringList{"no"});

    // Enter presses the first button, which has the focus.
    showYesNoBox(MessageBoxContext::instance(), "", "Again?", note("yes"), note("no"));
    QTRY_VERIFY(m_screen->item("messageBox.button.0"));
    QTRY_VERIFY(m_screen->item("messageBox.button.0")->hasActiveFocus());
    QTest::keyClick(m_screen->window, Qt::Key_Return);
    QTRY_VERIFY(!m_screen->item("messageBox"));
    QCOMPARE(pressed, (QStringList{"no", "yes"}));
}

void TestMainWindow::keyboardReachesNavigation()
{
    navTo("home.qml", "home");
    QQuickItem *devices = m_screen->item("mainLeft.devices");
    for (int i = 0; i < 20 && !devices->hasActiveFocus(); ++i)
        QTest::keyClick(m_screen->window, Qt::Key_Tab);
    QVERIFY(devices->hasActiveFocus());
    QVERIFY(devices->property("visualFocus").toBool()); // the ring shows
    QTest::keyClick(m_screen->window, Qt::Key_Return);
    QTRY_COMPARE(pageName(), QString("devices"));

    // Escape answers a box with its last button.
    QStringList pressed;
    showYesNoBox(MessageBoxContext::instance(), "", "Sure?",
                 MessageBoxContext::CallBack([&pressed] { pressed << "yes"; }),
                 MessageBoxContext::CallBack([&pressed] { pressed << "no"; }));
    QTRY_VERIFY(m_screen->item("messageBox.button.0"));
    QTRY_VERIFY(m_screen->item("messageBox.button.0")->hasActiveFocus());
    QTest::keyClick(m_screen->window, Qt::Key_Escape);
    QTRY_VERIFY(!m_screen->item("messageBox"));
    QCOMPARE(pressed, QStringList{"no"});
}

void TestMainWindow::toastTimings_data()
{
    QTest::addColumn<int>("msl");
    QTest::addColumn<int>("fadeIn");
    QTest::addColumn<int>("wait");
    QTest::addColumn<int>("fadeOut");
    QTest::newRow("default") << 0 << 320 << 480 << 200;
    QTest::newRow("given time") << 1500 << 500 << 700 << 300;
    QTest::newRow("too short to wait") << 4 << 1 << 2 << 1;
}

void TestMainWindow::toastTimings()
{
    QFETCH(int, msl);
    QFETCH(int, fadeIn);
    QFETCH(int, wait);
    QFETCH(int, fadeOut);
    emit ToastContext::instance()->toast(QStringLiteral("Saved"), msl);
    QQuickItem *toast = nullptr;
    QTRY_VERIFY((toast = m_screen->item("myToast")));
    QCOMPARE(m_screen->item("myToast.text")->property("text").toString(), QString("Saved"));
    QCOMPARE(toast->property("fadeInMs").toInt(), fadeIn);
    QCOMPARE(toast->property("waitMs").toInt(), wait);
    QCOMPARE(toast->property("fadeOutMs").toInt(), fadeOut);
    QCOMPARE(toast->width(), m_screen->item("myToast.text")->implicitWidth() + 50);
    QTRY_VERIFY(!m_screen->item("myToast"));
}

void TestMainWindow::toastIgnoresSecondWhileShowing()
{
    emit ToastContext::instance()->toast(QStringLiteral("first"), 600);
    QTRY_VERIFY(m_screen->item("myToast"));
    emit ToastContext::instance()->toast(QStringLiteral("second"), 600);
    QCOMPARE(m_screen->item("myToast.text")->property("text").toString(), QString("first"));
    QTRY_VERIFY(!m_screen->item("myToast"));
}

void TestMainWindow::dragMovesAndResizes_data()
{
    // Offscreen, the window system refuses to move or resize: the window
    // falls back to its geometry.
    QTest::addColumn<QString>("handle");
    QTest::addColumn<QPoint>("drag");
    QTest::addColumn<QRect>("change"); // of x, y, width, height
    QTest::newRow("header moves") << "mainHeader" << QPoint(40, 30) << QRect(40, 30, 0, 0);
    QTest::newRow("right edge") << "customWin.resize.right" << QPoint(60, 5) << QRect(0, 0, 60, 0);
    QTest::newRow("bottom edge") << "customWin.resize.bottom" << QPoint(5, 50) << QRect(0, 0, 0, 50);
    QTest::newRow("left edge") << "customWin.resize.left" << QPoint(-30, 5) << QRect(-30, 0, 30, 0);
    QTest::newRow("top-left corner") << "customWin.resize.topLeft" << QPoint(-20, -10) << QRect(-20, -10, 20, 10);
    QTest::newRow("not below the minimum")
        << "customWin.resize.bottomRight" << QPoint(-200, -200) << QRect(0, 0, 0, -118);
}

void TestMainWindow::dragMovesAndResizes()
{
    QFETCH(QString, handle);
    QFETCH(QPoint, drag);
    QFETCH(QRect, change);
    QQuickWindow *window = m_screen->window;
    const QRect before(100, 100, 1024, 768);
    window->setGeometry(before);
    QTRY_COMPARE(window->geometry(), before);
    QQuickItem *item = m_screen->item(handle);
    QVERIFY(item && QQuickTest::qWaitForItemPolished(item));
    const QPoint from = item->mapToScene({item->width() / 2, item->height() / 2}).toPoint();
    // The pointer moves on the screen; the window under it may move too.
    const QPoint fromOnScreen = window->mapToGlobal(from);
    const auto local = [window](const QPoint &onScreen) { return onScreen - window->position(); };
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, from);
    // In steps, as a hand moves: the first ones only pass the drag threshold.
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(window, local(fromOnScreen + drag * step / 4));
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, local(fromOnScreen + drag));
    const QRect expected(before.x() + change.x(), before.y() + change.y(), before.width() + change.width(),
                         before.height() + change.height());
    QTRY_COMPARE(window->geometry(), expected);
}

void TestMainWindow::doubleClickOnHeaderMaximizes()
{
    QQuickItem *header = m_screen->item("mainHeader");
    const QPoint at = header->mapToScene({header->width() / 2, header->height() / 2}).toPoint();
    QTest::mouseDClick(m_screen->window, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_COMPARE(m_screen->window->visibility(), QWindow::Maximized);
    QTRY_COMPARE(m_screen->item("customWin.resize.right"), nullptr); // no resizing while maximised
    QTest::mouseDClick(m_screen->window, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_COMPARE(m_screen->window->visibility(), QWindow::Windowed);
}

void TestMainWindow::closeWaitsForPage()
{
    // A page that finishes its own work first: it keeps the continuation.
    QFile page(m_dir.path() + "/WaitingPage.qml");
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("import QtQuick 2.15\n"
               "Item { objectName: \"waitingPage\"; property var pending: null\n"
               "       function nav(f) { pending = f } }\n");
    page.close();
    GlobalModel::instance()->navTo(QUrl::fromLocalFile(page.fileName()).toString());
    QTRY_COMPARE(pageName(), QString("waitingPage"));
    QSignalSpy quit(m_screen->engine.get(), &QQmlEngine::quit);

    click(m_screen->item("winControlBar.close"));
    QObject *waiting = m_screen->eval("navUtil.currentPage").value<QObject *>();
    QTRY_VERIFY(waiting->property("pending").value<QJSValue>().isCallable());
    QVERIFY(m_screen->window->isVisible());
    QCOMPARE(quit.count(), 0);
    m_screen->eval("navUtil.currentPage.pending()");
    QCOMPARE(quit.count(), 1);

    // Leaving the page waits the same way.
    GlobalModel::instance()->navTo("home.qml");
    QTRY_VERIFY(waiting->property("pending").value<QJSValue>().isCallable());
    QCOMPARE(pageName(), QString("waitingPage"));
    m_screen->eval("navUtil.currentPage.pending()");
    QTRY_COMPARE(pageName(), QString("home"));
}

SCREEN_TEST_MAIN(TestMainWindow, "me")
#include "tst_mainwindow.moc"
