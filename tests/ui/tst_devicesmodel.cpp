// The devices model of a whole local instance against other instances in
// their own processes on 127.0.0.1: the device list and its "add" tile,
// connecting by address with and without passwords, the password loop of a
// send, a send of files and a folder arriving whole, and refused offers.
#include "ui/Catalogue.h"
#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/MessageBoxRequest.h"
#include "ui/ServerModel.h"
#include "ui/TaskMgrModel.h"

#include "core/ServerInfo.h"
#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"
#include "ModelPeerProcess.h"
#include "ThisInstance.h"
#include "TempDataHome.h"
#include "TestFiles.h"
#include "../client/RawTlsServer.h"

#include <QElapsedTimer>
#include <QUdpSocket>
#include <QAbstractItemModelTester>
#include <QtTest>

#include <memory>

class TestDevicesModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void listStartsWithTheAddTile();
    void connectByAddress_data();
    void connectByAddress();
    void gotoDeviceOpensItWithItsIdentity();
    void sendAsksForThePasswordUntilItIsRight();
    void failedSends_data();
    void failedSends();
    void help();
    void closingDoesNotWaitForASilentDevice_data();
    void closingDoesNotWaitForASilentDevice();
    void devicesComeAndGoRowByRow();

private:
    DevicesModel *devices() { return DevicesModel::instance(); }
    QVariantMap rowOf(int r) { return devices()->itemModel()->index(r, 0).data(MyItemModel::FirstRole).toMap(); }
    // The row of the device at this address, or an empty map.
    QVariantMap rowAt(const QString &ip)
    {
        for (int r = 0; r < devices()->itemModel()->rowCount(); ++r) {
            if (rowOf(r)["ip"].toString() == ip)
                return rowOf(r);
        }
        return QVariantMap();
    }
    // Discovery keeps one device per address: every peer gets an address of
    // its own on the loopback network.
    QString nextAddress() { return QString("127.0.0.%1").arg(++m_lastHost); }
    bool waitIdle()
    {
        return QTest::qWaitFor([&] { return !devices()->isLoading(); }, 30000);
    }
    MessageBoxRequest takeBox()
    {
        return m_boxes->isEmpty() ? MessageBoxRequest()
                                  : MessageBoxRequest::fromMap(m_boxes->takeFirst().at(0).toMap());
    }
    InputCallbackModel::Callback takePrompt()
    {
        return m_prompts->isEmpty() ? InputCallbackModel::Callback()
                                    : m_prompts->takeFirst().at(0).value<InputCallbackModel::Callback>();
    }
    QString writeFile(const QString &rel, const QByteArray &bytes);

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSignalSpy> m_boxes, m_prompts, m_navs;
    QString m_files, m_saveTo;
    int m_lastHost = 10;
};

void TestDevicesModel::initTestCase()
{
    startThisInstance(m_home);
}

void TestDevicesModel::cleanupTestCase()
{
    ServerModel::instance()->stop();
}

void TestDevicesModel::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_files = m_dir->path() + "/files";
    m_saveTo = m_dir->path() + "/received";
    QDir().mkpath(m_files);
    QDir().mkpath(m_saveTo);
    m_boxes = std::make_unique<QSignalSpy>(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    m_prompts = std::make_unique<QSignalSpy>(devices(), &DevicesModel::pwdRequest);
    m_navs = std::make_unique<QSignalSpy>(GlobalModel::instance(), &GlobalModel::nav);
}

void TestDevicesModel::cleanup()
{
    QVERIFY(waitIdle());
    m_boxes.reset();
    m_prompts.reset();
    m_navs.reset();
    m_dir.reset();
}

