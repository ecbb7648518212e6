// The task store on real files: task folders, "manifest.db", the summary and
// per-file status files, listing, removal, crash safety and concurrent use.
#include "store/TaskManifestDb.h"
#include "store/TaskStore.h"

#include "core/AtomicFile.h"
#include "core/DataFolder.h"
#include "SchemaDump.h"
#include "TempDataHome.h"

#include <QtTest>

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace {

TransferTask makeTask(const std::string &uid, int fromMe = 1)
{
    TransferTask t;
    t.uid = uid;
    t.ip = "10.1.2.3";
    t.port = 20168;
    t.pwd = "pw";
    t.remote_uid = "peer";
    t.remote_name = "Peer PC";
    t.remote_type = "win";
    t.local_uid = "me";
    t.from_me = fromMe;
    t.started = 1;
    t.root = "/save";
    t.created = 1700000000;
    return t;
}

TransferFile makeFile(const std::string &uid, int status = 0)
{
    TransferFile f;
    f.uid = uid;
    f.tid = "ignored: the task's uid is written";
    f.shareid = "share-" + uid;
    f.root = "dir";
    f.uri = "/src/" + uid;
    f.thumb = "thumb-" + uid;
    f.save_path = "/save/dir/" + uid;
    f.file_name = uid + ".bin";
    f.mime = "application/octet-stream";
    f.total = 1000;
    f.status.status = status;
    f.status.offset = status > 0 ? 1000 : 0;
    f.status.error = status < 0 ? "failed " + uid : "";
    return f;
}

bool exists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string readText(const std::string &path)
{
    std::string text;
    readWholeFile(path, &text);
    return text;
}

// Rewrites one file's and the task's status files as fast as it can, with
// sizes that vary so a torn write would show. Runs until killed.
int rewriteStatusForever(const std::string &root, const std::string &tid, const std::string &fid)
{
    TaskStore store(false, root);
    for (int64_t i = 1;; ++i) {
        TransferFileStatus s;
        s.offset = i;
        s.desc = std::string(static_cast<size_t>(1 + (i * 7919) % 200000), 'd');
        TransferTaskStatus t;
        t.total = static_cast<int32_t>(i);
        t.error = std::string(static_cast<size_t>((i * 104729) % 100000), 'e');
        if (!store.writeFileStatus(tid, fid, s) || !store.writeTaskStatus(tid, t)) {
            std::fprintf(stderr, "%s\n", store.lastError().c_str());
            return 1;
        }
    }
}

const char *kRewriteArg = "--rewrite-status-forever";

} // namespace

class TestTaskStore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void rootsAndSchema();
    void createAndReadBack();
    void createWithoutFiles();
    void createReplacesRowsOfTheSameUids();
    void failureOnThirdFileRowLeavesNothing();
    void summary_data();
    void summary();
    void fileStatusFiles();
    void listTasksTakesDirectionFromTheFolder();
    void deleteTask();
    void updateServerInfo();
    void errorTexts();
    void unsafeIdsNeverLeaveTheStore();
    void killedWriterLeavesCompleteStatusFiles();
    void concurrentWritersAndReaders();

private:
    std::unique_ptr<TempDataHome> m_home;
};

void TestTaskStore::init()
{
    m_home = std::make_unique<TempDataHome>();
}

void TestTaskStore::cleanup()
{
    m_home.reset();
}

