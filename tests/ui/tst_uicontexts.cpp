// Message boxes, toasts, input callbacks and the global model, driven the way
// the screens drive them: read the emitted request, press a button, hand back
// a callback with the user's values.
#include "ui/GlobalModel.h"
#include "ui/InputCallbackModel.h"
#include "ui/MessageBoxContext.h"
#include "ui/MessageBoxRequest.h"
#include "ui/ToastContext.h"

#include <QDesktopServices>
#include <QtTest>

#include <thread>

// Stands in for the desktop's handler of file URLs.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void handle(const QUrl &url) { urls << url; }
};

class TestUiContexts : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void yesNoBox();
    void okBoxes_data();
    void okBoxes();
    void buttonsKeepTheirOrder();
    void boxFromWorkerReachesUserInterfaceThread();
    void toast();
    void inputCallback();
    void deviceIcon_data();
    void deviceIcon();
    void navTo();
    void openExistingPaths_data();
    void openExistingPaths();
    void openMissingWarns_data();
    void openMissingWarns();

private:
    MessageBoxContext *ctx() { return MessageBoxContext::instance(); }
    MessageBoxRequest onlyBox()
    {
        if (m_boxes->count() != 1)
            return MessageBoxRequest();
        return MessageBoxRequest::fromMap(m_boxes->takeFirst().at(0).toMap());
    }
    QSignalSpy *m_boxes = nullptr;
    UrlCatcher m_catcher;
    QTemporaryDir m_dir;
};

void TestUiContexts::init()
{
    m_boxes = new QSignalSpy(ctx(), &MessageBoxContext::msgbox);
    m_catcher.urls.clear();
    QDesktopServices::setUrlHandler("file", &m_catcher, "handle");
}

void TestUiContexts::cleanup()
{
    QDesktopServices::unsetUrlHandler("file");
    delete m_boxes;
    m_boxes = nullptr;
}

void TestUiContexts::yesNoBox()
{
    QStringList pressed;
    showYesNoBox(ctx(), "Title", "Proceed?", MessageBoxContext::CallBack([&] { pressed << "yes"; }),
                 MessageBoxContext::CallBack([&] { pressed << "no"; }));
    const MessageBoxRequest box = onlyBox();
    QCOMPARE(box.title, QString("Title"));
    QCOMPARE(box.msg, QString("Proceed?"));
    QCOMPARE(box.icon, int(MessageBoxContext::Question));
    QCOMPARE(box.roles(), QList<int>({4, 8}));
    QCOMPARE(box.buttons.at(0).label, QString("Yes"));
    QCOMPARE(box.buttons.at(1).label, QString("No"));

    QVERIFY(box.press(MessageBoxContext::No, ctx()));
    QCOMPARE(pressed, QStringList{"no"});
    QVERIFY(box.press(MessageBoxContext::Yes, ctx()));
    QCOMPARE(pressed, QStringList({"no", "yes"}));
    QVERIFY(!box.press(MessageBoxContext::OK, ctx()));

    // The map as emitted holds exactly the keys the screens read.
    showYesNoBox(ctx(), "", "m", {}, {}, MessageBoxContext::Warning, "Go", "Stay");
    const QVariantMap raw = m_boxes->takeFirst().at(0).toMap();
    QCOMPARE(raw.keys(), QStringList({"buttonNames", "buttons", "cbs", "icon", "msg", "title"}));
    QCOMPARE(raw.value("buttons").toList(), QVariantList({4, 8}));
    QCOMPARE(raw.value("buttonNames").toStringList(), QStringList({"Go", "Stay"}));
    QCOMPARE(raw.value("icon").toInt(), 2);
}

void TestUiContexts::okBoxes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("shownLabel");
    QTest::newRow("ok") << "ok"
                        << "" << int(MessageBoxContext::Alert) << "OK";
    QTest::newRow("ok, success icon") << "ok-suc"
                                      << "Fine" << int(MessageBoxContext::Suc) << "Fine";
    QTest::newRow("warning") << "warning"
                             << "" << int(MessageBoxContext::Warning) << "OK";
    QTest::newRow("error") << "error"
                           << "Close" << int(MessageBoxContext::Error) << "Close";
}

