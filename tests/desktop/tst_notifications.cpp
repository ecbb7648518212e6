// Offers and finished transfers as desktop notifications, against a
// notification server played on a private bus: an offer answered from its
// notification is accepted or declined exactly as from the prompt and the
// prompt closes; a prompt answered first closes the notification; a server
// without actions, or an active window, leaves the prompt alone.
#include "FreePort.h"
#include "PrivateBus.h"
#include "TempDataHome.h"
#include "../client/RawTlsServer.h"

#include "client/LanferryHttpClient.h"
#include "core/ServerInfo.h"
#include "core/Uuid.h"
#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"
#include "ui/DesktopNotifier.h"
#include "ui/MessageBoxRequest.h"
#include "ui/ServerModel.h"

#include <QDBusMessage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

// Records what it is asked and can say that the user chose an action.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString summary, body;
        QStringList actions;
    };
    FakeNotificationServer(QDBusConnection bus, QStringList caps) : m_bus(bus), m_caps(std::move(caps)) {}
    QList<Shown> shown;
    QList<uint> closed;

    void invoke(uint id, const QString &action)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << id << action;
        m_bus.send(signal);
    }

public slots:
    QStringList GetCapabilities() { return m_caps; }
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        shown << Shown{summary, body, actions};
        return uint(shown.size());
    }
    void CloseNotification(uint id)
    {
        closed << id;
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("NotificationClosed"));
        signal << id << uint(3);
        m_bus.send(signal);
    }

private:
    QDBusConnection m_bus;
    QStringList m_caps;
};

class TestNotifications : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void offerAnsweredFromNotification_data();
    void offerAnsweredFromNotification();
    void promptAnsweredFirstClosesNotification();
    void promptAloneWithoutActions_data();
    void promptAloneWithoutActions();
    void taskEndedOffersShowInFolder_data();
    void taskEndedOffersShowInFolder();

private:
    // A notification server with these capabilities (none at all when
    // serve is false), and the notifier and model that use it.
    void setUp(bool serve, const QStringList &caps = {QStringLiteral("actions"), QStringLiteral("body")})
    {
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->isUp(), "dbus-daemon did not start");
        ++m_round;
        if (serve) {
            QDBusConnection service = m_bus->connect(QStringLiteral("service%1").arg(m_round));
            m_server = std::make_unique<FakeNotificationServer>(service, caps);
            QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), m_server.get(),
                                           QDBusConnection::ExportAllSlots));
            QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
        }
        const QString client = QStringLiteral("client%1").arg(m_round);
        m_bus->connect(client);
        m_notifier = std::make_unique<DesktopNotifier>(client);
        m_notifier->setWindowActive([this] { return m_windowActive; });
        m_model->setNotifier(m_notifier.get());
        m_model->start();
        QVERIFY(QTest::qWaitFor([&] { return m_model->httpServer().isListening(); }, 5000));
    }
    // Offers a task of two files (3 and 5 bytes) from a sender listening at senderPort; answers its id.
    std::string offer(int senderPort)
    {
        TransferTask task;
        task.uid = newUuid();
        task.local_uid = loadServerInfo().uid;
        task.remote_uid = "sender-uid";
        task.remote_name = "sender";
        task.remote_type = "win";
        task.port = senderPort;
        task.from_me = 1;
        const std::vector<TransferFile> files{newTransferFile(task.uid, "", "/x/a.txt", "", "a.txt", "text/plain", 3),
                                              newTransferFile(task.uid, "", "/x/b.txt", "", "b.txt", "text/plain", 5)};
        const HttpResponse answer =
            LanferryHttpClient().taskRecv(PeerEndpoint{"127.0.0.1", m_model->port(), std::string()}, task, files);
        return answer.status == 200 ? task.uid : std::string();
    }
    static QList<bool> notices(RawTlsServer &sender)
    {
        QList<bool> accepts;
        for (const RawTlsServer::Request &r : sender.requests()) {
            if (r.requestLine().rfind("POST /task/recv/notif ", 0) == 0)
                accepts << QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object()["accept"].toBool();
        }
        return accepts;
    }
    static RawTlsServer::Reply ok(const RawTlsServer::Request &, int)
    {
        return {RawTlsServer::answer("HTTP/1.1 200 OK", std::string())};
    }

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<ServerModel> m_model;
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<FakeNotificationServer> m_server;
    std::unique_ptr<DesktopNotifier> m_notifier;
    bool m_windowActive = false;
    int m_round = 0;
};

void TestNotifications::init()
{
    m_home = std::make_unique<TempDataHome>();
    QVERIFY(ShareFilesDb::instance().reopen(std::string()));
    ServerInfo me = loadServerInfo();
    me.port = freePort();
    QVERIFY(saveServerInfo(me));
    m_model = std::make_unique<ServerModel>();
    m_windowActive = false;
}

void TestNotifications::cleanup()
{
    m_model.reset();
    m_notifier.reset();
    m_server.reset();
    m_bus.reset();
    m_home.reset();
}

void TestNotifications::offerAnsweredFromNotification_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("accept") << "accept";
    QTest::newRow("decline") << "decline";
}