void TestTaskStore::rootsAndSchema()
{
    const std::string data = m_home->dataFolderPath();
    QCOMPARE(TaskStore(true).root(), data + "/tasks_send");
    QCOMPARE(TaskStore(false).root(), data + "/tasks_recv");
    QCOMPARE(tmpTasksRoot(), data + "/tasks_tmp");
    QVERIFY(!exists(data + "/tasks_tmp"));
    TaskStore tmp(false, tmpTasksRoot());
    QVERIFY(exists(data + "/tasks_tmp"));
    QCOMPARE(tmp.taskDir("abc"), data + "/tasks_tmp/abc");

    TaskStore store(true);
    QVERIFY(store.createTask(makeTask("t1"), {makeFile("f1")}));
    TaskManifestDb db(data + "/tasks_send/t1/manifest.db");
    QVERIFY(db.ensureOpen());
    QCOMPARE(columnsOf(db, "task"),
             (QStringList{"uid|VARCHAR|0||1", "ip|VARCHAR|0||0", "port|INTEGER|0||0", "pwd|VARCHAR|0||0",
                          "remote_uid|VARCHAR|0||0", "remote_name|VARCHAR|0||0", "remote_type|VARCHAR|0||0",
                          "local_uid|VARCHAR|0||0", "from_me|INTEGER|1|0|0", "started|INTEGER|1|0|0",
                          "root|VARCHAR|0||0", "created|INTEGER|1|0|0"}));
    QCOMPARE(columnsOf(db, "file"),
             (QStringList{"uid|VARCHAR|0||1", "tid|VARCHAR|1||0", "shareid|VARCHAR|0||0", "status|INTEGER|1|0|0",
                          "error|VARCHAR|0||0", "uri|VARCHAR|1||0", "root|VARCHAR|1||0", "thumb|VARCHAR|0||0",
                          "offset|INTEGER|1|0|0", "total|INTEGER|1|0|0", "save_path|VARCHAR|0||0",
                          "file_name|VARCHAR|0||0", "mime|VARCHAR|0||0"}));
    QCOMPARE(schemaSql(db, "index", "idx_file_tid"), QString("CREATE INDEX idx_file_tid on file(tid)"));
    QCOMPARE(journalMode(db), QString("wal"));
}

void TestTaskStore::createAndReadBack()
{
    TaskStore store(true);
    const TransferTask task = makeTask("t1");
    QVERIFY2(store.createTask(task, {makeFile("f1", 1), makeFile("f2", -3)}), store.lastError().c_str());

    TransferTask t;
    QCOMPARE(store.readTask("t1", &t), 1);
    QCOMPARE(t.uid, task.uid);
    QCOMPARE(t.ip, task.ip);
    QCOMPARE(t.port, task.port);
    QCOMPARE(t.pwd, task.pwd);
    QCOMPARE(t.remote_uid, task.remote_uid);
    QCOMPARE(t.remote_name, task.remote_name);
    QCOMPARE(t.remote_type, task.remote_type);
    QCOMPARE(t.local_uid, task.local_uid);
    QCOMPARE(t.from_me, 1);
    QCOMPARE(t.started, 1);
    QCOMPARE(t.root, task.root);
    QCOMPARE(t.created, task.created);

    std::vector<TransferFile> files;
    QVERIFY(store.readTaskFiles("t1", &files) > 0);
    QCOMPARE(files.size(), size_t(2));
    const TransferFile expected = makeFile("f2", -3);
    TransferFile f;
    QCOMPARE(store.readTaskFile("t1", "f2", &f), 1);
    QCOMPARE(f.uid, expected.uid);
    QCOMPARE(f.tid, std::string("t1"));
    QCOMPARE(f.shareid, expected.shareid);
    QCOMPARE(f.root, expected.root);
    QCOMPARE(f.uri, expected.uri);
    QCOMPARE(f.thumb, expected.thumb);
    QCOMPARE(f.save_path, expected.save_path);
    QCOMPARE(f.file_name, expected.file_name);
    QCOMPARE(f.mime, expected.mime);
    QCOMPARE(f.total, expected.total);
    QCOMPARE(f.status.status, -3);
    QCOMPARE(f.status.error, std::string("failed f2"));

    QCOMPARE(store.readTaskFile("t1", "nope", &f), 0);
    QCOMPARE(store.readTaskFile("missing", "f1", &f), 0);
    QVERIFY(!exists(store.taskDir("missing")));
}

void TestTaskStore::createWithoutFiles()
{
    TaskStore store(false);
    QVERIFY(store.createTask(makeTask("t1", 0), {}));
    TransferTask t;
    QCOMPARE(store.readTask("t1", &t), 1);
    QCOMPARE(t.status.total, 0);
    std::vector<TransferFile> files{TransferFile()};
    QVERIFY(store.readTaskFiles("t1", &files) > 0);
    QVERIFY(files.empty());
}