void TestUiContexts::okBoxes()
{
    QFETCH(QString, kind);
    QFETCH(QString, label);
    QFETCH(int, icon);
    QFETCH(QString, shownLabel);
    int runs = 0;
    const MessageBoxContext::CallBack cb([&] { ++runs; });
    if (kind == "ok")
        showOkBox(ctx(), "t", "m", cb, MessageBoxContext::Alert, label);
    else if (kind == "ok-suc")
        showOkBox(ctx(), "t", "m", cb, MessageBoxContext::Suc, label);
    else if (kind == "warning")
        showWarningBox(ctx(), "t", "m", cb, label);
    else
        showErrorBox(ctx(), "t", "m", cb, label);
    const MessageBoxRequest box = onlyBox();
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.roles(), QList<int>{1});
    QCOMPARE(box.buttons.first().label, shownLabel);
    QVERIFY(box.press(MessageBoxContext::OK, ctx()));
    QCOMPARE(runs, 1);

    // No callback: pressing the button does nothing, and no box without a context.
    showWarningBox(ctx(), "", "m");
    QVERIFY(onlyBox().press(MessageBoxContext::OK, ctx()));
    showErrorBox(nullptr, "", "m");
    QCOMPARE(m_boxes->count(), 0);
}

void TestUiContexts::buttonsKeepTheirOrder()
{
    QString pressed;
    showMessageBox(ctx(), "t", "m", MessageBoxContext::Question,
                   {{MessageBoxContext::Cancel, "C", MessageBoxContext::CallBack([&] { pressed = "C"; })},
                    {MessageBoxContext::Yes, "Y", MessageBoxContext::CallBack([&] { pressed = "Y"; })},
                    {MessageBoxContext::OK, "O", {}}});
    const MessageBoxRequest box = onlyBox();
    QCOMPARE(box.roles(), QList<int>({2, 4, 1}));
    QCOMPARE(box.buttons.at(1).label, QString("Y"));
    QVERIFY(box.press(MessageBoxContext::Cancel, ctx()));
    QCOMPARE(pressed, QString("C"));

    // A screen hands the callback back through the invokable, by name.
    QVERIFY(QMetaObject::invokeMethod(ctx(), "callBack", Q_ARG(MessageBoxContext::CallBack, box.buttons.at(1).cb)));
    QCOMPARE(pressed, QString("Y"));
}

void TestUiContexts::boxFromWorkerReachesUserInterfaceThread()
{
    // A screen-side receiver living on this thread.
    QObject screen;
    QList<MessageBoxRequest> shown;
    connect(ctx(), &MessageBoxContext::msgbox, &screen,
            [&](const QVariantMap &e) { shown << MessageBoxRequest::fromMap(e); });
    QThread *ranOn = nullptr;
    std::thread([&] {
        showOkBox(MessageBoxContext::instance(), "", "from a worker",
                  MessageBoxContext::CallBack([&] { ranOn = QThread::currentThread(); }));
    }).join();
    QTRY_COMPARE(shown.size(), 1);
    QCOMPARE(shown.first().msg, QString("from a worker"));
    QVERIFY(shown.first().press(MessageBoxContext::OK, ctx()));
    QCOMPARE(ranOn, QThread::currentThread());
    m_boxes->clear();
}

void TestUiContexts::toast()
{
    ToastContext *toasts = ToastContext::instance();
    QVERIFY(toasts);
    QObject screen;
    QList<QPair<QString, int>> shown;
    connect(toasts, &ToastContext::toast, &screen,
            [&](const QString &text, int msl) { shown << qMakePair(text, msl); });
    std::thread([] { emit ToastContext::instance()->toast("saved", 2000); }).join();
    QTRY_COMPARE(shown.size(), 1);
    QCOMPARE(shown.first(), qMakePair(QString("saved"), 2000));
}

