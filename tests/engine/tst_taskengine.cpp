// The task engine against the real HTTPS service over loopback: one data
// folder is both sides (the service serves "tasks_send", the engine pulls
// into "tasks_recv"). Whole tasks with files and folder trees, stop and
// resume, restarts after failures, the peer search and unreachable peers.
#include "TempDataHome.h"
#include "TestServer.h"

#include "core/DataFolder.h"
#include "engine/TaskEngine.h"
#include "server/FileWork.h"
#include "store/TaskDirFileDb.h"
#include "store/SavePaths.h"
#include "store/TaskStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QtTest>

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr qint64 kPiece = LanferryHttpServer::kReadBufferSize;
constexpr int kTaskTimeoutMs = 120000;

std::string randomBytes(int64_t size)
{
    std::string data(static_cast<size_t>(size), '\0');
    auto *words = reinterpret_cast<quint32 *>(data.data());
    QRandomGenerator::global()->fillRange(words, static_cast<qsizetype>(size / 4));
    for (int64_t i = size / 4 * 4; i < size; ++i)
        data[static_cast<size_t>(i)] = static_cast<char>(i);
    return data;
}

void writeFile(const std::string &path, const std::string &data)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

QByteArray fileHash(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    QCryptographicHash h(QCryptographicHash::Sha1);
    if (!f.open(QIODevice::ReadOnly) || !h.addData(&f))
        return QByteArray();
    return h.result();
}

bool exists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Every entry below root as "relative path" -> "d" for a folder or the file's bytes.
std::map<std::string, std::string> treeOf(const std::string &root)
{
    std::map<std::string, std::string> tree;
    for (const auto &item : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(item.path(), root).string();
        tree[rel] = item.is_directory() ? std::string("d") : "f:" + readFile(item.path().string());
    }
    return tree;
}

// One read the sending side served (or refused).
struct Read {
    std::string fid, subpath;
    int64_t offset = 0;
};

} // namespace

class TestTaskEngine : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void pullsFilesAndFolderTree();
    void stopHalfWayThenResume();
    void restartedFolderRequeuesFailedRows();
    void restartQueuesOnlyUnfinishedFiles();
    void failedFileEndsItsFolder();
    void manyWorkersWithinTheSendersConnectionLimit();
    void shortPiecesOfSmallFiles();
    void peerSearch_data();
    void peerSearch();
    void receivedNamesTakeNothingOver();
    void linkPlantedDuringFolderTransfer();

private:
    // Offers the local paths as a send task and stores this side's received
    // copy with save paths below the save folder, as accepting a task does.
    TaskKey offer(const std::vector<std::string> &paths, const std::string &password = "pw");
    TransferTask receivedTask(const TaskKey &key);
    std::vector<TransferFile> receivedFiles(const TaskKey &key);
    void runToEnd(const TaskKey &key);
    std::vector<Read> reads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reads;
    }
    std::string src() const { return m_home->path().toStdString() + "/src"; }
    std::string save() const { return m_home->path().toStdString() + "/save"; }

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<TaskEngine> m_engine;
    std::mutex m_mutex;
    std::vector<Read> m_reads;
    // Runs on the service's worker before a read; a result with failed set,
    // or with data (the piece's bytes), replaces the read.
    std::function<OnReadFileResult(const Read &)> m_hook;
};

void TestTaskEngine::init()
{
    m_home = std::make_unique<TempDataHome>();
    m_server = std::make_unique<TestServer>();
    m_reads.clear();
    m_hook = nullptr;
    m_server->server.onReadFile = [this](const std::string &tid, const TransferFile &file, const std::string &subpath,
                                         int64_t offset, char *buffer, int32_t size) {
        const Read read{file.uid, subpath, offset};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reads.push_back(read);
        }
        if (m_hook) {
            OnReadFileResult r = m_hook(read);
            if (r.failed)
                return r;
            if (!r.data.empty()) {
                r.size = static_cast<int32_t>(std::min<size_t>(r.data.size(), static_cast<size_t>(size)));
                std::memcpy(buffer, r.data.data(), static_cast<size_t>(r.size));
                r.data.clear();
                return r;
            }
        }
        return readFileForPeer(tid, file, subpath, offset, buffer, size);
    };
    QVERIFY(m_server->start("pw"));
    m_engine = std::make_unique<TaskEngine>(TaskEngine::Events{}, 50);
}