void TestTaskStore::createReplacesRowsOfTheSameUids()
{
    TaskStore store(true);
    QVERIFY(store.createTask(makeTask("t1"), {makeFile("a"), makeFile("b")}));
    TransferTask changed = makeTask("t1");
    changed.remote_name = "Renamed";
    TransferFile b = makeFile("b", 1);
    b.file_name = "b2.bin";
    QVERIFY(store.createTask(changed, {b, makeFile("c")}));

    TransferTask t;
    QCOMPARE(store.readTask("t1", &t), 1);
    QCOMPARE(t.remote_name, std::string("Renamed"));
    std::vector<TransferFile> files;
    QVERIFY(store.readTaskFiles("t1", &files) > 0);
    std::map<std::string, TransferFile> byUid;
    for (const auto &f : files)
        byUid[f.uid] = f;
    QCOMPARE(byUid.size(), size_t(3));
    QCOMPARE(byUid["a"].file_name, std::string("a.bin"));
    QCOMPARE(byUid["b"].file_name, std::string("b2.bin"));
    QCOMPARE(byUid["b"].status.status, 1);
    QVERIFY(byUid.count("c"));
}

void TestTaskStore::failureOnThirdFileRowLeavesNothing()
{
    TaskStore store(true);
    const std::string dir = store.taskDir("t1");
    QVERIFY(QDir().mkpath(QString::fromStdString(dir)));
    {
        // A database whose file table refuses a third row.
        TaskManifestDb db(dir + "/manifest.db");
        QVERIFY(db.ensureOpen());
        QVERIFY(db.exec("CREATE TRIGGER refuse_third BEFORE INSERT ON file "
                        "WHEN (SELECT count(*) FROM file) >= 2 BEGIN SELECT RAISE(ABORT, 'third row refused'); END"));
    }
    QVERIFY(!store.createTask(makeTask("t1"), {makeFile("a"), makeFile("b"), makeFile("c")}));
    QCOMPARE(store.lastError(), std::string("Create task failed. third row refused"));
    QVERIFY(!exists(dir));
    std::vector<TransferTask> tasks;
    QVERIFY(store.listTasks(&tasks));
    QVERIFY(tasks.empty());
}

void TestTaskStore::summary_data()
{
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<QByteArray>("statusFile"); // empty: none
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("successes");
    QTest::addColumn<int>("failed");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<QString>("error");

    const QList<int> mixed{1, 1, -2, 0};
    QTest::newRow("from the file rows") << mixed << QByteArray() << 4 << 2 << 1 << false << "";
    QTest::newRow("status file with only total")
        << mixed << QByteArray(R"({"total": 9})") << 9 << 0 << 0 << false << "";
    QTest::newRow("full status file") << mixed
                                      << QByteArray(R"({"total":5,"failed":2,"remote":true,"successes":3,"error":"x"})")
                                      << 5 << 3 << 2 << true << "x";
    QTest::newRow("status file not JSON") << mixed << QByteArray(R"({"total": 9)") << 4 << 2 << 1 << false << "";
    QTest::newRow("status file an array") << mixed << QByteArray("[1,2]") << 4 << 2 << 1 << false << "";
    QTest::newRow("no files") << QList<int>() << QByteArray() << 0 << 0 << 0 << false << "";
}

void TestTaskStore::summary()
{
    QFETCH(QList<int>, statuses);
    QFETCH(QByteArray, statusFile);
    TaskStore store(true);
    std::vector<TransferFile> files;
    for (int i = 0; i < statuses.size(); ++i)
        files.push_back(makeFile("f" + std::to_string(i), statuses[i]));
    QVERIFY(store.createTask(makeTask("t1"), files));
    if (!statusFile.isEmpty())
        QVERIFY(writeFileAtomic(store.taskDir("t1") + "/status", statusFile.toStdString()));

    TransferTask t;
    QCOMPARE(store.readTask("t1", &t), 1);
    QTEST(t.status.total, "total");
    QTEST(t.status.successes, "successes");
    QTEST(t.status.failed, "failed");
    QTEST(t.status.remote, "remote");
    QTEST(QString::fromStdString(t.status.error), "error");
}

