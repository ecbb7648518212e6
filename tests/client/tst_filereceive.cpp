// Receiving files and folder listings from the real HTTPS service over
// loopback TLS (whole files, resume, abort, listings), and from a scripted
// peer for answers the real service never gives.
#include "RawTlsServer.h"
#include "TempDataHome.h"
#include "TestServer.h"

#include "client/FileReceive.h"
#include "store/TaskStore.h"

#include <QRandomGenerator>
#include <QSemaphore>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <future>
#include <signal.h>

namespace {

constexpr qint64 kPiece = LanferryHttpServer::kReadBufferSize;
const std::string kFileGone = "The file does not exist. The other device may have deleted the task.";
const std::string kNoAddress = "Connection failed, please connect the device manually.";

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
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.rfind(prefix, 0) == 0;
}

struct Received {
    TransferFileStatus result;
    std::vector<int64_t> pieceOffsets;
    int completions = 0;
};

// Offered sizes that never limit a test.
constexpr int64_t kAnySize = int64_t(1) << 40;

Received receive(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key, const std::string &fid,
                 const std::string &subpath, int64_t offset, const ReceiveTarget &target, std::string *landed = nullptr)
{
    Received r;
    r.result = receiveFile(
        client, peer, key, fid, subpath, offset, target,
        [&](const TransferFileStatus &s) {
            QCOMPARE(s.status, 0);
            r.pieceOffsets.push_back(s.offset);
        },
        [&](const TransferFileStatus &s) {
            QCOMPARE(s.status, 1);
            ++r.completions;
        },
        landed);
    return r;
}

// Answers request i with answers[i] (the last one repeats); one ending in
// "STALL" is sent without that word and the connection then goes silent.
RawTlsServer::Handler scripted(const QByteArrayList &answers)
{
    return [answers](const RawTlsServer::Request &, int index) {
        QByteArray bytes = answers.at(std::min(index, int(answers.size()) - 1));
        const bool stall = bytes.endsWith("STALL");
        if (stall)
            bytes.chop(5);
        return RawTlsServer::Reply{bytes.toStdString(), stall};
    };
}

// Fetches the files whole, several at a time, and lands each as it arrives;
// one that did not come whole is received piece by piece. Results by index.
std::vector<TransferFileStatus> receiveWhole(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                                             const std::vector<LanferryHttpClient::WholeRead> &reads,
                                             const std::vector<ReceiveTarget> &targets,
                                             std::vector<size_t> *order = nullptr)
{
    std::vector<TransferFileStatus> results(reads.size());
    for (TransferFileStatus &r : results)
        r.error = "never handed over";
    client.fileReadWhole(
        peer, key.tid, reads, LanferryHttpClient::kWholeInFlight, [&](size_t i, HttpResponse &answer, bool overflow) {
            if (order)
                order->push_back(i);
            results[i] = landWholeFile(answer, overflow, key, reads[i].fid, reads[i].subpath, targets[i]);
            if (results[i].status == 0)
                results[i] =
                    receiveFile(client, peer, key, reads[i].fid, reads[i].subpath, 0, targets[i], nullptr, nullptr);
            return true;
        });
    return results;
}

} // namespace

class TestFileReceive : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void wholeFile_data();
    void wholeFile();
    void resume_data();
    void resume();
    void abortDuringTransferThenResume();
    void folderListings();
    void localFailures_data();
    void localFailures();
    void peerAnswers_data();
    void peerAnswers();
    void moreThanOffered_data();
    void moreThanOffered();
    void namesTheSenderCannotTakeOver();
    void badListings_data();
    void badListings();
    void wholeReads();
    void wholeReadAnswers_data();
    void wholeReadAnswers();
    void wholeReadsStop();

private:
    // A send task holding one file (or folder) at path; the record of it.
    TransferFile offer(const std::string &path);
    std::string dir() const { return m_home->path().toStdString(); }
    // A destination below the test's folder, and its partial file.
    ReceiveTarget at(const std::string &relative, int64_t total = kAnySize) const
    {
        return ReceiveTarget{dir(), relative, total};
    }
    std::string partialOf(const std::string &relative, const std::string &fid, const std::string &subpath = "") const
    {
        const size_t slash = relative.rfind('/');
        const std::string folder = slash == std::string::npos ? dir() : dir() + "/" + relative.substr(0, slash);
        const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
        return folder + "/" + partialFileName(name, m_key.tid, fid, subpath);
    }
    PeerEndpoint peer() const { return PeerEndpoint{"127.0.0.1", m_server->port, ""}; }
    std::vector<int64_t> askedOffsets()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_asked;
    }

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<TestServer> m_server;
    std::mutex m_mutex;
    std::vector<int64_t> m_asked;
    std::function<void(int64_t offset)> m_beforeRead; // runs on the server's worker thread
    TaskKey m_key;
};

