// Large requests between two whole instances, as a user makes them: sending
// 400 files in one offer, and downloading 1,000 checked shared entries at
// once. Both requests' bodies are far beyond what a frame takes as a form;
// every file must arrive whole.
#include "ui/Catalogue.h"
#include "ui/DeviceModel.h"
#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/MessageBoxRequest.h"
#include "ui/ServerModel.h"
#include "ui/TaskMgrModel.h"

#include "core/ServerInfo.h"
#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"

// The other instance's program is built beside this test.
#define MODEL_PEER_PATH (QCoreApplication::applicationDirPath() + "/model_peer")
#include "ModelPeerProcess.h"
#include "ThisInstance.h"
#include "TempDataHome.h"
#include "TestFiles.h"

#include <QtTest>

#include <memory>

class TestManyFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void offerOf400Files();
    void downloadOf1000SharedEntries();

private:
    LanferryUdpServer::ServerItem bobItem() const
    {
        LanferryUdpServer::ServerItem item;
        item.ip = "127.0.0.1";
        item.port = m_bob->port;
        item.info = ServerInfo{m_bob->uid.toStdString(), "bob", "secret", "win", m_bob->port};
        return item;
    }
    // count files named f<i>.txt in m_files, each with its own content.
    QStringList writeFiles(int count);
    QString boxes() const;

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelPeerProcess> m_bob;
    std::unique_ptr<QSignalSpy> m_boxes, m_navs;
    QString m_files, m_saveTo;
};

void TestManyFiles::initTestCase()
{
    startThisInstance(m_home);
}

void TestManyFiles::cleanupTestCase()
{
    ServerModel::instance()->stop();
}

void TestManyFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_files = m_dir->path() + "/files";
    m_saveTo = m_dir->path() + "/received";
    QDir().mkpath(m_files);
    QDir().mkpath(m_saveTo);
    m_bob = std::make_unique<ModelPeerProcess>(m_dir->path() + "/bob", "bob", "secret");
    QVERIFY(!m_bob->waitEvent("ready").isEmpty());
    m_boxes = std::make_unique<QSignalSpy>(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    m_navs = std::make_unique<QSignalSpy>(GlobalModel::instance(), &GlobalModel::nav);
}

void TestManyFiles::cleanup()
{
    m_boxes.reset();
    m_navs.reset();
    m_bob.reset();
    m_dir.reset();
}

QStringList TestManyFiles::writeFiles(int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        QFile f(m_files + QString("/f%1.txt").arg(i));
        f.open(QIODevice::WriteOnly);
        f.write(pattern(100 + i, i));
        paths << f.fileName();
    }
    return paths;
}

QString TestManyFiles::boxes() const
{
    QStringList texts;
    for (const QList<QVariant> &b : *m_boxes)
        texts << MessageBoxRequest::fromMap(b.at(0).toMap()).msg;
    return texts.join(" | ");
}

void TestManyFiles::offerOf400Files()
{
    QVERIFY(m_bob->run("accept " + m_saveTo));
    const QStringList paths = writeFiles(400);
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    DeviceModel m;
    m.open(bobItem());
    QVERIFY(QTest::qWaitFor([&] { return !m.isLoading(); }, 30000));
    m.sendFiles(urls);
    QVERIFY2(QTest::qWaitFor([&] { return m_navs->count() == 1 || m_boxes->count() > 0; }, 30000), qPrintable(boxes()));
    QVERIFY2(m_boxes->isEmpty(), qPrintable(boxes()));
    QCOMPARE(m_navs->first().at(0).toString(), QString("Tasks.qml"));

    auto arrived = [&] {
        for (int i = 0; i < paths.size(); ++i) {
            if (QFileInfo(m_saveTo + QString("/f%1.txt").arg(i)).size() != 100 + i)
                return false;
        }
        return true;
    };
    QVERIFY(QTest::qWaitFor(arrived, 300000));
    for (int i = 0; i < paths.size(); ++i)
        QVERIFY2(readAll(m_saveTo + QString("/f%1.txt").arg(i)) == pattern(100 + i, i), qPrintable(paths[i]));
    QVERIFY(m_bob->countOf("box") == 1); // only the offer's question
}

void TestManyFiles::downloadOf1000SharedEntries()
{
    const QStringList paths = writeFiles(1000);
    // The other instance's share store, written as its share screen would.
    ShareFilesDb bobShares(m_bob->path("share"));
    QVERIFY(bobShares.open());
    QVERIFY(bobShares.beginTransaction());
    for (const QString &p : paths)
        bobShares.addFile(
            newShareFile(QFileInfo(p).fileName().toStdString(), p.toStdString(), "text/plain", "", false));
    QVERIFY(bobShares.commit());
    bobShares.setEnabled(true);

    DeviceModel m;
    m.open(bobItem());
    QVERIFY(QTest::qWaitFor([&] { return !m.isLoading(); }, 30000));
    QCOMPARE(m.itemsCount(), 1000);
    m.checkAll(true);
    QCOMPARE(m.selectCount(), 1000);
    QSignalSpy asks(&m, &DeviceModel::selectSaveRoot);
    m.download();
    QCOMPARE(asks.count(), 1);
    InputCallbackModel::instance()->callback(asks.takeFirst().at(0).value<InputCallbackModel::Callback>(),
                                             {QUrl::fromLocalFile(m_saveTo)});
    QVERIFY2(QTest::qWaitFor([&] { return m_navs->count() == 1 || m_boxes->count() > 0; }, 30000), qPrintable(boxes()));
    QVERIFY2(m_boxes->isEmpty(), qPrintable(boxes()));

    std::vector<TransferTask> tasks;
    QVERIFY(TaskStore(false).listTasks(&tasks));
    QCOMPARE(int(tasks.size()), 1);
    const std::string tid = tasks[0].uid;
    QVERIFY(QTest::qWaitFor(
        [&] {
            TransferTask task;
            return TaskStore(false).readTask(tid, &task) == 1 && task.status.total == 1000 &&
                   task.status.successes + task.status.failed == 1000;
        },
        300000));
    TransferTask task;
    QCOMPARE(TaskStore(false).readTask(tid, &task), 1);
    QCOMPARE(task.status.successes, 1000);
    for (int i = 0; i < paths.size(); ++i)
        QVERIFY2(readAll(m_saveTo + QString("/f%1.txt").arg(i)) == pattern(100 + i, i), qPrintable(paths[i]));
    TaskStore(false).deleteTask(tid, 1000);
}

QTEST_GUILESS_MAIN(TestManyFiles)
#include "tst_manyfiles.moc"