void TestTaskEngine::cleanup()
{
    m_engine.reset();
    m_server->server.stop();
    m_server.reset();
    m_home.reset();
}

TaskKey TestTaskEngine::offer(const std::vector<std::string> &paths, const std::string &password)
{
    TransferTask task = newOutgoingTask("127.0.0.1", m_server->port, "receiver-uid", "Receiver", "win");
    std::vector<TransferFile> files;
    for (const std::string &p : paths)
        addLocalPath(task.uid, files, p, std::string(), std::string());
    TaskStore sent(true);
    if (files.size() != paths.size() || !sent.createTask(task, files))
        qFatal("cannot create the send task: %s", sent.lastError().c_str());

    ServerInfo me = loadServerInfo();
    TransferTask recv = mirrorForPeer(task, me);
    recv.ip = "127.0.0.1";
    recv.pwd = password;
    recv.root = save();
    fs::create_directories(save());
    std::string error;
    if (!assignFreeSavePaths(save(), files, &error))
        qFatal("cannot place the files: %s", error.c_str());
    TaskStore received(false);
    if (!received.createTask(recv, files))
        qFatal("cannot create the received task: %s", received.lastError().c_str());
    return TaskKey{task.uid, false};
}

TransferTask TestTaskEngine::receivedTask(const TaskKey &key)
{
    TransferTask task;
    TaskStore(false).readTask(key.tid, &task);
    return task;
}

std::vector<TransferFile> TestTaskEngine::receivedFiles(const TaskKey &key)
{
    std::vector<TransferFile> files;
    TaskStore(false).readTaskFiles(key.tid, &files);
    return files;
}

void TestTaskEngine::runToEnd(const TaskKey &key)
{
    m_engine->startTask(key);
    QVERIFY(m_engine->entry(key));
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->entry(key)->running(), kTaskTimeoutMs);
}

void TestTaskEngine::pullsFilesAndFolderTree()
{
    const std::string big = randomBytes(kPiece + 12345);
    writeFile(src() + "/big.bin", big);
    writeFile(src() + "/empty.txt", "");
    writeFile(src() + "/we:ird?*name|.txt", "top-level name that needs escaping");
    // A tree with nested and empty folders, a zero-length file and odd names.
    writeFile(src() + "/tree/zero", "");
    writeFile(src() + "/tree/a/b/c/deep file.txt", "deep");
    writeFile(src() + "/tree/a/we:ird?name*.txt", "odd");
    writeFile(src() + "/tree/%41 percent", "percent");
    writeFile(src() + "/tree/\xc3\xbc"
                      "n\xc3\xaf"
                      "code.txt",
              "unicode");
    fs::create_directories(src() + "/tree/empty1");
    fs::create_directories(src() + "/tree/a/empty2/empty3");
    // A file beside what looks like its partial file, and a name whose partial name would be too long.
    writeFile(src() + "/tree/img.jpg", randomBytes(5000));
    writeFile(src() + "/tree/img.jpg.downloading", randomBytes(7000));
    writeFile(src() + "/tree/" + std::string(250, 'n'), "long name");

    const TaskKey key =
        offer({src() + "/big.bin", src() + "/empty.txt", src() + "/we:ird?*name|.txt", src() + "/tree"});
    runToEnd(key);

    const TaskEntry *e = m_engine->entry(key);
    QCOMPARE(e->task.status.total, 4);
    QCOMPARE(e->task.status.successes, 4);
    QCOMPARE(e->task.status.failed, 0);
    for (const TransferFile &f : e->files)
        QCOMPARE(f.status.status, 1);
    // The counters are stored when the task ends.
    QCOMPARE(receivedTask(key).status.successes, 4);

    QVERIFY(readFile(save() + "/big.bin") == big);
    QVERIFY(exists(save() + "/empty.txt"));
    QCOMPARE(readFile(save() + "/empty.txt"), std::string());
    QCOMPARE(readFile(save() + "/we%3aird%3f%2aname%7c.txt"), std::string("top-level name that needs escaping"));
    QVERIFY(treeOf(save() + "/tree") == treeOf(src() + "/tree"));
    // Nothing else is left: no partial file anywhere.
    QCOMPARE(QDir(QString::fromStdString(save())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{"big.bin", "empty.txt", "tree", "we%3aird%3f%2aname%7c.txt"}));

    // The folder as a whole: done, every byte counted, every entry recorded done.
    for (const TransferFile &f : receivedFiles(key)) {
        QCOMPARE(f.status.status, 1);
        if (f.mime == kDirectoryMime) {
            QCOMPARE(f.status.offset, int64_t(4 + 3 + 7 + 7 + 5000 + 7000 + 9));
            auto db = openDirDb(key, f);
            std::vector<DirTaskEntry> pending;
            QVERIFY(db->pendingEntries(&pending));
            QVERIFY(pending.empty());
            QCOMPARE(db->readContext().failed, 0);
        }
    }

    // The sender was told the task starts once, and the final state of every file.
    const TestServer::Calls calls = m_server->calls();
    QCOMPARE(calls.starts, std::vector<std::string>{key.tid});
    std::map<std::string, int> finals;
    for (const auto &[tid, fid, st] : calls.progress) {
        QCOMPARE(tid, key.tid);
        if (st.status != 0)
            finals[fid] = st.status;
    }
    QCOMPARE(finals.size(), size_t(4));
    for (const auto &[fid, st] : finals)
        QCOMPARE(st, 1);
    // Every piece was asked for once: nothing was queued twice.
    std::set<std::tuple<std::string, std::string, int64_t>> seen;
    for (const Read &r : reads())
        QVERIFY(seen.insert({r.fid, r.subpath, r.offset}).second);
}