void TestFileReceive::init()
{
    m_home = std::make_unique<TempDataHome>();
    m_server = std::make_unique<TestServer>();
    m_asked.clear();
    m_beforeRead = nullptr;
    m_server->server.onReadFile = [this](const std::string &tid, const TransferFile &file, const std::string &subpath,
                                         int64_t offset, char *buffer, int32_t size) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_asked.push_back(offset);
        }
        if (m_beforeRead)
            m_beforeRead(offset);
        return readFileForPeer(tid, file, subpath, offset, buffer, size);
    };
    QVERIFY(m_server->start());
}

void TestFileReceive::cleanup()
{
    m_server->server.stop();
    m_server.reset();
    m_home.reset();
}

TransferFile TestFileReceive::offer(const std::string &path)
{
    TransferTask task = newOutgoingTask("127.0.0.1", m_server->port, "peer-uid", "Peer", "win");
    std::vector<TransferFile> files;
    addLocalPath(task.uid, files, path, std::string(), std::string());
    TaskStore store(true);
    if (files.size() != 1 || !store.createTask(task, files))
        qFatal("cannot create the send task: %s", store.lastError().c_str());
    m_key = TaskKey{task.uid, false};
    return files[0];
}

void TestFileReceive::wholeFile_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("inTheWay"); // what holds the destination's name before: "", "file", "folder", "same"
    QTest::addColumn<QString>("landedAs");
    QTest::addColumn<QList<qint64>>("asked");

    const QString name = "in/deeper/received.bin";
    const QString numbered = "in/deeper/received (1).bin";
    QTest::newRow("empty") << qint64(0) << "" << name << QList<qint64>{0};
    QTest::newRow("small, beside another file") << qint64(1000) << "file" << numbered << QList<qint64>{0};
    QTest::newRow("beside a folder of that name") << qint64(1000) << "folder" << numbered << QList<qint64>{0};
    // The same bytes landed before (the program ended before recording it): that is this file.
    QTest::newRow("the same bytes already there") << qint64(1000) << "same" << name << QList<qint64>{0};
    // The last full piece carries no end marker; an empty answer with it follows.
    QTest::newRow("exact multiple of a piece") << kPiece << "" << name << QList<qint64>{0, kPiece};
    QTest::newRow("two pieces and a bit")
        << 2 * kPiece + 5 << "file" << numbered << QList<qint64>{0, kPiece, 2 * kPiece};
    // The next piece is asked for while one still arrives; the file is still in order.
    QTest::newRow("four pieces and a bit")
        << 4 * kPiece + 1 << "" << name << QList<qint64>{0, kPiece, 2 * kPiece, 3 * kPiece, 4 * kPiece};
}

void TestFileReceive::wholeFile()
{
    QFETCH(qint64, size);
    QFETCH(QString, inTheWay);
    QFETCH(QString, landedAs);
    QFETCH(QList<qint64>, asked);

    const std::string content = randomBytes(size);
    writeFile(dir() + "/source.bin", content);
    const TransferFile file = offer(dir() + "/source.bin");
    const std::string relative = "in/deeper/received.bin";
    const std::string dest = dir() + "/" + relative;
    const std::string older = "an older, longer file that must never be touched";
    QVERIFY(QDir().mkpath(QString::fromStdString(dir() + "/in/deeper")));
    if (inTheWay == "file")
        writeFile(dest, older);
    else if (inTheWay == "folder")
        QVERIFY(QDir().mkpath(QString::fromStdString(dest + "/inside")));
    else if (inTheWay == "same")
        writeFile(dest, content);

    LanferryHttpClient client;
    std::string landed;
    const Received r = receive(client, peer(), m_key, file.uid, std::string(), 0, at(relative, size), &landed);
    QCOMPARE(r.result.status, 1);
    QCOMPARE(r.result.error, std::string());
    QCOMPARE(r.result.offset, size);
    QCOMPARE(QString::fromStdString(landed), landedAs);
    QVERIFY(readFile(dir() + "/" + landed) == content);
    if (inTheWay == "file")
        QCOMPARE(readFile(dest), older);
    if (inTheWay == "folder")
        QVERIFY(QFileInfo(QString::fromStdString(dest + "/inside")).isDir());
    QVERIFY(!exists(partialOf(relative, file.uid)));
    QCOMPARE(r.completions, 1);
    // Every piece but the last is reported, after it is on disk.
    std::vector<int64_t> expectedPieces;
    for (int64_t off = kPiece; off <= size; off += kPiece)
        expectedPieces.push_back(off);
    QCOMPARE(r.pieceOffsets, expectedPieces);
    const std::vector<int64_t> expectedAsked(asked.begin(), asked.end());
    QCOMPARE(askedOffsets(), expectedAsked);
}