void TestTaskStore::fileStatusFiles()
{
    TaskStore store(false);
    QVERIFY(store.createTask(makeTask("t1", 0), {makeFile("f1"), makeFile("f2", -1)}));
    const std::string dir = store.taskDir("t1");

    TransferFileStatus s;
    s.status = 1;
    s.remote = true;
    s.offset = 5000000000LL;
    QVERIFY(store.writeFileStatus("t1", "f1", s));
    QCOMPARE(readText(dir + "/f1"),
             std::string(R"({ "status": 1, "remote": true, "offset": 5000000000, "error": "" })"));

    TransferTaskStatus ts;
    ts.total = 2;
    ts.successes = 1;
    QVERIFY(store.writeTaskStatus("t1", ts));
    QCOMPARE(readText(dir + "/status"),
             std::string(R"({ "total": 2, "failed": 0, "remote": false, "successes": 1, "error": "" })"));

    // Leftovers of a crashed write, and an unreadable status file, change nothing.
    QVERIFY(writeFileAtomic(dir + "/f1.tmp.AbC123", "{\"status\": -9"));
    QVERIFY(writeFileAtomic(dir + "/status.tmp.XyZ789", ""));
    QVERIFY(writeFileAtomic(dir + "/f2", "{\"status\": -"));

    std::vector<TransferFile> files;
    QVERIFY(store.readTaskFiles("t1", &files) > 0);
    QCOMPARE(files.size(), size_t(2));
    for (const TransferFile &f : files) {
        if (f.uid == "f1") {
            QCOMPARE(f.status.status, 1);
            QVERIFY(f.status.remote);
            QCOMPARE(f.status.offset, 5000000000LL);
            QVERIFY(f.status.desc.empty());
        } else {
            QCOMPARE(f.status.status, -1); // from the row: the file does not parse
            QCOMPARE(f.status.error, std::string("failed f2"));
        }
    }
    TransferTask t;
    QCOMPARE(store.readTask("t1", &t), 1);
    QCOMPARE(t.status.total, 2);
    QCOMPARE(t.status.successes, 1);

    s.desc = "listing sub";
    s.error = "e";
    QVERIFY(store.writeFileStatus("t1", "f2", s));
    TransferFile f;
    QCOMPARE(store.readTaskFile("t1", "f2", &f), 1);
    QCOMPARE(f.status.desc, std::string("listing sub"));
    QCOMPARE(f.status.error, std::string("e"));
    std::vector<TransferTask> tasks;
    QVERIFY(store.listTasks(&tasks));
    QCOMPARE(tasks.size(), size_t(1));
}

void TestTaskStore::listTasksTakesDirectionFromTheFolder()
{
    TaskStore send(true);
    TaskStore recv(false);
    QVERIFY(send.createTask(makeTask("s1", 0), {})); // the row says otherwise
    QVERIFY(send.createTask(makeTask("s2", 1), {makeFile("f")}));
    QVERIFY(recv.createTask(makeTask("r1", 1), {}));
    QVERIFY(QDir().mkpath(QString::fromStdString(send.taskDir("no-manifest"))));
    QVERIFY(writeFileAtomic(send.root() + "/stray-file", "x"));
    QVERIFY(writeFileAtomic(send.taskDir("s2") + "/status.tmp.q1w2e3", "{"));

    std::vector<TransferTask> tasks;
    QVERIFY(send.listTasks(&tasks));
    QStringList uids;
    for (const auto &t : tasks) {
        uids << QString::fromStdString(t.uid);
        QCOMPARE(t.from_me, 1);
    }
    uids.sort();
    QCOMPARE(uids, (QStringList{"s1", "s2"}));

    std::vector<TransferTask> received{makeTask("kept")};
    QVERIFY(recv.listTasks(&received));
    QCOMPARE(received.size(), size_t(2)); // appends
    QCOMPARE(received[1].uid, std::string("r1"));
    QCOMPARE(received[1].from_me, 0);
}

void TestTaskStore::deleteTask()
{
    TaskStore store(true);
    QVERIFY(store.createTask(makeTask("t1"), {makeFile("f1")}));
    QVERIFY(store.writeFileStatus("t1", "f1", TransferFileStatus()));
    QVERIFY(QDir().mkpath(QString::fromStdString(store.taskDir("t1") + "/nested/deeper")));

    QVERIFY(!store.deleteTask("t1", 0)); // no attempt at all
    QVERIFY(QString::fromStdString(store.lastError()).startsWith("Remove task failed. "));
    QVERIFY(exists(store.taskDir("t1")));

    QVERIFY(store.deleteTask("t1", 200));
    QVERIFY(!exists(store.taskDir("t1")));
    QVERIFY(exists(store.root()));
    QVERIFY(store.deleteTask("t1", 200)); // already gone
}

void TestTaskStore::updateServerInfo()
{
    TaskStore store(false);
    QVERIFY(store.createTask(makeTask("t1", 0), {makeFile("f1")}));
    QVERIFY(store.updateServerInfo("t1", "192.168.0.9", 30001, "new"));
    TransferTask t;
    QCOMPARE(store.readTask("t1", &t), 1);
    QCOMPARE(t.ip, std::string("192.168.0.9"));
    QCOMPARE(t.port, 30001);
    QCOMPARE(t.pwd, std::string("new"));
    QCOMPARE(t.remote_name, std::string("Peer PC"));
}