QString TestDevicesModel::writeFile(const QString &rel, const QByteArray &bytes)
{
    const QString path = m_files + "/" + rel;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

void TestDevicesModel::listStartsWithTheAddTile()
{
    QCOMPARE(devices()->itemModel()->rowCount(), 1);
    QCOMPARE(rowOf(0), QVariantMap({{"t", "add"}}));
    QCOMPARE(devices()->itemModel()->roleNames().value(MyItemModel::FirstRole), QByteArray("d"));

    // Neither a negative index nor the "add" tile is a device.
    devices()->gotoDevice(-1);
    devices()->gotoDevice(0);
    QVERIFY(!devices()->isLoading());
    QTest::qWait(200);
    QCOMPARE(m_navs->count(), 0);
    QCOMPARE(m_boxes->count(), 0);
}

void TestDevicesModel::connectByAddress_data()
{
    QTest::addColumn<QString>("peerPassword");
    QTest::addColumn<QString>("passcode");
    QTest::addColumn<QString>("message"); // empty when the device is added
    QTest::addColumn<int>("icon");
    QTest::newRow("no password") << ""
                                 << "" << QString() << 0;
    QTest::newRow("right password") << "secret"
                                    << "secret" << QString() << 0;
    QTest::newRow("password not needed") << ""
                                         << "anything" << QString() << 0;
    QTest::newRow("wrong password") << "secret"
                                    << "guess"
                                    << "Incorrect connection password." << int(MessageBoxContext::Warning);
    QTest::newRow("no password given") << "secret"
                                       << ""
                                       << "Incorrect connection password." << int(MessageBoxContext::Warning);
    QTest::newRow("nobody there") << "-"
                                  << ""
                                  << "Device connection failed. CURL: " << int(MessageBoxContext::Error);
}

void TestDevicesModel::connectByAddress()
{
    QFETCH(QString, peerPassword);
    QFETCH(QString, passcode);
    QFETCH(QString, message);
    QFETCH(int, icon);
    std::unique_ptr<ModelPeerProcess> peer;
    int port = freePort();
    if (peerPassword != "-") {
        peer = std::make_unique<ModelPeerProcess>(m_dir->path() + "/peer", "alice", peerPassword);
        QVERIFY(!peer->waitEvent("ready").isEmpty());
        port = peer->port;
    }
    devices()->setConnectPresent(true);
    QSignalSpy inserted(devices()->itemModel(), &QAbstractItemModel::rowsInserted);

    const QString ip = nextAddress();
    devices()->connectDevice(ip, port, passcode);
    QVERIFY(devices()->isLoading());
    QVERIFY(waitIdle());

    if (message.isEmpty()) {
        QCOMPARE(m_boxes->count(), 0);
        QVERIFY(!devices()->connectPresent());
        QVERIFY(inserted.count() >= 1); // its tile comes in as a row of its own
        // Added by hand: it stays although it never announces itself.
        const QVariantMap row = rowAt(ip);
        QCOMPARE(row["t"].toString(), QString("device"));
        QCOMPARE(row["uid"].toString(), peer->uid);
        QCOMPARE(row["name"].toString(), QString("alice"));
        QCOMPARE(row["type"].toString(), QString("win"));
        QCOMPARE(row["ip"].toString(), ip);
        QCOMPARE(row["port"].toInt(), port);
        QCOMPARE(row["pwd"].toString(), passcode);
        QCOMPARE(row["iconsrc"].toString(), QString("qrc:/res/win-device.png"));
        QCOMPARE(rowOf(row["row"].toInt()), row);
        QCOMPARE(rowOf(devices()->itemModel()->rowCount() - 1), QVariantMap({{"t", "add"}}));
    } else {
        QCOMPARE(m_boxes->count(), 1);
        const MessageBoxRequest box = takeBox();
        QVERIFY2(box.msg.startsWith(message), qPrintable(box.msg));
        QCOMPARE(box.icon, icon);
        QCOMPARE(box.roles(), QList<int>{MessageBoxContext::OK});
        QCOMPARE(box.buttons.first().label, QString("OK"));
        QVERIFY(box.press(MessageBoxContext::OK, MessageBoxContext::instance()));
        QVERIFY(devices()->connectPresent());
        QVERIFY(rowAt(ip).isEmpty());
    }
    // Connecting never prompts, and a message comes once.
    QTest::qWait(200);
    QCOMPARE(m_prompts->count(), 0);
    QCOMPARE(m_boxes->count(), 0);
}

void TestDevicesModel::gotoDeviceOpensItWithItsIdentity()
{
    ModelPeerProcess bob(m_dir->path() + "/bob", "bob", "secret");
    QVERIFY(!bob.waitEvent("ready").isEmpty());
    const QString ip = nextAddress();
    devices()->connectDevice(ip, bob.port, "secret");
    QVERIFY(waitIdle());
    const QVariant row = rowAt(ip)["row"];
    QVERIFY(row.isValid());

    devices()->gotoDevice(row.toInt());
    QVERIFY(waitIdle());
    QCOMPARE(m_navs->count(), 1);
    const QList<QVariant> nav = m_navs->takeFirst();
    QCOMPARE(nav.at(0).toString(), QString("Device.qml"));
    const auto item = nav.at(1).toMap().value("devItem").value<LanferryUdpServer::ServerItem>();
    QCOMPARE(QString::fromStdString(item.ip), ip);
    QCOMPARE(item.port, bob.port);
    QCOMPARE(QString::fromStdString(item.info.uid), bob.uid);
    QCOMPARE(item.info.name, std::string("bob"));
    QCOMPARE(item.info.pwd, std::string("secret"));
    QCOMPARE(m_prompts->count(), 0);
}

void TestDevicesModel::sendAsksForThePasswordUntilItIsRight()
{
    const QByteArray big = pattern(2 * 1024 * 1024 + 3, 1);
    writeFile("a.txt", "hello");
    writeFile("tree/big.bin", big);
    writeFile("tree/sub/deep.txt", "deep");
    QDir().mkpath(m_files + "/tree/empty");
    ModelPeerProcess bob(m_dir->path() + "/bob", "bob", "secret");
    QVERIFY(!bob.waitEvent("ready").isEmpty());
    QVERIFY(bob.run("accept " + m_saveTo));

    // A discovered device with a password shows "*" as its password.
    devices()->sendFiles("127.0.0.1", bob.port, "*",
                         {QUrl::fromLocalFile(m_files + "/a.txt"), QUrl::fromLocalFile(m_files + "/tree")});
    QVERIFY(QTest::qWaitFor([&] { return m_prompts->count() == 1; }, 20000));
    QCOMPARE(m_boxes->count(), 0);
    InputCallbackModel::instance()->callback(takePrompt(), {"wrong"});
    QVERIFY(QTest::qWaitFor([&] { return m_boxes->count() == 1; }, 20000));
    const MessageBoxRequest wrong = takeBox();
    QCOMPARE(wrong.msg, QString("Incorrect connection password."));
    QCOMPARE(wrong.icon, int(MessageBoxContext::Warning));
    QCOMPARE(m_prompts->count(), 0);
    QVERIFY(wrong.press(MessageBoxContext::OK, MessageBoxContext::instance()));
    QCOMPARE(m_prompts->count(), 1); // pressing OK asks again

    // Giving up on the prompt ends it.
    InputCallbackModel::instance()->callback(takePrompt(), {});
    QTest::qWait(200);
    QVERIFY(!devices()->isLoading());
    QCOMPARE(m_boxes->count() + m_prompts->count() + m_navs->count(), 0);

    devices()->sendFiles("127.0.0.1", bob.port, "*",
                         {QUrl::fromLocalFile(m_files + "/a.txt"), QUrl::fromLocalFile(m_files + "/tree")});
    QVERIFY(QTest::qWaitFor([&] { return m_prompts->count() == 1; }, 20000));
    InputCallbackModel::instance()->callback(takePrompt(), {"secret"});
    QVERIFY(QTest::qWaitFor([&] { return m_navs->count() == 1; }, 20000));
    QCOMPARE(m_navs->first().at(0).toString(), QString("Tasks.qml"));
    QCOMPARE(m_boxes->count(), 0);

    // One task in the send store, the same task at the receiver.
    std::vector<TransferTask> sent;
    QVERIFY(TaskStore(true).listTasks(&sent));
    QCOMPARE(int(sent.size()), 1);
    QCOMPARE(sent[0].ip, std::string("127.0.0.1"));
    QCOMPARE(sent[0].port, bob.port);
    QCOMPARE(QString::fromStdString(sent[0].remote_uid), bob.uid);
    const QJsonObject offer = bob.waitEvent("box");
    QCOMPARE(offer["text"].toString(), QString("Want to start receiving 2 files sent by the device (me)?"));
    QVERIFY(!bob.waitEvent("selectSaveRoot").isEmpty());

    QVERIFY(QTest::qWaitFor(
        [&] {
            TransferTask task;
            return TaskStore(false, bob.path("tasks_recv")).readTask(sent[0].uid, &task) == 1 &&
                   task.status.total == 2 && task.status.successes == 2;
        },
        60000));
    QCOMPARE(readAll(m_saveTo + "/a.txt"), QByteArray("hello"));
    QVERIFY(readAll(m_saveTo + "/tree/big.bin") == big);
    QCOMPARE(readAll(m_saveTo + "/tree/sub/deep.txt"), QByteArray("deep"));
    QVERIFY(QFileInfo(m_saveTo + "/tree/empty").isDir());
    TaskStore(true).deleteTask(sent[0].uid, 1000);
}

void TestDevicesModel::failedSends_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("offers");
    QTest::newRow("device refuses") << "refuse"
                                    << "Remote error, return 500. error: boom" << 1;
    QTest::newRow("nothing left to send") << "missing"
                                          << "The file does not exist." << 0;
}