void TestFileReceive::resume_data()
{
    QTest::addColumn<int>("partialSize"); // -1: no partial file
    QTest::addColumn<qint64>("recorded");
    QTest::addColumn<qint64>("firstAsked");

    QTest::newRow("no partial file: offset ignored") << -1 << qint64(5000) << qint64(0);
    QTest::newRow("partial file longer than offset") << 8192 << qint64(4096) << qint64(4096);
    QTest::newRow("stale tail longer than the file") << 30000 << qint64(4096) << qint64(4096);
    QTest::newRow("offset beyond partial file clamped") << 3000 << qint64(5000) << qint64(3000);
    QTest::newRow("negative offset") << 100 << qint64(-7) << qint64(0);
}

void TestFileReceive::resume()
{
    QFETCH(int, partialSize);
    QFETCH(qint64, recorded);
    QFETCH(qint64, firstAsked);

    const std::string content = randomBytes(20000);
    writeFile(dir() + "/source.bin", content);
    const TransferFile file = offer(dir() + "/source.bin");
    const std::string dest = dir() + "/received.bin";
    if (partialSize >= 0) {
        // Valid bytes up to the resume point, junk after it.
        const size_t valid = static_cast<size_t>(std::min<int64_t>(partialSize, std::max<int64_t>(recorded, 0)));
        writeFile(partialOf("received.bin", file.uid),
                  content.substr(0, valid) + std::string(partialSize - valid, 'x'));
    }

    LanferryHttpClient client;
    const Received r = receive(client, peer(), m_key, file.uid, std::string(), recorded, at("received.bin"));
    QCOMPARE(r.result.status, 1);
    QCOMPARE(r.result.offset, int64_t(20000));
    QVERIFY(readFile(dest) == content);
    QCOMPARE(askedOffsets(), std::vector<int64_t>{firstAsked});
}

void TestFileReceive::abortDuringTransferThenResume()
{
    const std::string content = randomBytes(2 * kPiece + 100);
    writeFile(dir() + "/source.bin", content);
    const TransferFile file = offer(dir() + "/source.bin");
    const std::string dest = dir() + "/received.bin";

    // The second piece is held on the sender until the test lets it go.
    QSemaphore inFlight, release;
    m_beforeRead = [&](int64_t offset) {
        if (offset == kPiece) {
            inFlight.release();
            release.tryAcquire(1, 30000);
        }
    };
    // The first piece is confirmed before the stop, so that exactly it survives.
    QSemaphore confirmed;
    LanferryHttpClient client;
    auto pending = std::async(std::launch::async, [&] {
        Received r;
        r.result = receiveFile(
            client, peer(), m_key, file.uid, std::string(), 0, at("received.bin"),
            [&](const TransferFileStatus &s) {
                r.pieceOffsets.push_back(s.offset);
                confirmed.release();
            },
            [&](const TransferFileStatus &) { ++r.completions; });
        return r;
    });
    QVERIFY(inFlight.tryAcquire(1, 30000));
    QVERIFY(confirmed.tryAcquire(1, 30000));
    // A stop of the caller's client also ends the request on the other connection.
    client.abort();
    const bool ended = pending.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    release.release();
    QVERIFY(ended);
    const Received stopped = pending.get();
    QCOMPARE(stopped.result.status, -1);
    QCOMPARE(stopped.result.remote, true);
    QVERIFY2(startsWith(stopped.result.error, "CURL: "), stopped.result.error.c_str());
    QCOMPARE(stopped.result.offset, kPiece);
    QCOMPARE(stopped.pieceOffsets, std::vector<int64_t>{kPiece});
    QCOMPARE(stopped.completions, 0);
    QCOMPARE(int64_t(readFile(partialOf("received.bin", file.uid)).size()), kPiece);
    QVERIFY(!exists(dest));

    // Started again from the recorded offset, it continues where it stopped.
    m_beforeRead = nullptr;
    const Received resumed =
        receive(client, peer(), m_key, file.uid, std::string(), stopped.result.offset, at("received.bin"));
    QCOMPARE(resumed.result.status, 1);
    QVERIFY(readFile(dest) == content);
    QCOMPARE(askedOffsets(), (std::vector<int64_t>{0, kPiece, kPiece, 2 * kPiece}));
}