void TestUiContexts::inputCallback()
{
    InputCallbackModel *input = InputCallbackModel::instance();
    QVERIFY(input);
    QVERIFY(QMetaType::type("InputCallbackModel::Callback") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("MessageBoxContext::CallBack") != QMetaType::UnknownType);

    // Like the folder dialog: a chosen folder, then a cancel with no values.
    QStringList answers;
    const InputCallbackModel::Callback cb([&](const QVariantList &params) {
        answers << (params.isEmpty() ? QString("<cancelled>") : params.value(0).toString());
    });
    const QVariant carried = QVariant::fromValue(cb); // as it travels through a signal and QML
    QVERIFY(QMetaObject::invokeMethod(
        input, "callback", Q_ARG(InputCallbackModel::Callback, carried.value<InputCallbackModel::Callback>()),
        Q_ARG(QVariantList, QVariantList{"/tmp/save"})));
    input->callback(cb, {});
    QCOMPARE(answers, QStringList({"/tmp/save", "<cancelled>"}));

    // An empty callback does nothing.
    input->callback(InputCallbackModel::Callback(), {"x"});
    QCOMPARE(answers.size(), 2);
}

void TestUiContexts::deviceIcon_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("icon");
    QTest::newRow("mac") << "mac"
                         << "qrc:/res/mac-device.png";
    QTest::newRow("android") << "android"
                             << "qrc:/res/android-device.png";
    QTest::newRow("ios") << "ios"
                         << "qrc:/res/iphone-device.png";
    QTest::newRow("case matters") << "Mac"
                                  << "qrc:/res/win-device.png";
    QTest::newRow("win") << "win"
                         << "qrc:/res/win-device.png";
    QTest::newRow("empty") << ""
                           << "qrc:/res/win-device.png";
}

void TestUiContexts::deviceIcon()
{
    QFETCH(QString, type);
    QFETCH(QString, icon);
    QCOMPARE(GlobalModel::instance()->deviceIcon(type), icon);
    QCOMPARE(GlobalModel::instance()->serverIcon(), QString("qrc:/res/win-device.png"));
}

void TestUiContexts::navTo()
{
    GlobalModel *global = GlobalModel::instance();
    QSignalSpy nav(global, &GlobalModel::nav);
    global->navTo("Tasks.qml");
    global->navTo("Device.qml", {{"devItem", 7}});
    QCOMPARE(nav.count(), 2);
    QCOMPARE(nav.at(0).at(0).toString(), QString("Tasks.qml"));
    QVERIFY(nav.at(0).at(1).toMap().isEmpty());
    QCOMPARE(nav.at(1).at(1).toMap(), (QVariantMap{{"devItem", 7}}));
}

void TestUiContexts::openExistingPaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asUrl");
    QTest::newRow("file") << "plain.txt" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("awkward name") << "a \"quoted\" & #1 %20.txt" << false;
    QTest::newRow("file url") << "plain.txt" << true;
}

void TestUiContexts::openExistingPaths()
{
    QFETCH(QString, name);
    QFETCH(bool, asUrl);
    const QString path = m_dir.filePath(name);
    if (name == "folder")
        QVERIFY(QDir().mkpath(path));
    else {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    if (asUrl)
        GlobalModel::instance()->openUrl(QUrl::fromLocalFile(path));
    else
        GlobalModel::instance()->open(path);
    QCOMPARE(m_catcher.urls.size(), 1);
    QCOMPARE(m_catcher.urls.first().toLocalFile(), path);
    QCOMPARE(m_boxes->count(), 0);
}

void TestUiContexts::openMissingWarns_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("asUrl");
    QTest::newRow("missing file") << "missing.txt" << false;
    QTest::newRow("empty path") << "" << false;
    QTest::newRow("https url") << "https://example.org/a.txt" << true;
    QTest::newRow("missing file url") << "file:///no/such/file" << true;
}

void TestUiContexts::openMissingWarns()
{
    QFETCH(QString, target);
    QFETCH(bool, asUrl);
    if (asUrl)
        GlobalModel::instance()->openUrl(QUrl(target));
    else
        GlobalModel::instance()->open(target.isEmpty() ? target : m_dir.filePath(target));
    QCOMPARE(m_catcher.urls.size(), 0);
    const MessageBoxRequest box = onlyBox();
    QCOMPARE(box.title, QString());
    QCOMPARE(box.msg, QString("IDS_FILE_NOT_EXISTS")); // no catalogue installed here
    QCOMPARE(box.icon, int(MessageBoxContext::Warning));
    QCOMPARE(box.roles(), QList<int>{1});
    QCOMPARE(box.buttons.first().label, QString("OK"));
}

QTEST_GUILESS_MAIN(TestUiContexts)
#include "tst_uicontexts.moc"