void TestTaskEngine::stopHalfWayThenResume()
{
    const int64_t size = 100 * 1024 * 1024;
    writeFile(src() + "/movie.bin", randomBytes(size));
    const TaskKey key = offer({src() + "/movie.bin"});
    const std::string dest = save() + "/movie.bin";
    // Told of an end once: when every file is done, not when stopped.
    std::vector<TaskKey> ended;
    m_engine->setTaskEndListener([&ended](const TaskKey &k, const TaskEntry &) { ended.push_back(k); });

    // The second piece is held on the sending side until the task was stopped.
    QSemaphore inFlight, release;
    std::atomic<bool> holdOnce{true};
    m_hook = [&](const Read &r) {
        if (r.offset == kPiece && holdOnce.exchange(false)) {
            inFlight.release();
            release.tryAcquire(1, 30000);
        }
        return OnReadFileResult();
    };
    m_engine->startTask(key);
    QTRY_VERIFY_WITH_TIMEOUT(inFlight.available() > 0, 30000);
    // The second piece is asked for while the first still arrives: stop once the first is stored.
    QTRY_COMPARE_WITH_TIMEOUT(receivedFiles(key).at(0).status.offset, kPiece, 30000);
    m_engine->stopTask(key);
    QVERIFY(!m_engine->entry(key)->running());
    release.release();

    // The sender hears of the stop; the partial file and its offset stay.
    QTRY_COMPARE(m_server->calls().stops, std::vector<std::string>{key.tid});
    QTRY_COMPARE(receivedFiles(key).at(0).status.offset, kPiece);
    QTest::qWait(300); // nothing of the stopped run may land after this
    const TransferFile stopped = receivedFiles(key).at(0);
    QCOMPARE(stopped.status.status, 0);
    QCOMPARE(stopped.status.offset, kPiece);
    QVERIFY(!exists(dest));
    QVERIFY(ended.empty());
    const std::string partial = save() + "/" + partialFileName("movie.bin", key.tid, stopped.uid, "");
    QCOMPARE(static_cast<int64_t>(fs::file_size(partial)), kPiece);

    // Started again (twice: the second start finds it running and does nothing).
    const size_t readsBefore = reads().size();
    m_engine->startTask(key);
    m_engine->startTask(key);
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->entry(key)->running(), kTaskTimeoutMs);

    QCOMPARE(m_engine->entry(key)->files.at(0).status.status, 1);
    QCOMPARE(ended, std::vector<TaskKey>{key});
    QCOMPARE(fileHash(dest), fileHash(src() + "/movie.bin"));
    QVERIFY(!exists(partial));
    QCOMPARE(m_server->calls().starts.size(), size_t(2));
    // The second run continued where the first stopped, asking for each piece once.
    std::vector<int64_t> asked;
    const std::vector<Read> all = reads();
    for (size_t i = readsBefore; i < all.size(); ++i)
        asked.push_back(all[i].offset);
    std::vector<int64_t> expected;
    for (int64_t off = kPiece; off < size + kPiece; off += kPiece)
        expected.push_back(off);
    QCOMPARE(asked, expected);
}

