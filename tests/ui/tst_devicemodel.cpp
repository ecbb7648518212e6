// The device model of a whole local instance browsing another instance in its
// own process on 127.0.0.1: the shared list with its thumbnail addresses,
// checks and selectCount, downloading checked entries into a chosen folder,
// the peer's refusals, and files dropped for sending.
#include "ui/Catalogue.h"
#include "ui/DeviceModel.h"
#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/MessageBoxRequest.h"
#include "ui/ServerModel.h"
#include "ui/TaskMgrModel.h"

#include "client/CURLHelper2.h"
#include "core/ServerInfo.h"
#include "core/Uuid.h"
#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"
#include "ModelPeerProcess.h"
#include "ThisInstance.h"
#include "TempDataHome.h"
#include "TestFiles.h"
#include "../client/RawTlsServer.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

class TestDeviceModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void listsSharesWithThumbnails();
    void header_data();
    void header();
    void selectCount();
    void downloadIntoChosenFolder();
    void refusals_data();
    void refusals();
    void sendFilesGoesThroughTheDevicesModel();
    void unusableTasksAreRefused_data();
    void unusableTasksAreRefused();
    void downloadStartsEveryFileAfresh();
    void closingDoesNotWaitForASilentDevice_data();
    void closingDoesNotWaitForASilentDevice();

private:
    LanferryUdpServer::ServerItem bobItem(const std::string &pwd = "secret") const
    {
        LanferryUdpServer::ServerItem item;
        item.ip = "127.0.0.1";
        item.port = m_bob->port;
        item.info = ServerInfo{m_bob->uid.toStdString(), "bob", pwd, "win", m_bob->port};
        return item;
    }
    QVariantMap rowOf(DeviceModel &m, int r) { return m.model()->index(r, 0).data(MyItemModel::FirstRole).toMap(); }
    bool openAndWait(DeviceModel &m, const LanferryUdpServer::ServerItem &item)
    {
        m.open(item);
        return m.isLoading() && QTest::qWaitFor([&] { return !m.isLoading(); }, 30000);
    }
    MessageBoxRequest takeBox()
    {
        return m_boxes->isEmpty() ? MessageBoxRequest()
                                  : MessageBoxRequest::fromMap(m_boxes->takeFirst().at(0).toMap());
    }
    QString writeFile(const QString &rel, const QByteArray &bytes);
    void share(const QString &path, const QString &mime, bool folder);
    std::string shareUid(const QString &name);

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelPeerProcess> m_bob;
    std::unique_ptr<ShareFilesDb> m_bobShares;
    std::unique_ptr<QSignalSpy> m_boxes, m_navs;
    QString m_files, m_saveTo;
};

void TestDeviceModel::initTestCase()
{
    startThisInstance(m_home);
}

void TestDeviceModel::cleanupTestCase()
{
    ServerModel::instance()->stop();
}

void TestDeviceModel::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_files = m_dir->path() + "/files";
    m_saveTo = m_dir->path() + "/received";
    QDir().mkpath(m_files);
    QDir().mkpath(m_saveTo);
    m_bob = std::make_unique<ModelPeerProcess>(m_dir->path() + "/bob", "bob", "secret");
    QVERIFY(!m_bob->waitEvent("ready").isEmpty());
    // The other instance's share store, written as its share screen would.
    m_bobShares = std::make_unique<ShareFilesDb>(m_bob->path("share"));
    QVERIFY(m_bobShares->open());
    writeFile("album/one.txt", "one");
    writeFile("album/sub/two.bin", pattern(300000, 2));
    writeFile("a.txt", "a");
    QImage image(256, 128, QImage::Format_RGB32);
    image.fill(Qt::darkRed);
    QVERIFY(image.save(m_files + "/b.png"));
    share(m_files + "/b.png", "image/png", false);
    share(m_files + "/a.txt", "text/plain", false);
    share(m_files + "/album", "application/octet-stream", true);
    m_bobShares->setEnabled(true);

    m_boxes = std::make_unique<QSignalSpy>(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    m_navs = std::make_unique<QSignalSpy>(GlobalModel::instance(), &GlobalModel::nav);
}