void TestFileReceive::folderListings()
{
    const std::string root = dir() + "/tree";
    QVERIFY(QDir().mkpath(QString::fromStdString(root + "/a/b/d")));
    QVERIFY(QDir().mkpath(QString::fromStdString(root + "/e")));
    writeFile(root + "/a/b/c.txt", "abc");
    const TransferFile folder = offer(root);
    QCOMPARE(folder.mime, std::string(kDirectoryMime));

    LanferryHttpClient client;
    const auto sorted = [](std::vector<DirTaskEntry> rows) {
        std::sort(rows.begin(), rows.end(), [](const auto &x, const auto &y) { return x.subpath < y.subpath; });
        return rows;
    };

    // Rows are appended to what the list already holds.
    std::vector<DirTaskEntry> rows(1);
    rows[0].subpath = "kept";
    TransferFileStatus st = listRemoteDirectory(client, peer(), m_key, folder.uid, "a/b", &rows);
    QCOMPARE(st.status, 1);
    QCOMPARE(rows.size(), size_t(3));
    QCOMPARE(rows[0].subpath, std::string("kept"));
    const std::vector<DirTaskEntry> listed = sorted({rows[1], rows[2]});
    QCOMPARE(listed[0].subpath, std::string("a/b/c.txt"));
    QCOMPARE(listed[0].isdir, false);
    QCOMPARE(listed[0].total, int64_t(3));
    QCOMPARE(listed[0].status, 0);
    QCOMPARE(listed[1].subpath, std::string("a/b/d"));
    QCOMPARE(listed[1].isdir, true);

    // The top level is not prefixed; an empty folder lists nothing.
    rows.clear();
    QCOMPARE(listRemoteDirectory(client, peer(), m_key, folder.uid, std::string(), &rows).status, 1);
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(sorted(rows)[0].subpath, std::string("a"));
    rows.clear();
    QCOMPARE(listRemoteDirectory(client, peer(), m_key, folder.uid, "e", &rows).status, 1);
    QVERIFY(rows.empty());

    // A file inside the folder is read by its sub-path.
    const Received r = receive(client, peer(), m_key, folder.uid, "a/b/c.txt", 0, at("out/a/b/c.txt"));
    QCOMPARE(r.result.status, 1);
    QCOMPARE(readFile(dir() + "/out/a/b/c.txt"), std::string("abc"));
}

void TestFileReceive::localFailures_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<QString>("error"); // the start of it; "%1" is the partial file, "%2" the destination
    QTest::addColumn<qint64>("offset");

    QTest::newRow("no address") << "no address" << true << QString::fromStdString(kNoAddress) << qint64(0);
    QTest::newRow("unknown file") << "unknown file" << true << QString::fromStdString(kFileGone) << qint64(0);
    QTest::newRow("refused") << "refused" << true << "CURL: " << qint64(0);
    QTest::newRow("sender's file gone") << "source deleted" << true << "No such file" << qint64(0);
    QTest::newRow("partial file cannot be opened")
        << "partial is a folder" << false << "Failed to open file %1. Is a directory" << qint64(0);
    QTest::newRow("write fails") << "write fails" << false << "Failed to write file. File too large" << qint64(0);
    QTest::newRow("a link where a folder goes")
        << "folder is a link" << false << "Failed to create folder %3. A link or a file is in the way" << qint64(0);
    QTest::newRow("a file where a folder goes")
        << "folder is a file" << false << "Failed to create folder %3. A link or a file is in the way" << qint64(0);
    QTest::newRow("a link at the partial file")
        << "partial is a link" << false << "Failed to open file %1. Too many levels of symbolic links" << qint64(0);
}

void TestFileReceive::localFailures()
{
    QFETCH(QString, situation);
    QFETCH(bool, remote);
    QFETCH(QString, error);
    QFETCH(qint64, offset);

    const std::string content = randomBytes(5000);
    writeFile(dir() + "/source.bin", content);
    TransferFile file = offer(dir() + "/source.bin");
    const std::string relative = "sub/received.bin";
    const std::string dest = dir() + "/" + relative;
    const std::string partial = partialOf(relative, file.uid);
    const std::string outside = QDir::tempPath().toStdString() + "/lanferry-outside-" + std::to_string(::getpid());
    QVERIFY(QDir().mkpath(QString::fromStdString(outside)));
    if (situation == "folder is a link")
        QVERIFY(QFile::link(QString::fromStdString(outside), QString::fromStdString(dir() + "/sub")));
    else if (situation == "folder is a file")
        writeFile(dir() + "/sub", "x");
    else
        QVERIFY(QDir().mkpath(QString::fromStdString(dir() + "/sub")));
    PeerEndpoint target = peer();

    rlimit oldLimit{};
    if (situation == "no address")
        target.host.clear();
    else if (situation == "unknown file")
        file.uid = "no-such-file";
    else if (situation == "refused")
        target.port = freePort();
    else if (situation == "source deleted")
        QVERIFY(QFile::remove(QString::fromStdString(dir() + "/source.bin")));
    else if (situation == "partial is a folder")
        QVERIFY(QDir().mkpath(QString::fromStdString(partial)));
    else if (situation == "partial is a link")
        QVERIFY(QFile::link(QString::fromStdString(outside + "/stolen"), QString::fromStdString(partial)));
    if (situation == "write fails") {
        // Files may not grow past 1000 bytes once the sender has read its
        // store (which needs to write); the signal would end the test.
        ::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &oldLimit);
        m_beforeRead = [oldLimit](int64_t) {
            rlimit small = oldLimit;
            small.rlim_cur = 1000;
            setrlimit(RLIMIT_FSIZE, &small);
        };
    }

    LanferryHttpClient client;
    const Received r = receive(client, target, m_key, file.uid, std::string(), 0, at(relative));
    if (situation == "write fails")
        setrlimit(RLIMIT_FSIZE, &oldLimit);

    QCOMPARE(r.result.status, -1);
    QVERIFY2(r.result.remote == remote, r.result.error.c_str());
    const std::string expected = error.replace("%1", QString::fromStdString(partial))
                                     .replace("%3", QString::fromStdString(dir() + "/sub"))
                                     .toStdString();
    QVERIFY2(r.result.error.find(expected) != std::string::npos && (startsWith(r.result.error, expected) || remote),
             r.result.error.c_str());
    QCOMPARE(r.result.offset, offset);
    QCOMPARE(r.completions, 0);
    if (situation == "no address")
        QVERIFY(askedOffsets().empty());
    // Nothing was written through a link.
    QVERIFY(QDir(QString::fromStdString(outside)).isEmpty());
    QDir(QString::fromStdString(outside)).removeRecursively();
}