void TestDevicesModel::failedSends()
{
    QFETCH(QString, what);
    QFETCH(QString, message);
    QFETCH(int, offers);
    // A device that answers who it is and refuses every offer.
    RawTlsServer peer([](const RawTlsServer::Request &req, int) -> RawTlsServer::Reply {
        if (req.requestLine().rfind("GET / ", 0) == 0)
            return {RawTlsServer::answer("HTTP/1.1 200 OK",
                                         R"({"uid":"c0ffee00-0000-4000-8000-000000000001","name":"carol",)"
                                         R"("type":"win","port":1})",
                                         "Content-Type: application/json\r\n")};
        return {RawTlsServer::answer("HTTP/1.1 500 Internal Server Error", "boom")};
    });
    const QString path = what == "missing" ? m_files + "/gone.txt" : writeFile("x.txt", "x");
    devices()->sendFiles("127.0.0.1", peer.port(), "", {QUrl::fromLocalFile(path)});
    QVERIFY(QTest::qWaitFor([&] { return m_boxes->count() == 1; }, 20000));
    const MessageBoxRequest box = takeBox();
    QCOMPARE(box.msg, message);
    QCOMPARE(box.icon, int(MessageBoxContext::Error));
    QCOMPARE(box.roles(), QList<int>{MessageBoxContext::OK});
    QVERIFY(!devices()->isLoading());
    QCOMPARE(m_navs->count(), 0);
    int posted = 0;
    for (const RawTlsServer::Request &r : peer.requests())
        posted += r.requestLine().rfind("POST /task/recv ", 0) == 0 ? 1 : 0;
    QCOMPARE(posted, offers);
    // No send task is left that the device never took.
    std::vector<TransferTask> sent;
    QVERIFY(TaskStore(true).listTasks(&sent));
    QVERIFY(sent.empty());
}