void TestDeviceModel::cleanup()
{
    m_boxes.reset();
    m_navs.reset();
    m_bobShares.reset();
    m_bob.reset();
    m_dir.reset();
}

QString TestDeviceModel::writeFile(const QString &rel, const QByteArray &bytes)
{
    const QString path = m_files + "/" + rel;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

void TestDeviceModel::share(const QString &path, const QString &mime, bool folder)
{
    const std::string uri = path.toStdString();
    m_bobShares->addFile(newShareFile(QFileInfo(path).fileName().toStdString(), uri, mime.toStdString(),
                                      mime.startsWith("image/") ? uri : std::string(), folder));
}

std::string TestDeviceModel::shareUid(const QString &name)
{
    std::vector<ShareFile> files;
    m_bobShares->listFiles(ShareFilesDb::All, &files);
    for (const ShareFile &f : files) {
        if (QString::fromStdString(f.name) == name)
            return f.uid;
    }
    return std::string();
}

void TestDeviceModel::listsSharesWithThumbnails()
{
    DeviceModel m;
    QCOMPARE(m.itemsCount(), 0);
    QVERIFY(openAndWait(m, bobItem()));
    QCOMPARE(m_boxes->count(), 0);
    QCOMPARE(m.itemsCount(), 3);
    QCOMPARE(m.model()->rowCount(), 3);
    QCOMPARE(rowOf(m, 0)["name"].toString(), QString("album")); // folders first
    QCOMPARE(rowOf(m, 1)["name"].toString(), QString("a.txt"));
    QCOMPARE(rowOf(m, 2)["name"].toString(), QString("b.png"));

    for (int r : {0, 1}) {
        const QVariantMap row = rowOf(m, r);
        QCOMPARE(row.keys(), QStringList({"checked", "folder", "icon", "name", "row", "thumb", "uid"}));
        QCOMPARE(row["row"].toInt(), r);
        QCOMPARE(row["folder"].toBool(), r == 0);
        QCOMPARE(row["icon"].toString(), QString(r == 0 ? "qrc:/res/icon_folder.png" : "qrc:/res/icon_file.png"));
        QCOMPARE(row["thumb"].toString(), QString());
        QCOMPARE(row["checked"].toBool(), false);
    }
    const QVariantMap png = rowOf(m, 2);
    const QString uid = QString::fromStdString(shareUid("b.png"));
    QCOMPARE(png["uid"].toString(), uid);
    const QString address =
        QString("image://curl/https://127.0.0.1:%1/share/thumb/%2?mime=image/png").arg(m_bob->port).arg(uid);
    QCOMPARE(png["icon"].toString(), address);
    QCOMPARE(png["thumb"].toString(), address);
    QVERIFY(rowOf(m, 3).isEmpty());

    // The address reaches the other device's thumbnail without a password.
    CURLHelper2 request;
    QVERIFY(request.prepare(address.mid(QString("image://curl/").size()).toStdString(), {}));
    const std::string body = request.response();
    QCOMPARE(request.statusCode(), 200);
    QCOMPARE(QImage::fromData(QByteArray::fromStdString(body)).size(), QSize(256, 128));
}

void TestDeviceModel::header_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("subName");
    QTest::addColumn<QString>("icon");
    QTest::newRow("default port") << 20168 << "mac"
                                  << "127.0.0.9"
                                  << "qrc:/res/mac-device.png";
    QTest::newRow("other port") << 20200 << "android"
                                << "127.0.0.9:20200"
                                << "qrc:/res/android-device.png";
    QTest::newRow("this platform") << 1 << "win"
                                   << "127.0.0.9:1"
                                   << "qrc:/res/win-device.png";
}