void TestFileReceive::peerAnswers_data()
{
    QTest::addColumn<QByteArrayList>("answers"); // the last one repeats
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // the start of it
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("requests");

    const auto answer = [](const char *status, const char *body, const char *headers = "") {
        return QByteArray::fromStdString(RawTlsServer::answer(status, body, headers));
    };
    QTest::newRow("403") << QByteArrayList{answer("HTTP/1.1 403 Forbidden", "Invalid Share-File.")} << -1
                         << QString::fromStdString(kFileGone) << qint64(0) << 1;
    QTest::newRow("404") << QByteArrayList{answer("HTTP/1.1 404 Not Found", "Invalid File.")} << -1
                         << QString::fromStdString(kFileGone) << qint64(0) << 1;
    QTest::newRow("other status: body as sent")
        << QByteArrayList{answer("HTTP/1.1 200 OK", "abc"), answer("HTTP/1.1 500 Oops", "Disk on fire.")} << -1
        << "Disk on fire." << qint64(3) << 2;
    QTest::newRow("X-EOF 0 means more") << QByteArrayList{answer("HTTP/1.1 200 OK", "abc", "X-EOF: 0\r\n"),
                                                          answer("HTTP/1.1 200 OK", "def", "X-EOF: 1\r\n")}
                                        << 1 << "" << qint64(6) << 2;
    QTest::newRow("X-EOF not a number") << QByteArrayList{answer("HTTP/1.1 200 OK", "abc", "X-EOF: yes\r\n")} << -1
                                        << "The other device sent an invalid X-EOF value: yes." << qint64(0) << 1;
    QTest::newRow("X-EOF with trailing junk") << QByteArrayList{answer("HTTP/1.1 200 OK", "abc", "X-EOF: 1x\r\n")} << -1
                                              << "The other device sent an invalid X-EOF value: 1x." << qint64(0) << 1;
    QTest::newRow("empty answers without end")
        << QByteArrayList{answer("HTTP/1.1 200 OK", "abc"), answer("HTTP/1.1 200 OK", "")} << -1
        << "The other device sent no data and no end of file at offset 3." << qint64(3) << 1 + kMaxEmptyPieces;
    // The stalled answer announced its length, so the piece after it was asked for too.
    QTest::newRow("peer falls silent")
        << QByteArrayList{answer("HTTP/1.1 200 OK", "abc"),
                          QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nde") + QByteArray("STALL"),
                          answer("HTTP/1.1 200 OK", "xyz", "X-EOF: 1\r\n")}
        << -1 << "CURL: " << qint64(3) << 3;
    // The second request goes out while the first answer still arrives (here:
    // never ends); its bytes, written ahead, do not survive the failure.
    QTest::newRow("first piece fails after the second arrived")
        << QByteArrayList{QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nabc") + QByteArray("STALL"),
                          answer("HTTP/1.1 200 OK", "ghi", "X-EOF: 1\r\n")}
        << -1 << "CURL: " << qint64(0) << 2;
    QTest::newRow("second piece fails while the first arrives")
        << QByteArrayList{answer("HTTP/1.1 200 OK", "abc"), answer("HTTP/1.1 403 Forbidden", "Invalid File.")} << -1
        << QString::fromStdString(kFileGone) << qint64(3) << 2;
}