void TestTaskEngine::restartedFolderRequeuesFailedRows()
{
    const std::string big = randomBytes(kPiece + 1000);
    writeFile(src() + "/dir/big.bin", big);
    writeFile(src() + "/dir/sub/small.txt", "small");
    const TaskKey key = offer({src() + "/dir"});

    // The sender fails the second piece of big.bin once.
    std::atomic<bool> failOnce{true};
    m_hook = [&](const Read &r) {
        OnReadFileResult res;
        if (r.subpath == "big.bin" && r.offset == kPiece && failOnce.exchange(false)) {
            res.failed = true;
            res.data = "Disk gone.";
        }
        return res;
    };
    runToEnd(key);

    const TaskEntry *e = m_engine->entry(key);
    QCOMPARE(e->task.status.failed, 1);
    QCOMPARE(e->files.at(0).status.status, -1);
    TransferFile folder = receivedFiles(key).at(0);
    QCOMPARE(folder.status.status, -1);
    QVERIFY2(folder.status.error.find("Disk gone.") != std::string::npos, folder.status.error.c_str());
    auto db = openDirDb(key, folder);
    QCOMPARE(db->readContext().failed, 1);

    const size_t readsBefore = reads().size();
    runToEnd(key);

    e = m_engine->entry(key);
    QCOMPARE(e->task.status.successes, 1);
    QCOMPARE(e->task.status.failed, 0);
    QCOMPARE(receivedFiles(key).at(0).status.status, 1);
    QCOMPARE(db->readContext().failed, 0);
    QVERIFY(readFile(save() + "/dir/big.bin") == big);
    QCOMPARE(readFile(save() + "/dir/sub/small.txt"), std::string("small"));
    // The failed row was asked for again from its recorded offset, not from the start.
    std::vector<int64_t> bigOffsets;
    const std::vector<Read> all = reads();
    for (size_t i = readsBefore; i < all.size(); ++i) {
        if (all[i].subpath == "big.bin")
            bigOffsets.push_back(all[i].offset);
    }
    QCOMPARE(bigOffsets, std::vector<int64_t>{kPiece});
}

// Once a file of a folder fails, the folder's other files are not fetched
// any more until the task is started again.
void TestTaskEngine::failedFileEndsItsFolder()
{
    writeFile(dataFolder() + "/maxthreads", "1");
    constexpr int kFiles = 200;
    for (int i = 0; i < kFiles; ++i)
        writeFile(src() + "/dir/" + std::to_string(1000 + i), std::to_string(i));
    const TaskKey key = offer({src() + "/dir"});
    std::atomic<int> served{0};
    m_hook = [&](const Read &r) {
        OnReadFileResult res;
        if (r.subpath.empty())
            return res;
        if (++served == 20) {
            res.failed = true;
            res.data = "Disk gone.";
        }
        return res;
    };
    runToEnd(key);
    const TransferFile folder = receivedFiles(key).at(0);
    QCOMPARE(folder.status.status, -1);
    QVERIFY2(folder.status.error.find("Disk gone.") != std::string::npos, folder.status.error.c_str());
    // Requests already on their way when the failure came may still land.
    QVERIFY2(served < 40, std::to_string(served).c_str());
}

// However many workers fetch small files at once, the sender never has to
// refuse a connection for too many from one address.
void TestTaskEngine::manyWorkersWithinTheSendersConnectionLimit()
{
    writeFile(dataFolder() + "/maxthreads", "10");
    constexpr int kFiles = 1000;
    for (int i = 0; i < kFiles; ++i)
        writeFile(src() + "/dir/" + std::to_string(i), std::to_string(i));
    const TaskKey key = offer({src() + "/dir"});
    runToEnd(key);
    const TransferFile folder = receivedFiles(key).at(0);
    QVERIFY2(folder.status.status == 1, folder.status.error.c_str());
    QCOMPARE(readFile(save() + "/dir/999"), std::string("999"));
}

