// The server model in one process: identity properties, saving settings,
// restarting the services only when the port changes, an offered task that
// cannot be kept, restarts while peers are served, and the end of the model
// while peers report or do not answer.
#include "FreePort.h"
#include "RawTlsClient.h"
#include "TempDataHome.h"
#include "../client/RawTlsServer.h"

#include "client/LanferryHttpClient.h"
#include "core/Json.h"
#include "core/ServerInfo.h"
#include "core/Uuid.h"
#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"
#include "ui/AppSingleton.h"
#include "ui/GlobalModel.h"
#include "ui/MessageBoxRequest.h"
#include "ui/ServerModel.h"
#include "ui/TaskMgrModel.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>
#include <thread>

class TestServerModel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void propertiesFollowTheSettings();
    void saveMeDefaults();
    void samePortKeepsServicesRunning();
    void newPortRestartsBothServices();
    void offerThatCannotBeKeptIsDeclined();
    void restartWhilePeersAreServed();
    void progressReportsNeverMakeTheTaskManager();
    void closingDoesNotWaitForASilentSender();
    void offersLeftByAnEarlierRunAreDeclined();
    void waitingOffersAreCapped();
    void unansweredOffersExpire();

private:
    // One request on a kept-alive connection.
    static int ask(RawTlsClient &c)
    {
        if (!c.send(RawTlsClient::get("/")))
            return -1;
        return c.readAnswer(3000).status;
    }

    void startAndWait()
    {
        m_model->start();
        QVERIFY(QTest::qWaitFor([&] { return m_model->httpServer().isListening(); }, 5000));
    }
    PeerEndpoint me() const { return PeerEndpoint{"127.0.0.1", m_model->port(), std::string()}; }
    // Offers a task of one file from a sender listening at senderPort; answers its id.
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
        const TransferFile file = newTransferFile(task.uid, "", "/x/a.txt", "", "a.txt", "text/plain", 3);
        const HttpResponse answer = LanferryHttpClient().taskRecv(me(), task, {file});
        return answer.status == 200 ? task.uid : std::string();
    }
    // The offer's question, as the screen shows it.
    static MessageBoxRequest waitForPrompt(QSignalSpy &boxes)
    {
        if (boxes.isEmpty() && !boxes.wait(10000))
            return MessageBoxRequest();
        return MessageBoxRequest::fromMap(boxes.takeFirst().at(0).toMap());
    }
    // The "accept" field of the notices a sender received.
    static QList<bool> notices(RawTlsServer &sender)
    {
        QList<bool> accepts;
        for (const RawTlsServer::Request &r : sender.requests()) {
            if (r.requestLine().rfind("POST /task/recv/notif ", 0) == 0)
                accepts << QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object()["accept"].toBool();
        }
        return accepts;
    }
    static void dropTaskManager()
    {
        TaskMgrModel *tasks = nullptr;
        AppSingleton<TaskMgrModel>::withExisting([&](TaskMgrModel *t) { tasks = t; });
        delete tasks;
    }
    static bool taskManagerExists()
    {
        return AppSingleton<TaskMgrModel>::withExisting([](TaskMgrModel *) {});
    }

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<ServerModel> m_model;
};

void TestServerModel::init()
{
    m_home = std::make_unique<TempDataHome>();
    QVERIFY(ShareFilesDb::instance().reopen(std::string()));
    ServerInfo me = loadServerInfo();
    me.port = freePort();
    QVERIFY(saveServerInfo(me));
    m_model = std::make_unique<ServerModel>();
}

void TestServerModel::cleanup()
{
    m_model.reset();
    m_home.reset();
}

void TestServerModel::propertiesFollowTheSettings()
{
    const ServerInfo me = loadServerInfo();
    QCOMPARE(m_model->uid(), QString::fromStdString(me.uid));
    QCOMPARE(m_model->name(), QString("home"));
    QCOMPARE(m_model->port(), me.port);
    QCOMPARE(m_model->defaultPort(), 20168);
    QVERIFY(!m_model->ip().contains("127.0.0.1"));

    // A property write signals only a change, and saves nothing.
    QSignalSpy nameSpy(m_model.get(), &ServerModel::nameChanged);
    m_model->setName("home");
    QCOMPARE(nameSpy.count(), 0);
    m_model->setName("other");
    QCOMPARE(nameSpy.count(), 1);
    QCOMPARE(loadServerInfo().name, std::string("home"));
    m_model->reloadInfo();
    QCOMPARE(m_model->name(), QString("home"));
}