void TestFileReceive::peerAnswers()
{
    QFETCH(QByteArrayList, answers);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(qint64, offset);
    QFETCH(int, requests);

    RawTlsServer raw(scripted(answers));
    LanferryHttpClient client;
    client.setStallTimeout(1);
    m_key = TaskKey{"t1", false};
    const std::string dest = dir() + "/received.bin";
    const Received r =
        receive(client, PeerEndpoint{"127.0.0.1", raw.port(), ""}, m_key, "f1", std::string(), 0, at("received.bin"));
    QCOMPARE(r.result.status, status);
    QVERIFY2(startsWith(r.result.error, error.toStdString()), r.result.error.c_str());
    QCOMPARE(r.result.offset, offset);
    QCOMPARE(int(raw.requests().size()), requests);
    if (status == 1) {
        QCOMPARE(readFile(dest), std::string("abcdef"));
        QCOMPARE(r.pieceOffsets, std::vector<int64_t>{3});
    } else {
        QCOMPARE(r.result.remote, true);
        QCOMPARE(int64_t(readFile(partialOf("received.bin", "f1")).size()), offset);
    }
}

void TestFileReceive::moreThanOffered_data()
{
    QTest::addColumn<QByteArrayList>("answers"); // empty: the real service, after the file grew
    QTest::addColumn<qint64>("offered");

    const auto answer = [](const char *body, const char *headers = "") {
        return QByteArray::fromStdString(RawTlsServer::answer("HTTP/1.1 200 OK", body, headers));
    };
    QTest::newRow("in the only piece") << QByteArrayList{answer("abcdef", "X-EOF: 1\r\n")} << qint64(2);
    QTest::newRow("in a later piece") << QByteArrayList{answer("abc"), answer("def", "X-EOF: 1\r\n")} << qint64(4);
    QTest::newRow("a piece past the end") << QByteArrayList{answer("abc"), answer("def", "X-EOF: 1\r\n")} << qint64(3);
    QTest::newRow("offered empty") << QByteArrayList{answer("a", "X-EOF: 1\r\n")} << qint64(0);
    QTest::newRow("10 bytes offered, 3 pieces sent") << QByteArrayList{} << qint64(10);
}

void TestFileReceive::moreThanOffered()
{
    QFETCH(QByteArrayList, answers);
    QFETCH(qint64, offered);

    std::unique_ptr<RawTlsServer> raw;
    PeerEndpoint from = peer();
    std::string fid = "f1";
    std::string sent = "abcdef";
    if (answers.isEmpty()) {
        writeFile(dir() + "/source.bin", std::string(size_t(offered), 's'));
        fid = offer(dir() + "/source.bin").uid;
        sent = randomBytes(3 * kPiece);
        writeFile(dir() + "/source.bin", sent);
    } else {
        raw = std::make_unique<RawTlsServer>(scripted(answers));
        from.port = raw->port();
        m_key = TaskKey{"t1", false};
    }
    LanferryHttpClient client;
    const Received r = receive(client, from, m_key, fid, std::string(), 0, at("received.bin", offered));
    QCOMPARE(r.result.status, -1);
    QCOMPARE(r.result.remote, true);
    QCOMPARE(r.result.error, std::string("The other device sent more data than it offered."));
    // What was offered is kept, nothing more.
    QCOMPARE(r.result.offset, offered);
    QVERIFY(readFile(partialOf("received.bin", fid)) == sent.substr(0, size_t(offered)));
    QVERIFY(!exists(dir() + "/received.bin"));
}

void TestFileReceive::namesTheSenderCannotTakeOver()
{
    // The user's own file that looks like a partial file, and a name whose
    // partial name would be too long, both come through whole.
    const std::string content = randomBytes(3000);
    writeFile(dir() + "/source.bin", content);
    const TransferFile file = offer(dir() + "/source.bin");
    QVERIFY(QDir().mkpath(QString::fromStdString(dir() + "/got")));
    writeFile(dir() + "/got/img.jpg.downloading", "someone else's bytes");
    LanferryHttpClient client;
    for (const std::string &name : {std::string("img.jpg"), std::string(250, 'n')}) {
        const Received r = receive(client, peer(), m_key, file.uid, std::string(), 0, at("got/" + name, 3000));
        QVERIFY2(r.result.status == 1, r.result.error.c_str());
        QVERIFY(readFile(dir() + "/got/" + name) == content);
    }
    QCOMPARE(readFile(dir() + "/got/img.jpg.downloading"), std::string("someone else's bytes"));
    QCOMPARE(QDir(QString::fromStdString(dir() + "/got")).count(), 2u + 3u); // ".", ".." and the three files
}