// A sender whose piece ends before a small file does (no end marker) gets
// asked for the rest; the other files of the folder arrive as usual.
void TestTaskEngine::shortPiecesOfSmallFiles()
{
    for (const char *name : {"a", "b", "c", "d"})
        writeFile(src() + "/dir/" + name, std::string("abcdef") + name);
    const TaskKey key = offer({src() + "/dir"});
    m_hook = [&](const Read &r) {
        OnReadFileResult res;
        if (r.subpath == "b" && r.offset == 0)
            res.data = "abc";
        return res;
    };
    runToEnd(key);
    QCOMPARE(receivedFiles(key).at(0).status.status, 1);
    for (const char *name : {"a", "b", "c", "d"})
        QCOMPARE(readFile(save() + "/dir/" + name), std::string("abcdef") + name);
    std::vector<int64_t> offsetsOfB;
    for (const Read &r : reads()) {
        if (r.subpath == "b")
            offsetsOfB.push_back(r.offset);
    }
    // Asked whole, then piece by piece from the start.
    QCOMPARE(offsetsOfB, (std::vector<int64_t>{0, 0, 3}));
}

void TestTaskEngine::restartQueuesOnlyUnfinishedFiles()
{
    writeFile(src() + "/one", "1111");
    writeFile(src() + "/two", "2222");
    writeFile(src() + "/three", "3333");
    const TaskKey key = offer({src() + "/one", src() + "/two", src() + "/three"});
    std::vector<TransferFile> files = receivedFiles(key);
    const std::string doneFid = files.at(0).uid;
    TransferFileStatus done;
    done.status = 1;
    done.offset = 4;
    QVERIFY(TaskStore(false).writeFileStatus(key.tid, doneFid, done));

    runToEnd(key);
    QCOMPARE(m_engine->entry(key)->task.status.successes, 3);
    for (const Read &r : reads())
        QVERIFY(r.fid != doneFid);
    QCOMPARE(reads().size(), size_t(2));

    // Nothing unfinished: the task ends at once, and the sender is not asked.
    m_engine->startTask(key);
    QVERIFY(!m_engine->entry(key)->running());
    QTest::qWait(200);
    QCOMPARE(m_server->calls().starts.size(), size_t(1));
    QCOMPARE(reads().size(), size_t(2));
}

void TestTaskEngine::peerSearch_data()
{
    QTest::addColumn<bool>("storedReachable");
    QTest::addColumn<int>("candidates"); // devices with the task's id that discovery knows
    QTest::addColumn<bool>("found");

    QTest::newRow("stored address answers") << true << 0 << true;
    QTest::newRow("stored address gone, second candidate answers") << false << 2 << true;
    QTest::newRow("stored address gone, nobody else") << false << 0 << false;
}

void TestTaskEngine::peerSearch()
{
    QFETCH(bool, storedReachable);
    QFETCH(int, candidates);
    QFETCH(bool, found);

    writeFile(src() + "/one", "1111");
    writeFile(src() + "/two", "2222");
    const TaskKey key = offer({src() + "/one", src() + "/two"});
    const int deadPort = freePort();
    if (!storedReachable)
        QVERIFY(TaskStore(false).updateServerInfo(key.tid, "127.0.0.1", deadPort, "pw"));
    const std::string remoteUid = receivedTask(key).remote_uid;
    std::vector<LanferryUdpServer::ServerItem> known;
    for (int i = 0; i < candidates; ++i) {
        LanferryUdpServer::ServerItem item;
        item.id = i + 1;
        item.ip = "127.0.0.1";
        item.port = i + 1 < candidates ? deadPort : m_server->port;
        item.info.uid = remoteUid;
        item.info.pwd = "*"; // as discovery knows it
        known.push_back(item);
    }
    std::atomic<int> asked{0};
    m_engine->setCandidateList([&](const std::string &uid) {
        ++asked;
        return uid == remoteUid ? known : std::vector<LanferryUdpServer::ServerItem>();
    });
    runToEnd(key);

    const TaskEntry *e = m_engine->entry(key);
    if (found) {
        QCOMPARE(e->task.status.successes, 2);
        // The device's address is stored with the task, its password kept.
        const TransferTask stored = receivedTask(key);
        QCOMPARE(stored.port, m_server->port);
        QCOMPARE(stored.pwd, std::string("pw"));
        QCOMPARE(e->task.port, m_server->port);
        QCOMPARE(m_server->calls().starts.size(), size_t(1));
        QCOMPARE(asked.load(), storedReachable ? 0 : 1);
    } else {
        // Every file fails with the reason, and the task ends.
        QCOMPARE(e->task.status.failed, 2);
        QCOMPARE(e->task.status.remote, true);
        QCOMPARE(e->task.status.error, std::string("Connection failed, please connect the device manually."));
        for (const TransferFile &f : receivedFiles(key))
            QCOMPARE(f.status.status, -1);
        QCOMPARE(receivedTask(key).status.failed, 2);
        QVERIFY(m_server->calls().starts.empty());
    }
}