void TestDeviceModel::header()
{
    QFETCH(int, port);
    QFETCH(QString, type);
    QFETCH(QString, subName);
    QFETCH(QString, icon);
    DeviceModel m;
    QSignalSpy names(&m, &DeviceModel::nameChanged);
    LanferryUdpServer::ServerItem item;
    item.ip = "127.0.0.9";
    item.port = port;
    item.info = ServerInfo{"uid", "Carol's laptop", "", type.toStdString(), port};
    m.open(item);
    QCOMPARE(m.name(), QString("Carol's laptop"));
    QCOMPARE(m.subName(), subName);
    QCOMPARE(m.iconSrc(), icon);
    QCOMPARE(names.count(), 1);
    QVERIFY(QTest::qWaitFor([&] { return !m.isLoading(); }, 30000));
    m_boxes->clear(); // whatever answers at that address, if anything
}

void TestDeviceModel::selectCount()
{
    DeviceModel m;
    QVERIFY(openAndWait(m, bobItem()));
    QSignalSpy counts(&m, &DeviceModel::selectCountChanged);
    QSignalSpy changed(m.model(), &QAbstractItemModel::dataChanged);

    m.checkAll(true);
    QCOMPARE(m.selectCount(), 3);
    QVERIFY(rowOf(m, 2)["checked"].toBool());
    m.check(0, false);
    QCOMPARE(m.selectCount(), 2);
    QVERIFY(!rowOf(m, 0)["checked"].toBool());
    QCOMPARE(counts.count(), 2);
    changed.clear();
    m.check(3, true);
    m.check(-1, false);
    QCOMPARE(m.selectCount(), 2);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(counts.count(), 2);

    // A fresh list clears the checks but leaves the count to the next check.
    QVERIFY(openAndWait(m, bobItem()));
    QCOMPARE(m.itemsCount(), 3);
    for (int r = 0; r < 3; ++r)
        QVERIFY(!rowOf(m, r)["checked"].toBool());
    QCOMPARE(m.selectCount(), 2);
    m.check(1, true);
    QCOMPARE(m.selectCount(), 1);
    m.checkAll(false);
    QCOMPARE(m.selectCount(), 0);
}

void TestDeviceModel::downloadIntoChosenFolder()
{
    DeviceModel m;
    QVERIFY(openAndWait(m, bobItem()));
    QSignalSpy asks(&m, &DeviceModel::selectSaveRoot);
    m.download(); // nothing checked
    QCOMPARE(asks.count(), 0);

    m.check(0, true); // album
    m.check(2, true); // b.png
    m.download();
    QCOMPARE(asks.count(), 1);
    // The folder picker was cancelled.
    InputCallbackModel::instance()->callback(asks.takeFirst().at(0).value<InputCallbackModel::Callback>(), {});
    QVERIFY(!m.isLoading());
    QTest::qWait(300);
    QCOMPARE(m_bob->countOf("toast"), 0);
    QCOMPARE(m_navs->count(), 0);

    m.download();
    QCOMPARE(asks.count(), 1);
    InputCallbackModel::instance()->callback(asks.takeFirst().at(0).value<InputCallbackModel::Callback>(),
                                             {QUrl::fromLocalFile(m_saveTo)});
    QVERIFY(m.isLoading());
    QVERIFY(QTest::qWaitFor([&] { return m_navs->count() == 1; }, 20000));
    QVERIFY(!m.isLoading());
    QCOMPARE(m_navs->first().at(0).toString(), QString("Tasks.qml"));
    QCOMPARE(m_boxes->count(), 0);
    const QJsonObject toast = m_bob->waitEvent("toast");
    QCOMPARE(toast["text"].toString(), QString("The device (me(127.0.0.1)) starts downloading the shared file."));

    std::vector<TransferTask> tasks;
    QVERIFY(TaskStore(false).listTasks(&tasks));
    QCOMPARE(int(tasks.size()), 1);
    const TransferTask stored = tasks[0];
    QCOMPARE(stored.ip, std::string("127.0.0.1"));
    QCOMPARE(stored.port, m_bob->port);
    QCOMPARE(stored.pwd, std::string("secret"));
    QCOMPARE(stored.root, m_saveTo.toStdString());
    QCOMPARE(stored.from_me, 0);
    QVERIFY(QTest::qWaitFor(
        [&] {
            TransferTask task;
            return TaskStore(false).readTask(stored.uid, &task) == 1 && task.status.total == 2 &&
                   task.status.successes == 2;
        },
        60000));
    QCOMPARE(readAll(m_saveTo + "/album/one.txt"), QByteArray("one"));
    QVERIFY(readAll(m_saveTo + "/album/sub/two.bin") == pattern(300000, 2));
    QVERIFY(readAll(m_saveTo + "/b.png") == readAll(m_files + "/b.png"));
    QVERIFY(!QFileInfo::exists(m_saveTo + "/a.txt"));
    TaskStore(false).deleteTask(stored.uid, 1000);
}