void TestFileReceive::badListings_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QString>("error"); // empty: accepted

    QTest::newRow("empty array") << QByteArray("[]") << "";
    QTest::newRow("object") << QByteArray("{}") << "Invalid inode/directory files.";
    QTest::newRow("not JSON") << QByteArray("oops") << "Invalid inode/directory files.";
    QTest::newRow("no name") << QByteArray(R"([{"subpath":"ok"},{"isdir":true}])") << "Invalid inode/directory files. ";
    QTest::newRow("dot") << QByteArray(R"([{"subpath":"."}])") << "Invalid inode/directory files. ";
    QTest::newRow("dot dot") << QByteArray(R"([{"subpath":"ok"},{"subpath":"..","isdir":true}])")
                             << "Invalid inode/directory files. ";
    QTest::newRow("slash") << QByteArray(R"([{"subpath":"../../etc/x"}])") << "Invalid inode/directory files. ";
    QTest::newRow("absolute") << QByteArray(R"([{"subpath":"/etc"}])") << "Invalid inode/directory files. ";
    QTest::newRow("NUL") << QByteArray(R"([{"subpath":"a\u0000/../b"}])") << "Invalid inode/directory files. ";
}

void TestFileReceive::badListings()
{
    QFETCH(QByteArray, listing);
    QFETCH(QString, error);

    RawTlsServer raw([&](const RawTlsServer::Request &, int) {
        return RawTlsServer::Reply{RawTlsServer::answer("HTTP/1.1 200 OK", listing.toStdString(),
                                                        "Content-Type: inode/directory\r\nX-EOF: 1\r\n"),
                                   false};
    });
    LanferryHttpClient client;
    std::vector<DirTaskEntry> rows(1);
    const TransferFileStatus st = listRemoteDirectory(client, PeerEndpoint{"127.0.0.1", raw.port(), ""},
                                                      TaskKey{"t1", false}, "f1", "sub", &rows);
    if (error.isEmpty()) {
        QCOMPARE(st.status, 1);
    } else {
        QCOMPARE(st.status, -1);
        QCOMPARE(st.remote, true);
        QVERIFY2(startsWith(st.error, error.toStdString()), st.error.c_str());
    }
    QCOMPARE(rows.size(), size_t(1)); // nothing appended
}

QTEST_GUILESS_MAIN(TestFileReceive)
// Small files of the real service fetched together: every byte lands under
// its own name, a taken name gets the next free one, each read is handed over
// once.
void TestFileReceive::wholeReads()
{
    const std::vector<int64_t> sizes{0, 1, 4096, 300000, 1 << 20, 777, 5, 65536, 12345, 2};
    std::vector<std::string> contents;
    std::vector<LanferryHttpClient::WholeRead> reads;
    std::vector<ReceiveTarget> targets;
    QVERIFY(QDir().mkpath(QString::fromStdString(dir() + "/src")));
    QVERIFY(QDir().mkpath(QString::fromStdString(dir() + "/dst")));
    for (size_t i = 0; i < sizes.size(); ++i) {
        contents.push_back(randomBytes(sizes[i]));
        writeFile(dir() + "/src/" + std::to_string(i), contents.back());
    }
    const TransferFile folder = offer(dir() + "/src");
    for (size_t i = 0; i < sizes.size(); ++i) {
        reads.push_back(LanferryHttpClient::WholeRead{folder.uid, std::to_string(i), sizes[i]});
        targets.push_back(at("dst/" + std::to_string(i), sizes[i]));
    }
    writeFile(dir() + "/dst/3", "taken");

    LanferryHttpClient client;
    std::vector<size_t> order;
    const std::vector<TransferFileStatus> results = receiveWhole(client, peer(), m_key, reads, targets, &order);
    for (size_t i = 0; i < sizes.size(); ++i) {
        QVERIFY2(results[i].status == 1, (std::to_string(i) + ": " + results[i].error).c_str());
        QCOMPARE(results[i].offset, sizes[i]);
        const std::string landed = dir() + "/dst/" + (i == 3 ? std::string("3 (1)") : std::to_string(i));
        QVERIFY2(readFile(landed) == contents[i], landed.c_str());
    }
    QCOMPARE(readFile(dir() + "/dst/3"), std::string("taken"));
    std::sort(order.begin(), order.end());
    QCOMPARE(order.size(), sizes.size());
    QVERIFY(std::adjacent_find(order.begin(), order.end()) == order.end());
    // One request each: every answer was the whole file.
    QCOMPARE(askedOffsets(), std::vector<int64_t>(sizes.size(), 0));

    // The kept connections serve the next call.
    order.clear();
    const std::vector<TransferFileStatus> again = receiveWhole(client, peer(), m_key, reads, targets, &order);
    QCOMPARE(again[0].status, 1);
    QCOMPARE(order.size(), sizes.size());
    QVERIFY(readFile(dir() + "/dst/1 (1)") == contents[1] || readFile(dir() + "/dst/1") == contents[1]);
}