void TestTaskEngine::receivedNamesTakeNothingOver()
{
    writeFile(src() + "/x/a.txt", "from x");
    writeFile(src() + "/y/a.txt", "from y");
    writeFile(src() + "/late.txt", "late arrival");
    writeFile(save() + "/a.txt", "the user's own");
    const TaskKey key = offer({src() + "/x/a.txt", src() + "/y/a.txt", src() + "/late.txt"});
    std::string lateFid;
    for (const TransferFile &f : receivedFiles(key)) {
        if (f.file_name == "late.txt")
            lateFid = f.uid;
    }
    // Somebody takes the name while the file is on its way.
    m_hook = [&](const Read &r) {
        if (r.fid == lateFid && !exists(save() + "/late.txt"))
            writeFile(save() + "/late.txt", "somebody else's");
        return OnReadFileResult();
    };
    runToEnd(key);

    QCOMPARE(m_engine->entry(key)->task.status.successes, 3);
    QCOMPARE(readFile(save() + "/a.txt"), std::string("the user's own"));
    QCOMPARE(readFile(save() + "/a (1).txt"), std::string("from x"));
    QCOMPARE(readFile(save() + "/a (2).txt"), std::string("from y"));
    QCOMPARE(readFile(save() + "/late.txt"), std::string("somebody else's"));
    QCOMPARE(readFile(save() + "/late (1).txt"), std::string("late arrival"));
    // The task follows the file to its new name, in the store and on the screen.
    const std::string landed = save() + "/late (1).txt";
    for (const TransferFile &f : receivedFiles(key)) {
        if (f.uid == lateFid)
            QCOMPARE(f.save_path, landed);
    }
    const TaskEntry *e = m_engine->entry(key);
    QTRY_COMPARE(e->files.at(static_cast<size_t>(e->fileIndex(lateFid))).save_path, landed);
}

void TestTaskEngine::linkPlantedDuringFolderTransfer()
{
    for (int i = 0; i < 6; ++i)
        writeFile(src() + "/tree/a/" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    const std::string outside = m_home->path().toStdString() + "/outside";
    fs::create_directories(outside);
    const TaskKey key = offer({src() + "/tree"});
    // Once the first file below "a" is on its way, "a" becomes a link to a folder outside.
    std::atomic<bool> swapped{false};
    m_hook = [&](const Read &r) {
        if (r.subpath.rfind("a/", 0) == 0 && !swapped.exchange(true)) {
            fs::rename(save() + "/tree/a", save() + "/moved");
            fs::create_directory_symlink(outside, save() + "/tree/a");
        }
        return OnReadFileResult();
    };
    runToEnd(key);

    QVERIFY(swapped);
    QVERIFY(fs::is_empty(outside));
    const TransferFile folder = receivedFiles(key).at(0);
    QCOMPARE(folder.status.status, -1);
    QVERIFY2(folder.status.error.find("A link or a file is in the way") != std::string::npos,
             folder.status.error.c_str());
}

QTEST_GUILESS_MAIN(TestTaskEngine)
#include "tst_taskengine.moc"