void TestTaskStore::errorTexts()
{
    TaskStore store(true);
    QVERIFY(!store.createTask(makeTask(""), {}));
    QCOMPARE(store.lastError(), std::string("Invalid Task ID."));
    QVERIFY(!store.writeTaskStatus("", TransferTaskStatus()));
    QCOMPARE(store.lastError(), std::string("Invalid task ID."));
    QVERIFY(!store.writeFileStatus("t1", "", TransferFileStatus()));
    QCOMPARE(store.lastError(), std::string("Invalid task or file ID."));
    QVERIFY(!store.writeFileStatus("", "f1", TransferFileStatus()));
    QCOMPARE(store.lastError(), std::string("Invalid task or file ID."));

    // The task folder is gone: the writes do not bring it back.
    QVERIFY(!store.writeFileStatus("gone", "f1", TransferFileStatus()));
    QCOMPARE(store.lastError(), std::string("Write file status failed. Write file error. No such file or directory"));
    QVERIFY(!store.writeTaskStatus("gone", TransferTaskStatus()));
    QCOMPARE(store.lastError(), std::string("Write task status failed. Write file error. No such file or directory"));
    QVERIFY(!exists(store.taskDir("gone")));

    TransferTask t;
    QVERIFY(store.readTask("gone", &t) < 0);
    QCOMPARE(store.lastError(), std::string("Read task failed. unable to open database file"));

    // A "manifest.db" that cannot be opened.
    QVERIFY(QDir().mkpath(QString::fromStdString(store.taskDir("bad") + "/manifest.db")));
    QVERIFY(store.readTask("bad", &t) < 0);
    QCOMPARE(store.lastError(), std::string("Read task failed. DB Error(14): unable to open database file"));
    std::vector<TransferFile> files;
    QVERIFY(store.readTaskFiles("bad", &files) < 0);
    QCOMPARE(store.lastError(), std::string("Read task files failed. DB Error(14): unable to open database file"));
    TransferFile f;
    QVERIFY(store.readTaskFile("bad", "f1", &f) < 0);
    QCOMPARE(store.lastError(), std::string("Read task file failed. DB Error(14): unable to open database file"));
    QVERIFY(!store.updateServerInfo("bad", "", 1, ""));
    QCOMPARE(store.lastError(), std::string("DB Error(14): unable to open database file"));

    // A file that is not a database opens (SQLite reads lazily) and fails on the query.
    QVERIFY(QDir().mkpath(QString::fromStdString(store.taskDir("junk"))));
    QVERIFY(writeFileAtomic(store.taskDir("junk") + "/manifest.db", std::string(4096, 'j')));
    QVERIFY(store.readTask("junk", &t) < 0);
    QCOMPARE(store.lastError(), std::string("Read task failed. file is not a database"));
    QVERIFY(!store.updateServerInfo("junk", "", 1, ""));
    QCOMPARE(store.lastError(), std::string("Update task server information failed. file is not a database"));
}

void TestTaskStore::unsafeIdsNeverLeaveTheStore()
{
    const std::string data = m_home->dataFolderPath();
    TaskStore store(false);
    QVERIFY(store.createTask(makeTask("t1", 0), {makeFile("f1")}));
    const std::string victim = data + "/victim";
    QVERIFY(writeFileAtomic(victim, "keep"));

    QVERIFY(!store.createTask(makeTask("../escaped", 0), {}));
    QCOMPARE(store.lastError(), std::string("Invalid Task ID."));
    QVERIFY(!exists(data + "/escaped"));
    QVERIFY(!store.createTask(makeTask("t2", 0), {makeFile("status")}));
    QCOMPARE(store.lastError(), std::string("Create task failed. Invalid file ID."));
    QVERIFY(!store.createTask(makeTask("t2", 0), {makeFile("../../victim")}));
    QVERIFY(!exists(store.taskDir("t2")));

    QVERIFY(!store.writeFileStatus("t1", "../../victim", TransferFileStatus()));
    QVERIFY(!store.writeFileStatus("..", "victim", TransferFileStatus()));
    QVERIFY(!store.writeFileStatus("t1", "status", TransferFileStatus()));
    QCOMPARE(readText(victim), std::string("keep"));

    QVERIFY(!store.deleteTask("", 200));
    QVERIFY(!store.deleteTask("..", 200));
    QVERIFY(!store.deleteTask(".", 200));
    QCOMPARE(store.lastError(), std::string("Remove task failed. Invalid task ID."));
    QVERIFY(exists(store.taskDir("t1") + "/manifest.db"));
    QVERIFY(exists(victim));
}