void TestFileReceive::wholeReadAnswers_data()
{
    QTest::addColumn<QByteArrayList>("answers"); // the last one repeats
    QTest::addColumn<qint64>("offered");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // the start of it
    QTest::addColumn<int>("requests");

    const auto answer = [](const char *status, const char *body, const char *headers = "") {
        return QByteArray::fromStdString(RawTlsServer::answer(status, body, headers));
    };
    QTest::newRow("whole") << QByteArrayList{answer("HTTP/1.1 200 OK", "abcdef", "X-EOF: 1\r\n")} << qint64(6) << 1
                           << "" << 1;
    // The file grew, or the sender cuts shorter pieces: fetched again piece by piece.
    QTest::newRow("no end marker") << QByteArrayList{answer("HTTP/1.1 200 OK", "abc"), answer("HTTP/1.1 200 OK", "abc"),
                                                     answer("HTTP/1.1 200 OK", "def", "X-EOF: 1\r\n")}
                                   << qint64(6) << 1 << "" << 3;
    QTest::newRow("more than offered") << QByteArrayList{answer("HTTP/1.1 200 OK", "abcdefgh", "X-EOF: 1\r\n")}
                                       << qint64(6) << -1 << "The other device sent more data than it offered." << 1;
    QTest::newRow("404") << QByteArrayList{answer("HTTP/1.1 404 Not Found", "Invalid File.")} << qint64(6) << -1
                         << QString::fromStdString(kFileGone) << 1;
    QTest::newRow("other status: body as sent")
        << QByteArrayList{answer("HTTP/1.1 500 Oops", "Disk on fire.")} << qint64(6) << -1 << "Disk on fire." << 1;
    QTest::newRow("X-EOF not a number") << QByteArrayList{answer("HTTP/1.1 200 OK", "abcdef", "X-EOF: yes\r\n")}
                                        << qint64(6) << -1 << "The other device sent an invalid X-EOF value: yes." << 1;
    QTest::newRow("peer falls silent") << QByteArrayList{QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nab") +
                                                         QByteArray("STALL")}
                                       << qint64(6) << -1 << "CURL: " << 1;
}

// Whatever a peer answers, a file fetched whole ends as it would piece by
// piece: landed whole, or failed with the same reason and nothing landed.
void TestFileReceive::wholeReadAnswers()
{
    QFETCH(QByteArrayList, answers);
    QFETCH(qint64, offered);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(int, requests);

    RawTlsServer raw(scripted(answers));
    LanferryHttpClient client;
    client.setStallTimeout(1);
    m_key = TaskKey{"t1", false};
    const std::vector<TransferFileStatus> r =
        receiveWhole(client, PeerEndpoint{"127.0.0.1", raw.port(), ""}, m_key,
                     {LanferryHttpClient::WholeRead{"f1", "", offered}}, {at("received.bin", offered)});
    QCOMPARE(r[0].status, status);
    QVERIFY2(startsWith(r[0].error, error.toStdString()), r[0].error.c_str());
    QCOMPARE(int(raw.requests().size()), requests);
    if (status == 1) {
        QCOMPARE(readFile(dir() + "/received.bin"), std::string("abcdef"));
    } else {
        QCOMPARE(r[0].remote, true);
        QVERIFY(!exists(dir() + "/received.bin"));
    }
}

// A batch ends when its caller says so or when the client is aborted; the
// reads not handed over were not received, and the client works on.
void TestFileReceive::wholeReadsStop()
{
    std::atomic<bool> silent{true};
    RawTlsServer raw([&](const RawTlsServer::Request &, int) {
        if (silent)
            return RawTlsServer::Reply{"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\na", true};
        return RawTlsServer::Reply{RawTlsServer::answer("HTTP/1.1 200 OK", "abc", "X-EOF: 1\r\n"), false};
    });
    const PeerEndpoint from{"127.0.0.1", raw.port(), ""};
    std::vector<LanferryHttpClient::WholeRead> reads(20, LanferryHttpClient::WholeRead{"f1", "", 3});
    LanferryHttpClient client;

    // Aborted from another thread while every answer hangs.
    std::vector<size_t> handed;
    QElapsedTimer timer;
    timer.start();
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        client.abort();
    });
    client.fileReadWhole(from, "t1", reads, LanferryHttpClient::kWholeInFlight, [&](size_t i, HttpResponse &, bool) {
        handed.push_back(i);
        return true;
    });
    aborter.join();
    QVERIFY(handed.empty());
    QVERIFY2(timer.elapsed() < 5000, std::to_string(timer.elapsed()).c_str());
    QCOMPARE(raw.requests().size(), LanferryHttpClient::kWholeInFlight);

    // Stopped by the caller after three.
    silent = false;
    client.fileReadWhole(from, "t1", reads, LanferryHttpClient::kWholeInFlight,
                         [&](size_t i, HttpResponse &answer, bool) {
                             handed.push_back(i);
                             return answer.status == 200 && handed.size() < 3;
                         });
    QCOMPARE(handed.size(), size_t(3));
    QVERIFY(raw.requests().size() < LanferryHttpClient::kWholeInFlight + reads.size());
}

#include "tst_filereceive.moc"