void TestServerModel::saveMeDefaults()
{
    ServerInfo me = loadServerInfo();
    me.port = 20168;
    me.pwd = "old";
    QVERIFY(saveServerInfo(me));
    m_model->reloadInfo();
    QSignalSpy portSpy(m_model.get(), &ServerModel::portChanged);
    QVERIFY(m_model->saveMe(QString(), 0, QString()));
    const ServerInfo saved = loadServerInfo();
    QCOMPARE(saved.name, std::string("home"));
    QCOMPARE(saved.port, 20168);
    QVERIFY(saved.pwd.empty());
    QCOMPARE(saved.uid, me.uid);
    QCOMPARE(m_model->passcode(), QString());
    QCOMPARE(portSpy.count(), 0);
    QVERIFY(m_model->saveMe(QString::fromUtf8("Zoë's laptop"), 70000, "pw"));
    QCOMPARE(loadServerInfo().name, std::string("Zoë's laptop"));
    QCOMPARE(loadServerInfo().pwd, std::string("pw"));
}

void TestServerModel::samePortKeepsServicesRunning()
{
    m_model->start();
    QVERIFY(QTest::qWaitFor([&] { return m_model->httpServer().isListening(); }, 5000));
    QVERIFY(m_model->udpServer().isRunning());
    RawTlsClient c;
    QVERIFY(c.connect(m_model->port()));
    QCOMPARE(ask(c), 200);
    QVERIFY(m_model->saveMe("renamed", m_model->port(), QString()));
    QTest::qWait(300);     // a restart would have been posted by now
    QCOMPARE(ask(c), 200); // the same connection still served: nothing restarted
    QCOMPARE(m_model->name(), QString("renamed"));
}

void TestServerModel::newPortRestartsBothServices()
{
    m_model->start();
    QVERIFY(QTest::qWaitFor([&] { return m_model->httpServer().isListening(); }, 5000));
    const int oldPort = m_model->port();
    const int newPort = freePort();
    QSignalSpy portSpy(m_model.get(), &ServerModel::portChanged);
    QVERIFY(m_model->saveMe("moved", newPort, QString()));
    QCOMPARE(portSpy.count(), 1);
    QCOMPARE(m_model->port(), newPort);
    RawTlsClient c;
    QVERIFY(QTest::qWaitFor([&] { return c.connect(newPort) && ask(c) == 200; }, 5000));
    QVERIFY(!RawTlsClient().connect(oldPort));
    // Discovery listens on the new port too: its UDP port is taken now.
    QUdpSocket probe;
    QVERIFY(!probe.bind(QHostAddress::AnyIPv4, quint16(newPort)));
    QVERIFY(probe.bind(QHostAddress::AnyIPv4, quint16(oldPort)));
}

void TestServerModel::offerThatCannotBeKeptIsDeclined()
{
    RawTlsServer sender([](const RawTlsServer::Request &, int) -> RawTlsServer::Reply {
        return {RawTlsServer::answer("HTTP/1.1 200 OK", std::string())};
    });
    startAndWait();
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    QSignalSpy folders(m_model.get(), &ServerModel::selectSaveRoot);
    QSignalSpy navs(GlobalModel::instance(), &GlobalModel::nav);
    const std::string tid = offer(sender.port());
    QVERIFY(!tid.empty());
    const MessageBoxRequest prompt = waitForPrompt(boxes);
    QCOMPARE(prompt.icon, int(MessageBoxContext::Question));

    // Something that is not a folder stands where the received task's folder goes.
    QFile planted(QString::fromStdString(TaskStore(false).root() + "/" + tid));
    QVERIFY(planted.open(QIODevice::WriteOnly));
    planted.close();
    QTemporaryDir saveTo;
    QVERIFY(prompt.press(MessageBoxContext::Yes, MessageBoxContext::instance()));
    QCOMPARE(folders.count(), 1);
    InputCallbackModel::instance()->callback(folders.takeFirst().at(0).value<InputCallbackModel::Callback>(),
                                             {QUrl::fromLocalFile(saveTo.path())});

    QCOMPARE(boxes.count(), 1);
    const MessageBoxRequest error = MessageBoxRequest::fromMap(boxes.takeFirst().at(0).toMap());
    QCOMPARE(error.icon, int(MessageBoxContext::Error));
    QVERIFY2(error.msg.startsWith("Create task failed."), qPrintable(error.msg));
    QVERIFY(sender.waitForRequests(1));
    QCOMPARE(notices(sender), QList<bool>{false});
    QCOMPARE(navs.count(), 0);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(tmpTasksRoot() + "/" + tid)));
    QCoreApplication::processEvents();
    QVERIFY(!TaskMgrModel::instance()->engine().entry(TaskKey{tid, false}));
}