void TestDeviceModel::refusals_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("message");
    QTest::newRow("wrong password") << "password"
                                    << "Invalid password.";
    QTest::newRow("sharing turned off") << "disabled"
                                        << "The sharing function has been disabled.";
    QTest::newRow("entry no longer shared") << "gone"
                                            << "Invalid Request(no files).";
}

void TestDeviceModel::refusals()
{
    QFETCH(QString, what);
    QFETCH(QString, message);
    DeviceModel m;
    if (what == "password") {
        QVERIFY(openAndWait(m, bobItem("guess")));
        QCOMPARE(m.itemsCount(), 0);
    } else {
        QVERIFY(openAndWait(m, bobItem()));
        m.check(1, true); // a.txt
        if (what == "disabled")
            m_bobShares->setEnabled(false);
        else
            m_bobShares->removeFile(shareUid("a.txt"));
        QSignalSpy asks(&m, &DeviceModel::selectSaveRoot);
        m.download();
        QCOMPARE(asks.count(), 1);
        InputCallbackModel::instance()->callback(asks.takeFirst().at(0).value<InputCallbackModel::Callback>(),
                                                 {QUrl::fromLocalFile(m_saveTo)});
        QVERIFY(QTest::qWaitFor([&] { return !m.isLoading(); }, 30000));
        QCOMPARE(m.itemsCount(), 3); // the list stays
    }
    QCOMPARE(m_boxes->count(), 1);
    const MessageBoxRequest box = takeBox();
    QCOMPARE(box.msg, message);
    QCOMPARE(box.title, QString());
    QCOMPARE(box.icon, int(MessageBoxContext::Error));
    QCOMPARE(box.roles(), QList<int>{MessageBoxContext::OK});
    QCOMPARE(box.buttons.first().label, QString("OK"));
    QCOMPARE(m_navs->count(), 0);
    std::vector<TransferTask> tasks;
    QVERIFY(TaskStore(false).listTasks(&tasks));
    QVERIFY(tasks.empty());
}

void TestDeviceModel::sendFilesGoesThroughTheDevicesModel()
{
    QVERIFY(m_bob->run("accept " + m_saveTo));
    DeviceModel m;
    QVERIFY(openAndWait(m, bobItem()));
    QSignalSpy prompts(DevicesModel::instance(), &DevicesModel::pwdRequest);
    m.sendFiles({});
    QTest::qWait(200);
    QVERIFY(!DevicesModel::instance()->isLoading());

    m.sendFiles({QUrl::fromLocalFile(writeFile("note.txt", "sent"))});
    QVERIFY(QTest::qWaitFor([&] { return m_navs->count() == 1; }, 20000));
    QCOMPARE(m_navs->first().at(0).toString(), QString("Tasks.qml"));
    QCOMPARE(prompts.count(), 0); // the device's own password was used
    QVERIFY(QTest::qWaitFor([&] { return readAll(m_saveTo + "/note.txt") == "sent"; }, 60000));
    std::vector<TransferTask> sent;
    TaskStore(true).listTasks(&sent);
    for (const TransferTask &t : sent)
        TaskStore(true).deleteTask(t.uid, 1000);
}