void TestDevicesModel::help()
{
    devices()->getHelp();
    const MessageBoxRequest box = takeBox();
    QCOMPARE(box.title, QString());
    QCOMPARE(box.msg, QString("If no local area network available, you can turn on your phone's hotspot to connect "
                              "your computer."));
    QCOMPARE(box.icon, int(MessageBoxContext::Alert));
    QCOMPARE(box.roles(), QList<int>{MessageBoxContext::OK});
    QCOMPARE(box.buttons.first().label, QString("OK"));
}

void TestDevicesModel::closingDoesNotWaitForASilentDevice_data()
{
    QTest::addColumn<bool>("asking");
    QTest::addColumn<int>("rounds");
    QTest::newRow("while it asks") << true << 3;
    // The worker may take up the request as the model begins to close.
    QTest::newRow("as it is about to ask") << false << 30;
}

void TestDevicesModel::closingDoesNotWaitForASilentDevice()
{
    QFETCH(bool, asking);
    QFETCH(int, rounds);
    // A device that takes requests and never answers them: each would wait
    // for the 30 s stall limit.
    RawTlsServer silent([](const RawTlsServer::Request &, int) -> RawTlsServer::Reply { return {{}, true}; });
    for (int round = 0; round < rounds; ++round) {
        const size_t before = silent.requests().size();
        auto model = std::make_unique<DevicesModel>();
        model->connectDevice("127.0.0.1", silent.port(), QString());
        model->connectDevice("127.0.0.1", silent.port(), QString()); // queued behind the first
        if (asking)
            QVERIFY(silent.waitForRequests(before + 1));
        QElapsedTimer closing;
        closing.start();
        model.reset();
        QVERIFY2(closing.elapsed() < 10000, qPrintable(QString::number(closing.elapsed())));
        // The queued request never went out.
        QVERIFY(silent.requests().size() <= before + 1);
    }
    QCOMPARE(m_boxes->count(), 0);
}

void TestDevicesModel::devicesComeAndGoRowByRow()
{
    QAbstractItemModel *model = devices()->itemModel();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
    const auto say = [](const char *from, const char *uid, const char *msg) {
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress(QString(from)), 0));
        const QByteArray text = QByteArray("{ \"uid\": \"") + uid + "\", \"name\": \"" + uid +
                                "\", \"type\": \"win\", \"port\": 1, \"msg\": \"" + msg + "\" }";
        QCOMPARE(socket.writeDatagram(text, QHostAddress::LocalHost, quint16(loadServerInfo().port)),
                 qint64(text.size()));
    };
    say("127.0.0.30", "later-in-order", "server");
    QTRY_VERIFY(!rowAt("127.0.0.30").isEmpty());
    say("127.0.0.29", "earlier-in-order", "server");
    QTRY_VERIFY(!rowAt("127.0.0.29").isEmpty());
    // Each row still tells its own number after one came in before it.
    QCOMPARE(rowOf(rowAt("127.0.0.30")["row"].toInt())["ip"].toString(), QString("127.0.0.30"));
    QCOMPARE(rowAt("127.0.0.30")["row"].toInt(), rowAt("127.0.0.29")["row"].toInt() + 1);
    say("127.0.0.29", "earlier-in-order", "bye");
    QTRY_VERIFY(rowAt("127.0.0.29").isEmpty());
    QCOMPARE(rowOf(rowAt("127.0.0.30")["row"].toInt())["ip"].toString(), QString("127.0.0.30"));
    // Tiles come and go one by one (the list is never reset).
    QCOMPARE(resets.count(), 0);
    QVERIFY(inserted.count() >= 2);
    QVERIFY(removed.count() >= 1);
    QCOMPARE(rowOf(model->rowCount() - 1)["t"].toString(), QString("add"));
}

QTEST_GUILESS_MAIN(TestDevicesModel)
#include "tst_devicesmodel.moc"