void TestServerModel::restartWhilePeersAreServed()
{
    // Peers keep reporting, which runs a callback on the service's workers,
    // while the service restarts under them; the thread sanitizer build is
    // what sees callbacks being replaced beneath a worker.
    startAndWait();
    const PeerEndpoint peer = me();
    std::atomic<bool> done{false};
    std::atomic<int> answered{0};
    std::thread reporter([&] {
        LanferryHttpClient client;
        TransferFileStatus status;
        status.offset = 1;
        while (!done) {
            if (client.taskRecvProgress(peer, "no-task", "no-file", status).status == 200)
                ++answered;
        }
    });
    for (int i = 0; i < 5; ++i) {
        const int before = answered;
        QVERIFY(QTest::qWaitFor([&] { return answered > before; }, 10000));
        m_model->start();
    }
    QVERIFY(QTest::qWaitFor([&] { return m_model->httpServer().isListening(); }, 5000));
    const int before = answered;
    QVERIFY(QTest::qWaitFor([&] { return answered > before; }, 10000));
    done = true;
    reporter.join();
}

void TestServerModel::progressReportsNeverMakeTheTaskManager()
{
    dropTaskManager(); // one of an earlier data folder
    TransferTask task = newOutgoingTask("127.0.0.1", 1, "peer-uid", "peer", "win");
    const TransferFile file = newTransferFile(task.uid, "", "/x/b.bin", "", "b.bin", "application/octet-stream", 100);
    QVERIFY(TaskStore(true).createTask(task, {file}));
    startAndWait();
    const TaskKey key{task.uid, true};
    TaskMgrModel *tasks = TaskMgrModel::instance();
    QTRY_VERIFY(tasks->engine().entry(key));
    tasks->loadTaskFiles(QString::fromStdString(task.uid), true);
    QTRY_VERIFY(tasks->engine().entry(key)->filesLoaded);

    // The receiver's reports reach the task manager while it exists...
    TransferFileStatus status;
    status.offset = 50;
    LanferryHttpClient client;
    QCOMPARE(client.taskRecvProgress(me(), task.uid, file.uid, status).status, 200);
    QTRY_COMPARE(tasks->engine().entry(key)->files.at(0).status.offset, int64_t(50));

    // ...and once it has gone, as when the program ends, a late one brings none back.
    delete tasks;
    status.offset = 60;
    QCOMPARE(client.taskRecvProgress(me(), task.uid, file.uid, status).status, 200);
    QCoreApplication::processEvents();
    QVERIFY(!taskManagerExists());
}

void TestServerModel::closingDoesNotWaitForASilentSender()
{
    // A sender that takes the decline notice and never answers it.
    RawTlsServer sender([](const RawTlsServer::Request &, int) -> RawTlsServer::Reply { return {{}, true}; });
    startAndWait();
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    const std::string tid = offer(sender.port());
    QVERIFY(!tid.empty());
    QVERIFY(waitForPrompt(boxes).press(MessageBoxContext::No, MessageBoxContext::instance()));
    QVERIFY(sender.waitForRequests(1));

    // The notice waits for an answer that the stall limit would end after 30 s.
    QElapsedTimer closing;
    closing.start();
    m_model.reset();
    QVERIFY2(closing.elapsed() < 10000, qPrintable(QString::number(closing.elapsed())));
}