void TestDeviceModel::unusableTasksAreRefused_data()
{
    QTest::addColumn<QString>("taskId");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("message");
    QTest::newRow("file placed outside the folder") << "1b4e28ba-2fa1-11d2-883f-0016d3cca427"
                                                    << "../../outside"
                                                    << "The files from carol were refused: ";
    QTest::newRow("task id that names no folder") << "../../evil"
                                                  << ""
                                                  << "";
}

void TestDeviceModel::unusableTasksAreRefused()
{
    QFETCH(QString, taskId);
    QFETCH(QString, root);
    QFETCH(QString, message);
    // A device that shares one entry and answers a download with a task of its making.
    TransferTask task;
    task.uid = taskId.toStdString();
    task.from_me = 0;
    TransferFile file = newTransferFile(task.uid, root.toStdString(), "/x", "", "planted.txt", "text/plain", 1);
    // The wire form carries no folder of its own: a misbehaving device adds one by hand.
    JsonPtr json = transferTaskToJson(task, {file});
    json_object *files = nullptr;
    json_object_object_get_ex(json.get(), "files", &files);
    json_object_object_add(json_object_array_get_idx(files, 0), "root",
                           json_object_new_string(root.toUtf8().constData()));
    const std::string answer = jsonText(json.get());
    RawTlsServer carol([&](const RawTlsServer::Request &req, int) -> RawTlsServer::Reply {
        if (req.requestLine().rfind("POST /share/files ", 0) == 0)
            return {RawTlsServer::answer("HTTP/1.1 200 OK", R"([{"uid":"e1","name":"planted.txt","uri":"/x"}])")};
        return {RawTlsServer::answer("HTTP/1.1 200 OK", answer)};
    });
    LanferryUdpServer::ServerItem item;
    item.ip = "127.0.0.1";
    item.port = carol.port();
    item.info = ServerInfo{"carol-uid", "carol", "", "win", carol.port()};
    DeviceModel m;
    QVERIFY(openAndWait(m, item));
    QCOMPARE(m.itemsCount(), 1);
    m.check(0, true);
    QSignalSpy asks(&m, &DeviceModel::selectSaveRoot);
    m.download();
    InputCallbackModel::instance()->callback(asks.takeFirst().at(0).value<InputCallbackModel::Callback>(),
                                             {QUrl::fromLocalFile(m_saveTo)});
    QVERIFY(QTest::qWaitFor([&] { return !m.isLoading(); }, 30000));
    QCOMPARE(m_boxes->count(), 1);
    const MessageBoxRequest box = takeBox();
    QVERIFY2(box.msg.startsWith(message) && !box.msg.isEmpty(), qPrintable(box.msg));
    QCOMPARE(box.icon, int(MessageBoxContext::Error));
    QCOMPARE(m_navs->count(), 0);
    std::vector<TransferTask> tasks;
    QVERIFY(TaskStore(false).listTasks(&tasks));
    QVERIFY(tasks.empty());
    QVERIFY(!QFileInfo::exists(m_dir->path() + "/outside"));
}

