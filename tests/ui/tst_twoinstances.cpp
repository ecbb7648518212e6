// Two whole instances in two processes on 127.0.0.1, each with its own data
// folder and port: offers, answers, pulls, stops and resumes, with every
// prompt answered as a user would through the message-box and input objects.
#include "ModelPeerProcess.h"
#include "RawTlsClient.h"
#include "TestFiles.h"

#include "client/LanferryHttpClient.h"
#include "core/Uuid.h"
#include "store/SavePaths.h"
#include "store/TaskStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QtTest>

#include <functional>
#include <memory>

class TestTwoInstances : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void acceptedTaskArrivesWhole();
    void declined_data();
    void declined();
    void stopAndResumeContinuesTheFile();
    void unsafeOfferIsRefused();

private:
    QString writeFile(const QString &rel, const QByteArray &bytes);
    // Waits until the receive task's summary says every file is final.
    bool waitFinished(ModelPeerProcess &peer, const std::string &tid, int timeoutMs, TransferTask *task = nullptr);
    QString send(const QStringList &paths);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelPeerProcess> m_alice, m_bob; // alice sends, bob receives
    QString m_files, m_saveTo;
};

void TestTwoInstances::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_files = m_dir->path() + "/files";
    m_saveTo = m_dir->path() + "/received";
    QDir().mkpath(m_files);
    QDir().mkpath(m_saveTo);
    m_alice = std::make_unique<ModelPeerProcess>(m_dir->path() + "/alice", "alice");
    m_bob = std::make_unique<ModelPeerProcess>(m_dir->path() + "/bob", "bob");
    QVERIFY(!m_alice->waitEvent("ready").isEmpty());
    QVERIFY(!m_bob->waitEvent("ready").isEmpty());
}

void TestTwoInstances::cleanup()
{
    m_alice.reset();
    m_bob.reset();
    m_dir.reset();
}