void TestServerModel::offersLeftByAnEarlierRunAreDeclined()
{
    RawTlsServer sender([](const RawTlsServer::Request &, int) -> RawTlsServer::Reply {
        return {RawTlsServer::answer("HTTP/1.1 200 OK", std::string())};
    });
    // An offer an earlier run never answered, and a folder a crash left half made.
    TransferTask left = newOutgoingTask("127.0.0.1", sender.port(), "sender-uid", "sender", "win");
    left.from_me = 0;
    TaskStore waiting(false, tmpTasksRoot());
    QVERIFY(waiting.createTask(left, {newTransferFile(left.uid, "", "/x/a.txt", "", "a.txt", "text/plain", 3)}));
    const QString halfMade = QString::fromStdString(tmpTasksRoot() + "/" + newUuid());
    QVERIFY(QDir().mkpath(halfMade));

    startAndWait();
    QVERIFY(sender.waitForRequests(1));
    QCOMPARE(notices(sender), QList<bool>{false});
    QVERIFY(QDir(QString::fromStdString(tmpTasksRoot())).isEmpty());

    // An offer waiting for its answer survives a restart of the services (a new port, a retry).
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    const std::string tid = offer(sender.port());
    QVERIFY(!tid.empty());
    QVERIFY(!waitForPrompt(boxes).msg.isEmpty());
    m_model->start();
    QVERIFY(QTest::qWaitFor([&] { return m_model->httpServer().isListening(); }, 5000));
    QVERIFY(QFileInfo::exists(QString::fromStdString(tmpTasksRoot() + "/" + tid)));
    QCOMPARE(notices(sender), QList<bool>{false});
}

void TestServerModel::waitingOffersAreCapped()
{
    startAndWait();
    // An offer of one file from a device, sent from an address of its own
    // (one address may offer only so often), answered with this status.
    const auto offerFrom = [&](const std::string &device, const char *address, std::string *text = nullptr) {
        TransferTask task = newOutgoingTask("", 1, loadServerInfo().uid, "sender", "win");
        task.remote_uid = device;
        task.local_uid = loadServerInfo().uid;
        const std::vector<TransferFile> files{newTransferFile(task.uid, "", "/x/a.txt", "", "a.txt", "text/plain", 3)};
        RawTlsClient c;
        if (!c.connect(loadServerInfo().port, address) ||
            !c.send(RawTlsClient::post("/task/recv", jsonText(transferTaskToJson(task, files).get()))))
            return -1;
        const RawTlsClient::Answer a = c.readAnswer();
        if (text)
            *text = a.body;
        return a.status;
    };
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    for (size_t i = 0; i < ServerModel::kMaxWaitingOffersPerDevice; ++i)
        QCOMPARE(offerFrom("device-x", i < 8 ? "127.0.0.2" : "127.0.0.3"), 200);
    std::string text;
    QCOMPARE(offerFrom("device-x", "127.0.0.4", &text), 429);
    QCOMPARE(text, std::string("Too many offers are waiting for an answer."));
    QCOMPARE(offerFrom("device-y", "127.0.0.5"), 200); // another device is not held up
    // One answered, device x may offer one more.
    QVERIFY(waitForPrompt(boxes).press(MessageBoxContext::No, MessageBoxContext::instance()));
    QCOMPARE(offerFrom("device-x", "127.0.0.4"), 200);
    QCOMPARE(QDir(QString::fromStdString(tmpTasksRoot())).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
             int(ServerModel::kMaxWaitingOffersPerDevice) + 1);
}

void TestServerModel::unansweredOffersExpire()
{
    RawTlsServer sender([](const RawTlsServer::Request &, int) -> RawTlsServer::Reply {
        return {RawTlsServer::answer("HTTP/1.1 200 OK", std::string())};
    });
    m_model->setOfferLifetime(300);
    startAndWait();
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    QSignalSpy folders(m_model.get(), &ServerModel::selectSaveRoot);
    const std::string tid = offer(sender.port());
    QVERIFY(!tid.empty());
    const MessageBoxRequest prompt = waitForPrompt(boxes);
    // Nobody answers: the sender hears a decline and the offer goes.
    QVERIFY(QTest::qWaitFor([&] { return !notices(sender).isEmpty(); }, 10000));
    QCOMPARE(notices(sender), QList<bool>{false});
    QTRY_VERIFY(!QFileInfo::exists(QString::fromStdString(tmpTasksRoot() + "/" + tid)));
    // A late Yes changes nothing.
    QVERIFY(prompt.press(MessageBoxContext::Yes, MessageBoxContext::instance()));
    QCOMPARE(folders.count(), 0);
    QCOMPARE(notices(sender), QList<bool>{false});
}

QTEST_GUILESS_MAIN(TestServerModel)
#include "tst_servermodel.moc"