void TestDeviceModel::downloadStartsEveryFileAfresh()
{
    // A device whose download answer says that its file has arrived already,
    // and at a place of its choosing.
    const QString elsewhere = m_dir->path() + "/elsewhere/hello.txt";
    const std::string tid = newUuid(), fid = newUuid();
    QJsonObject file{{"uid", QString::fromStdString(fid)},
                     {"tid", QString::fromStdString(tid)},
                     {"total", 5},
                     {"file_name", "hello.txt"},
                     {"mime", "text/plain"},
                     {"uri", "/x/hello.txt"},
                     {"status", 1},
                     {"offset", 999999},
                     {"error", "planted"},
                     {"save_path", elsewhere}};
    const QJsonObject task{{"uid", QString::fromStdString(tid)},
                           {"remote_uid", "carol-uid"},
                           {"remote_name", "carol"},
                           {"from_me", 1},
                           {"files", QJsonArray{file}}};
    const std::string answer = QJsonDocument(task).toJson(QJsonDocument::Compact).toStdString();
    RawTlsServer carol([&](const RawTlsServer::Request &req, int) -> RawTlsServer::Reply {
        const std::string line = req.requestLine();
        if (line.rfind("GET / ", 0) == 0)
            return {RawTlsServer::answer("HTTP/1.1 200 OK", R"({"uid":"carol-uid","name":"carol","type":"win"})")};
        if (line.rfind("POST /share/files ", 0) == 0)
            return {RawTlsServer::answer("HTTP/1.1 200 OK", R"([{"uid":"e1","name":"hello.txt","uri":"/x"}])")};
        if (line.rfind("POST /share/req ", 0) == 0)
            return {RawTlsServer::answer("HTTP/1.1 200 OK", answer)};
        if (line.rfind("POST /file/read ", 0) == 0) {
            const qint64 from = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object()["offset"].toInt();
            return {RawTlsServer::answer("HTTP/1.1 200 OK", std::string("hello").substr(size_t(qMin(from, qint64(5)))),
                                         "X-EOF: 1\r\n")};
        }
        return {RawTlsServer::answer("HTTP/1.1 200 OK", std::string())};
    });
    LanferryUdpServer::ServerItem item;
    item.ip = "127.0.0.1";
    item.port = carol.port();
    item.info = ServerInfo{"carol-uid", "carol", "", "win", carol.port()};
    DeviceModel m;
    QVERIFY(openAndWait(m, item));
    m.check(0, true);
    QSignalSpy asks(&m, &DeviceModel::selectSaveRoot);
    m.download();
    InputCallbackModel::instance()->callback(asks.takeFirst().at(0).value<InputCallbackModel::Callback>(),
                                             {QUrl::fromLocalFile(m_saveTo)});
    QVERIFY(QTest::qWaitFor([&] { return m_navs->count() == 1; }, 20000));

    // The file is fetched from its first byte into the chosen folder.
    QVERIFY(QTest::qWaitFor(
        [&] {
            TransferTask stored;
            return TaskStore(false).readTask(tid, &stored) == 1 && stored.status.successes == 1;
        },
        30000));
    QCOMPARE(readAll(m_saveTo + "/hello.txt"), QByteArray("hello"));
    QVERIFY(!QFileInfo::exists(elsewhere));
    QStringList reads;
    for (const RawTlsServer::Request &r : carol.requests()) {
        if (r.requestLine().rfind("POST /file/read ", 0) == 0)
            reads << QString::number(
                QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object()["offset"].toInt());
    }
    QCOMPARE(reads.value(0), QString("0"));
    QCOMPARE(m_boxes->count(), 0);
    TaskStore(false).deleteTask(tid, 1000);
}

void TestDeviceModel::closingDoesNotWaitForASilentDevice_data()
{
    QTest::addColumn<bool>("asking");
    QTest::addColumn<int>("rounds");
    QTest::newRow("while it asks") << true << 3;
    // The worker may take up the request as the screen begins to close.
    QTest::newRow("as it is about to ask") << false << 30;
}

void TestDeviceModel::closingDoesNotWaitForASilentDevice()
{
    QFETCH(bool, asking);
    QFETCH(int, rounds);
    // A device that takes requests and never answers them: each would wait
    // for the 30 s stall limit.
    RawTlsServer silent([](const RawTlsServer::Request &, int) -> RawTlsServer::Reply { return {{}, true}; });
    LanferryUdpServer::ServerItem item;
    item.ip = "127.0.0.1";
    item.port = silent.port();
    item.info = ServerInfo{"silent-uid", "silent", "", "win", silent.port()};
    for (int round = 0; round < rounds; ++round) {
        const size_t before = silent.requests().size();
        auto model = std::make_unique<DeviceModel>();
        model->open(item);
        model->open(item); // queued behind the first
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

QTEST_GUILESS_MAIN(TestDeviceModel)
#include "tst_devicemodel.moc"