void TestTaskStore::killedWriterLeavesCompleteStatusFiles()
{
    TaskStore store(false, tmpTasksRoot());
    QVERIFY(store.createTask(makeTask("t1", 0), {makeFile("f1")}));
    const std::string fileStatus = store.taskDir("t1") + "/f1";
    const std::string taskStatus = store.taskDir("t1") + "/status";
    std::mt19937 random(12345);

    for (int round = 0; round < 40; ++round) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {kRewriteArg, QString::fromStdString(store.root()), "t1", "f1"});
        QVERIFY(child.waitForStarted());
        // The first round waits for the first complete write; later rounds
        // kill at any moment, the start included.
        QTRY_VERIFY_WITH_TIMEOUT(round > 0 || exists(taskStatus), 20000);
        QThread::msleep(random() % 40);
        QCOMPARE(child.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        for (const std::string &path : {fileStatus, taskStatus}) {
            JsonPtr parsed = jsonParse(readText(path));
            QVERIFY2(parsed && json_object_is_type(parsed.get(), json_type_object), path.c_str());
        }
        TransferFile f;
        QCOMPARE(store.readTaskFile("t1", "f1", &f), 1);
        QVERIFY(f.status.offset >= 1); // the row says 0: the status file was used
        QCOMPARE(f.status.desc.size(), static_cast<size_t>(1 + (f.status.offset * 7919) % 200000));
        TransferTask t;
        QCOMPARE(store.readTask("t1", &t), 1);
        QVERIFY(t.status.total >= 1);
        QCOMPARE(t.status.error.size(), static_cast<size_t>((int64_t(t.status.total) * 104729) % 100000));
    }
    std::vector<TransferTask> tasks;
    QVERIFY(store.listTasks(&tasks));
    QCOMPARE(tasks.size(), size_t(1));
}

void TestTaskStore::concurrentWritersAndReaders()
{
    constexpr int kThreads = 8;
    std::vector<TransferFile> files;
    for (int i = 0; i < kThreads; ++i)
        files.push_back(makeFile("f" + std::to_string(i)));
    QVERIFY(TaskStore(false).createTask(makeTask("t1", 0), files));

    std::atomic<int> errors{0};
    std::atomic<long> rounds{0};
    std::mutex firstErrorMutex;
    std::string firstError;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    auto worker = [&](int index) {
        const std::string fid = "f" + std::to_string(index);
        auto fail = [&](const std::string &what) {
            ++errors;
            std::lock_guard<std::mutex> lock(firstErrorMutex);
            if (firstError.empty())
                firstError = what;
        };
        for (int64_t n = 1; std::chrono::steady_clock::now() < deadline; ++n) {
            TaskStore store(false);
            TransferFileStatus s;
            s.offset = n;
            if (!store.writeFileStatus("t1", fid, s))
                fail(store.lastError());
            TransferTask t;
            if (store.readTask("t1", &t) != 1 || t.status.total != kThreads)
                fail("readTask: " + store.lastError());
            TransferFile f;
            if (store.readTaskFile("t1", fid, &f) != 1 || f.status.offset != n)
                fail("readTaskFile: " + store.lastError());
            std::vector<TransferFile> all;
            if (store.readTaskFiles("t1", &all) != 1 || all.size() != kThreads)
                fail("readTaskFiles: " + store.lastError());
            if (n % 8 == index) {
                if (!store.updateServerInfo("t1", "10.0.0." + std::to_string(index), 20168, "pw"))
                    fail(store.lastError());
                TransferTaskStatus ts;
                ts.total = kThreads;
                if (!store.writeTaskStatus("t1", ts))
                    fail(store.lastError());
            }
            ++rounds;
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(worker, i);
    for (auto &th : threads)
        th.join();
    QVERIFY2(errors == 0, firstError.c_str());
    QVERIFY(rounds > kThreads);
}

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], kRewriteArg) == 0)
        return rewriteStatusForever(argv[2], argv[3], argv[4]);
    QCoreApplication app(argc, argv);
    TestTaskStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_taskstore.moc"