QString TestTwoInstances::writeFile(const QString &rel, const QByteArray &bytes)
{
    const QString path = m_files + "/" + rel;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

QString TestTwoInstances::send(const QStringList &paths)
{
    m_alice->command(QString("send 127.0.0.1 %1 - %2").arg(m_bob->port).arg(paths.join(' ')));
    const QJsonObject sent =
        m_alice->waitEvent([](const QJsonObject &e) { return e["event"] == "sent" || e["event"] == "error"; });
    return sent["tid"].toString();
}

bool TestTwoInstances::waitFinished(ModelPeerProcess &peer, const std::string &tid, int timeoutMs, TransferTask *out)
{
    return QTest::qWaitFor(
        [&] {
            TransferTask task;
            if (TaskStore(false, peer.path("tasks_recv")).readTask(tid, &task) != 1)
                return false;
            if (out)
                *out = task;
            return task.status.total > 0 && task.status.successes + task.status.failed >= task.status.total;
        },
        timeoutMs);
}

void TestTwoInstances::acceptedTaskArrivesWhole()
{
    const QByteArray big = pattern(3 * 1024 * 1024 + 17, 1);
    writeFile("a.txt", "hello");
    writeFile("big.bin", big);
    writeFile("tree/top.txt", "top");
    writeFile("tree/sub/deeper/deep.bin", pattern(70000, 2));
    writeFile("tree/zero", QByteArray());
    writeFile("tree/we:ird?name*.txt", "odd");
    QDir().mkpath(m_files + "/tree/empty");
    QDir().mkpath(m_files + "/tree/sub/empty-too");

    m_bob->command("accept " + m_saveTo);
    m_bob->waitEvent("done");
    const QString tid = send({m_files + "/a.txt", m_files + "/big.bin", m_files + "/tree"});
    QVERIFY(!tid.isEmpty());

    const QJsonObject prompt = m_bob->waitEvent("box");
    QCOMPARE(prompt["text"].toString(), QString("Want to start receiving 3 files sent by the device (alice)?"));
    QCOMPARE(prompt["icon"].toInt(), 3);
    QCOMPARE(prompt["buttons"].toVariant().toList(), QVariantList({4, 8}));
    QCOMPARE(prompt["labels"].toVariant().toList(), QVariantList({"Yes", "No"}));
    QVERIFY(!m_bob->waitEvent("selectSaveRoot").isEmpty());
    QCOMPARE(m_bob->waitEvent("nav")["qml"].toString(), QString("Tasks.qml"));

    TransferTask task;
    QVERIFY(waitFinished(*m_bob, tid.toStdString(), 60000, &task));
    QCOMPARE(task.status.successes, 3);
    QCOMPARE(task.status.failed, 0);
    QCOMPARE(task.root, QDir(m_saveTo).absolutePath().toStdString());
    std::vector<TransferTask> waiting;
    TaskStore(false, m_bob->path("tasks_tmp")).listTasks(&waiting);
    QVERIFY(waiting.empty());

    QCOMPARE(readAll(m_saveTo + "/a.txt"), QByteArray("hello"));
    QVERIFY(readAll(m_saveTo + "/big.bin") == big);
    QCOMPARE(readAll(m_saveTo + "/tree/top.txt"), QByteArray("top"));
    QVERIFY(readAll(m_saveTo + "/tree/sub/deeper/deep.bin") == pattern(70000, 2));
    QCOMPARE(readAll(m_saveTo + "/tree/zero"), QByteArray());
    // Only a top-level name is escaped; names inside a folder are kept as the sender lists them.
    QCOMPARE(readAll(m_saveTo + "/tree/we:ird?name*.txt"), QByteArray("odd"));
    QVERIFY(QFileInfo(m_saveTo + "/tree/empty").isDir());
    QVERIFY(QFileInfo(m_saveTo + "/tree/sub/empty-too").isDir());
    // No partial file is left.
    QCOMPARE(QDir(m_saveTo).entryList({"*.downloading"}, QDir::Files | QDir::Hidden), QStringList());

    // The sender stored what it was told: every file final and successful, as the other side reported it.
    QVERIFY(QTest::qWaitFor(
        [&] {
            std::vector<TransferFile> sent;
            if (TaskStore(true, m_alice->path("tasks_send")).readTaskFiles(tid.toStdString(), &sent) != 1)
                return false;
            for (const TransferFile &f : sent) {
                if (f.status.status != 1 || !f.status.remote)
                    return false;
            }
            return sent.size() == 3;
        },
        20000));
    QVERIFY(QTest::qWaitFor(
        [&] {
            TransferTask sent;
            return TaskStore(true, m_alice->path("tasks_send")).readTask(tid.toStdString(), &sent) == 1 &&
                   sent.status.successes == 3;
        },
        20000));
}

void TestTwoInstances::declined_data()
{
    QTest::addColumn<QString>("policy");
    QTest::newRow("No") << "decline";
    QTest::newRow("folder choice cancelled") << "cancel";
    QTest::newRow("folder does not exist") << "accept /nonexistent/folder";
}

void TestTwoInstances::declined()
{
    QFETCH(QString, policy);
    m_bob->command(policy);
    m_bob->waitEvent("done");
    const QString tid = send({writeFile("x.txt", "x")});
    QVERIFY(!tid.isEmpty());
    const QJsonObject refusal = m_alice->waitEvent("box");
    QCOMPARE(refusal["text"].toString(), QString("The device (bob) refused to receive the file."));
    QCOMPARE(refusal["icon"].toInt(), 2);
    QVERIFY(QTest::qWaitFor(
        [&] {
            return !QFileInfo::exists(QString::fromStdString(m_alice->path("tasks_send") + "/" + tid.toStdString()));
        },
        10000));
    std::vector<TransferTask> waiting, received;
    QVERIFY(QTest::qWaitFor(
        [&] {
            waiting.clear();
            TaskStore(false, m_bob->path("tasks_tmp")).listTasks(&waiting);
            return waiting.empty();
        },
        10000));
    TaskStore(false, m_bob->path("tasks_recv")).listTasks(&received);
    QVERIFY(received.empty());
}

void TestTwoInstances::stopAndResumeContinuesTheFile()
{
    const QByteArray content = pattern(100 * 1024 * 1024, 3);
    writeFile("large.bin", content);
    m_bob->command("accept " + m_saveTo);
    m_bob->waitEvent("done");
    const QString tid = send({m_files + "/large.bin"});
    QVERIFY(!tid.isEmpty());

    auto storedFile = [&] {
        std::vector<TransferFile> files;
        TaskStore(false, m_bob->path("tasks_recv")).readTaskFiles(tid.toStdString(), &files);
        return files.size() == 1 ? files[0] : TransferFile();
    };
    // Stop as soon as the first piece is on record.
    QVERIFY(QTest::qWaitFor([&] { return storedFile().status.offset > 0; }, 30000));
    // Named after the file's id, which is on record by now (not yet when send() returns).
    const QString partial =
        m_saveTo + "/" + QString::fromStdString(partialFileName("large.bin", tid.toStdString(), storedFile().uid, ""));
    m_bob->command("stop " + tid);
    m_bob->waitEvent([](const QJsonObject &e) { return e["event"] == "done" && e["command"] == "stop"; });
    QTest::qWait(500); // a stopped run records nothing more

    // Stopped half way: the partial file and its offset stay.
    const TransferFile stopped = storedFile();
    QCOMPARE(stopped.status.status, 0);
    QVERIFY2(stopped.status.offset < content.size(), "the stop came too late to test a resume");
    QVERIFY(QFileInfo(partial).size() >= stopped.status.offset);
    QVERIFY(!QFileInfo::exists(m_saveTo + "/large.bin"));
    QTest::qWait(300);
    QCOMPARE(storedFile().status.offset, stopped.status.offset); // nothing moves while stopped

    m_bob->command("start " + tid);
    QVERIFY(waitFinished(*m_bob, tid.toStdString(), 90000));
    QVERIFY(readAll(m_saveTo + "/large.bin") == content);
}

void TestTwoInstances::unsafeOfferIsRefused()
{
    m_bob->command("accept " + m_saveTo);
    m_bob->waitEvent("done");
    // A sender that names a file's folder "../../outside".
    TransferTask task = newOutgoingTask("", 1, m_bob->uid.toStdString(), "bob", "win");
    task.remote_uid = "evil-uid";
    task.remote_name = "mallory";
    task.local_uid = m_bob->uid.toStdString();
    task.from_me = 0;
    TransferFile file = newTransferFile(task.uid, "", "/x", "", "planted.txt", "text/plain", 1);
    // Our own client never sends a file's "root"; a hostile one does.
    JsonPtr offer = transferTaskToJson(task, {file});
    json_object *files = nullptr;
    QVERIFY(json_object_object_get_ex(offer.get(), "files", &files));
    jsonAdd(json_object_array_get_idx(files, 0), "root", "../../outside");
    RawTlsClient raw;
    QVERIFY(raw.connect(m_bob->port));
    QVERIFY(raw.send(RawTlsClient::post("/task/recv", jsonText(offer.get()))));
    QCOMPARE(raw.readAnswer().status, 200);
    const QJsonObject refusal = m_bob->waitEvent([](const QJsonObject &e) {
        return e["event"] == "box" && e["text"].toString().startsWith("The task from mallory was refused");
    });
    QVERIFY(!refusal.isEmpty());
    QCOMPARE(refusal["icon"].toInt(), 4);
    std::vector<TransferTask> waiting, received;
    TaskStore(false, m_bob->path("tasks_tmp")).listTasks(&waiting);
    TaskStore(false, m_bob->path("tasks_recv")).listTasks(&received);
    QVERIFY(waiting.empty());
    QVERIFY(received.empty());
    QVERIFY(!QFileInfo::exists(m_dir->path() + "/outside"));
}

QTEST_GUILESS_MAIN(TestTwoInstances)
#include "tst_twoinstances.moc"