void TestNotifications::offerAnsweredFromNotification()
{
    QFETCH(QString, action);
    setUp(true);
    RawTlsServer sender(&TestNotifications::ok);
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    QSignalSpy closes(MessageBoxContext::instance(), &MessageBoxContext::closeMsgbox);
    QSignalSpy folders(m_model.get(), &ServerModel::selectSaveRoot);
    QSignalSpy accepted(m_notifier.get(), &DesktopNotifier::acceptChosen);
    const std::string tid = offer(sender.port());
    QVERIFY(!tid.empty());
    QVERIFY(boxes.wait(10000));
    const QVariantMap box = boxes.takeFirst().at(0).toMap();
    QTRY_COMPARE(m_server->shown.size(), 1);
    const FakeNotificationServer::Shown note = m_server->shown[0];
    QVERIFY2(note.summary.contains("sender"), qPrintable(note.summary));
    QCOMPARE(note.body, QString("2 files, 8B"));
    QCOMPARE(note.actions, (QStringList{"accept", "Accept", "decline", "Decline"}));

    m_server->invoke(1, action);
    QTRY_COMPARE(closes.count(), 1);
    QCOMPARE(closes[0][0].toString(), box["id"].toString());
    QTRY_COMPARE(m_server->closed, QList<uint>{1});
    if (action == "accept") {
        // On to the save-folder dialog, exactly as the prompt's Yes.
        QTRY_COMPARE(folders.count(), 1);
        QCOMPARE(accepted.count(), 1);
        QTemporaryDir into;
        folders[0][0].value<InputCallbackModel::Callback>().fn({QUrl::fromLocalFile(into.path())});
        QTRY_COMPARE(notices(sender), QList<bool>{true});
        TransferTask stored;
        QCOMPARE(TaskStore(false).readTask(tid, &stored), 1);
    } else {
        QTRY_COMPARE(notices(sender), QList<bool>{false});
        QCOMPARE(folders.count(), 0);
        QCOMPARE(accepted.count(), 0);
    }
    QTRY_VERIFY(!QFileInfo::exists(QString::fromStdString(tmpTasksRoot() + "/" + tid)));
    // The prompt's buttons, had the screen not closed it, change nothing now.
    MessageBoxRequest::fromMap(box).press(MessageBoxContext::Yes, MessageBoxContext::instance());
    MessageBoxRequest::fromMap(box).press(MessageBoxContext::No, MessageBoxContext::instance());
    QTest::qWait(200);
    QCOMPARE(folders.count(), action == "accept" ? 1 : 0);
    QCOMPARE(notices(sender).size(), 1);
}

void TestNotifications::promptAnsweredFirstClosesNotification()
{
    setUp(true);
    RawTlsServer sender(&TestNotifications::ok);
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    QSignalSpy folders(m_model.get(), &ServerModel::selectSaveRoot);
    QVERIFY(!offer(sender.port()).empty());
    QVERIFY(boxes.wait(10000));
    QTRY_COMPARE(m_server->shown.size(), 1);
    QVERIFY(MessageBoxRequest::fromMap(boxes.takeFirst().at(0).toMap())
                .press(MessageBoxContext::No, MessageBoxContext::instance()));
    QTRY_COMPARE(m_server->closed, QList<uint>{1});
    QTRY_COMPARE(notices(sender), QList<bool>{false});
    // A late click on the notification's Accept changes nothing.
    m_server->invoke(1, "accept");
    QTest::qWait(300);
    QCOMPARE(folders.count(), 0);
    QCOMPARE(notices(sender), QList<bool>{false});
}

void TestNotifications::promptAloneWithoutActions_data()
{
    QTest::addColumn<bool>("serve");
    QTest::addColumn<QStringList>("caps");
    QTest::addColumn<bool>("windowActive");
    QTest::newRow("no server") << false << QStringList() << false;
    QTest::newRow("server without actions") << true << QStringList{"body"} << false;
    QTest::newRow("window active") << true << QStringList{"actions", "body"} << true;
}

void TestNotifications::promptAloneWithoutActions()
{
    QFETCH(bool, serve);
    QFETCH(QStringList, caps);
    QFETCH(bool, windowActive);
    m_windowActive = windowActive;
    setUp(serve, caps);
    RawTlsServer sender(&TestNotifications::ok);
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    QSignalSpy folders(m_model.get(), &ServerModel::selectSaveRoot);
    QVERIFY(!offer(sender.port()).empty());
    QVERIFY(boxes.wait(10000));
    QTest::qWait(300);
    if (m_server)
        QVERIFY(m_server->shown.isEmpty());
    // The prompt works as ever.
    QVERIFY(MessageBoxRequest::fromMap(boxes.takeFirst().at(0).toMap())
                .press(MessageBoxContext::Yes, MessageBoxContext::instance()));
    QCOMPARE(folders.count(), 1);
}

void TestNotifications::taskEndedOffersShowInFolder_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("body");
    QTest::newRow("all arrived") << 2 << "2 files from sender arrived"
                                 << "";
    QTest::newRow("one failed") << 1 << "1 of 2 files from sender failed"
                                << "disk full";
}

void TestNotifications::taskEndedOffersShowInFolder()
{
    QFETCH(int, done);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    setUp(true);
    int shows = 0;
    m_notifier->taskEnded("sender", done, 2, done == 2 ? QString() : QString("disk full"), [&shows] { ++shows; });
    QTRY_COMPARE(m_server->shown.size(), 1);
    QCOMPARE(m_server->shown[0].summary, summary);
    QCOMPARE(m_server->shown[0].body, body);
    QCOMPARE(m_server->shown[0].actions, (QStringList{"show", "Show in folder"}));
    m_server->invoke(1, "accept"); // not an action of this notification
    m_server->invoke(1, "show");
    QTRY_COMPARE(shows, 1);
    m_server->invoke(1, "show"); // once only
    QTest::qWait(200);
    QCOMPARE(shows, 1);
}

QTEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
