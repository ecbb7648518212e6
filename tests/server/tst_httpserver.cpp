// The HTTPS service end to end: the real server on 127.0.0.1, a real TLS
// client, real files and stores in a temporary data folder.
#include "BlankPng.h"
#include "RawTlsClient.h"
#include "TempDataHome.h"
#include "TestServer.h"

#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"

#include <QTcpServer>
#include <QtTest>

#include <memory>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <cstring>

namespace {

constexpr int kChunk = LanferryHttpServer::kReadBufferSize;

std::string body(const std::initializer_list<std::pair<const char *, std::string>> &strings)
{
    JsonPtr o(json_object_new_object());
    for (const auto &[k, v] : strings)
        jsonAdd(o.get(), k, v);
    return jsonText(o.get());
}

} // namespace

class TestHttpServer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void identityAndPassword();
    void passwordChangeAppliesToNextRequest();
    void thumbnailRoutesNeedNoPassword();
    void thumbnailsOfHugeImagesAreRefused();
    void pullWholeFile_data();
    void pullWholeFile();
    void readFailures();
    void folderListingAndSubPaths();
    void linksCannotLeadOutOfASentFolder();
    void sharedFileNeedsSharingAndEntry();
    void taskOffer();
    void taskNotif();
    void progressStartStop();
    void shareFiles();
    void shareReq();
    void badRequests_data();
    void badRequests();
    void guessingIsSlowedPerAddress();
    void restartAndBindFailure();
    void oversizedAndChunkedBodies();
    void bodiesAreJsonWhateverTheirLabel_data();
    void bodiesAreJsonWhateverTheirLabel();
    void compressedBodiesAreRefused();

private:
    RawTlsClient::Answer request(const std::string &raw, const char *source = "127.0.0.1");
    RawTlsClient::Answer post(const std::string &path, const std::string &json, const std::string &pwd = {});
    // A send task with one record per local path, stored under "tasks_send".
    TransferTask makeSendTask(const QStringList &paths, std::vector<TransferFile> *files,
                              const std::string &shareId = {});
    QString writeFile(const QString &name, const QByteArray &bytes);
    void setPassword(const std::string &pwd);

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<TestServer> m_server;
    QString m_files;
};

void TestHttpServer::init()
{
    m_home = std::make_unique<TempDataHome>();
    QVERIFY(ShareFilesDb::instance().reopen(std::string()));
    m_server = std::make_unique<TestServer>();
    QVERIFY(m_server->start());
    m_files = m_home->path() + "/files";
    QVERIFY(QDir().mkpath(m_files));
}

void TestHttpServer::cleanup()
{
    m_server.reset();
    m_home.reset();
}

RawTlsClient::Answer TestHttpServer::request(const std::string &raw, const char *source)
{
    RawTlsClient c;
    if (!c.connect(m_server->port, source))
        return {};
    c.send(raw);
    return c.readAnswer();
}

RawTlsClient::Answer TestHttpServer::post(const std::string &path, const std::string &json, const std::string &pwd)
{
    return request(RawTlsClient::post(path, json, pwd.empty() ? std::string() : "X-PWD: " + pwd + "\r\n"));
}

QString TestHttpServer::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(m_files + "/" + name);
    QDir().mkpath(QFileInfo(f).path());
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return f.fileName();
}

void TestHttpServer::setPassword(const std::string &pwd)
{
    ServerInfo me = loadServerInfo();
    me.pwd = pwd;
    QVERIFY(saveServerInfo(me));
}

TransferTask TestHttpServer::makeSendTask(const QStringList &paths, std::vector<TransferFile> *files,
                                          const std::string &shareId)
{
    TransferTask task = newOutgoingTask("127.0.0.1", 1, "peer-uid", "peer", "win");
    files->clear();
    for (const QString &p : paths)
        addLocalPath(task.uid, *files, p.toStdString(), std::string(), shareId);
    TaskStore store(true);
    if (!store.createTask(task, *files))
        qWarning("createTask: %s", store.lastError().c_str());
    return task;
}

void TestHttpServer::identityAndPassword()
{
    const ServerInfo me = loadServerInfo();
    RawTlsClient::Answer a = request(RawTlsClient::get("/"));
    QCOMPARE(a.status, 200);
    QCOMPARE(a.header("content-type"), std::string("application/json"));
    QCOMPARE(a.body, jsonText(serverInfoToJson(me, false).get()));

    setPassword("s3cret");
    a = request(RawTlsClient::get("/"));
    QCOMPARE(a.status, 401);
    QCOMPARE(a.body, std::string("Invalid password."));
    QCOMPARE(a.header("content-type"), std::string("text/plain"));
    QCOMPARE(request(RawTlsClient::get("/", "X-PWD: wrong\r\n")).status, 401);
    // Header names are matched in any case; the real password comes back unmasked.
    a = request(RawTlsClient::get("/", "x-pwd: s3cret\r\n"));
    QCOMPARE(a.status, 200);
    QCOMPARE(jsonString(jsonParse(a.body).get(), "pwd"), std::string("s3cret"));
}

void TestHttpServer::passwordChangeAppliesToNextRequest()
{
    // One kept-alive connection: the change applies between two of its requests.
    RawTlsClient c;
    QVERIFY(c.connect(m_server->port));
    c.send(RawTlsClient::post("/task/recv/start", "{}"));
    QCOMPARE(c.readAnswer().status, 200);
    setPassword("new");
    c.send(RawTlsClient::post("/task/recv/start", "{}"));
    QCOMPARE(c.readAnswer().status, 401);
    c.send(RawTlsClient::post("/task/recv/start", "{}", "X-PWD: new\r\n"));
    QCOMPARE(c.readAnswer().status, 200);
    setPassword("");
    c.send(RawTlsClient::post("/task/recv/start", "{}"));
    QCOMPARE(c.readAnswer().status, 200);
}

void TestHttpServer::thumbnailRoutesNeedNoPassword()
{
    QImage image(QSize(1000, 500), QImage::Format_RGB32);
    image.fill(Qt::green);
    const QString path = m_files + "/wide.png";
    QVERIFY(image.save(path));
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({path}, &files);
    ShareFile entry = newShareFile("wide.png", path.toStdString(), "image/png", path.toStdString(), false);
    ShareFilesDb::instance().addFile(entry);
    ShareFile blank = newShareFile("blank", path.toStdString(), "", "", false);
    ShareFilesDb::instance().addFile(blank);
    setPassword("pw");

    RawTlsClient::Answer a =
        request(RawTlsClient::get("/file/thumb/" + task.uid + "/" + files[0].uid + "?mime=image/png"));
    QCOMPARE(a.status, 200);
    QCOMPARE(a.header("content-type"), std::string("image/png"));
    QCOMPARE(QImage::fromData(QByteArray::fromStdString(a.body)).size(), QSize(256, 128));

    // While sharing is off, share thumbnails are refused like every share route.
    for (const std::string &uid : {entry.uid, blank.uid, std::string("nosuch")}) {
        a = request(RawTlsClient::get("/share/thumb/" + uid));
        QCOMPARE(a.status, 403);
        QCOMPARE(a.body, std::string("The sharing function has been disabled."));
    }
    ShareFilesDb::instance().setEnabled(true);
    // No mime gives a JPEG.
    a = request(RawTlsClient::get("/share/thumb/" + entry.uid));
    QCOMPARE(a.status, 200);
    QCOMPARE(a.header("content-type"), std::string("image/jpeg"));
    QVERIFY(!QImage::fromData(QByteArray::fromStdString(a.body)).isNull());

    a = request(RawTlsClient::get("/share/thumb/" + blank.uid));
    QCOMPARE(a.status, 500);
    QVERIFY(a.body.empty());
    QCOMPARE(request(RawTlsClient::get("/share/thumb/nosuch")).status, 404);
    QCOMPARE(request(RawTlsClient::get("/file/thumb/" + task.uid + "/nosuch")).body, std::string("Invalid File."));
    // An entry taken off the list is no longer shown.
    ShareFilesDb::instance().removeFile(entry.uid);
    QCOMPARE(request(RawTlsClient::get("/share/thumb/" + entry.uid)).status, 404);
}

void TestHttpServer::thumbnailsOfHugeImagesAreRefused()
{
    // Under 1 MiB on disk, over 100 MB once decoded.
    const QString path = writeFile("huge.png", blankpng::make(30000, 30000));
    QVERIFY(QFileInfo(path).size() < 1024 * 1024);
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({path}, &files);
    ShareFile entry = newShareFile("huge.png", path.toStdString(), "image/png", path.toStdString(), false);
    ShareFilesDb::instance().addFile(entry);
    ShareFilesDb::instance().setEnabled(true);
    for (const std::string &route : {"/share/thumb/" + entry.uid, "/file/thumb/" + task.uid + "/" + files[0].uid}) {
        const RawTlsClient::Answer a = request(RawTlsClient::get(route + "?mime=image/png"));
        QCOMPARE(a.status, 500);
        QVERIFY(a.body.empty());
    }
}

void TestHttpServer::pullWholeFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("requests");
    QTest::newRow("empty") << 0 << 1;
    QTest::newRow("small") << 1000 << 1;
    QTest::newRow("chunk and a byte") << kChunk + 1 << 2;
    QTest::newRow("exactly two chunks") << 2 * kChunk << 3;
}

void TestHttpServer::pullWholeFile()
{
    QFETCH(int, size);
    QFETCH(int, requests);
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char((uint32_t(i) * 7919u) >> 3);
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({writeFile("data.bin", content)}, &files);

    RawTlsClient c;
    QVERIFY(c.connect(m_server->port));
    QByteArray received;
    int count = 0;
    bool ended = false;
    while (!ended && count < 10) {
        JsonPtr req(json_object_new_object());
        jsonAdd(req.get(), "tid", task.uid);
        jsonAdd(req.get(), "fid", files[0].uid);
        jsonAdd(req.get(), "subpath", "");
        jsonAddInt64(req.get(), "offset", received.size());
        QVERIFY(c.send(RawTlsClient::post("/file/read", jsonText(req.get()))));
        const RawTlsClient::Answer a = c.readAnswer();
        QCOMPARE(a.status, 200);
        QCOMPARE(a.header("content-type"), std::string("application/octet-stream"));
        ++count;
        ended = a.header("x-eof") == "1";
        // A full chunk never carries the end marker; the answer after it does, empty.
        if (int(a.body.size()) == kChunk)
            QVERIFY(!ended);
        received += QByteArray::fromStdString(a.body);
    }
    QVERIFY(ended);
    QCOMPARE(count, requests);
    QVERIFY(received == content);
}

void TestHttpServer::readFailures()
{
    const QString path = writeFile("gone.txt", "bye");
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({path}, &files);
    auto read = [&](const std::string &fid, int64_t offset) {
        JsonPtr req(json_object_new_object());
        jsonAdd(req.get(), "tid", task.uid);
        jsonAdd(req.get(), "fid", fid);
        jsonAddInt64(req.get(), "offset", offset);
        return post("/file/read", jsonText(req.get()));
    };
    RawTlsClient::Answer a = read(files[0].uid, 3); // offset equal to the size
    QCOMPARE(a.status, 200);
    QVERIFY(a.body.empty());
    QCOMPARE(a.header("x-eof"), std::string("1"));

    QCOMPARE(read("unknown-file", 0).status, 404);
    QFile::remove(path);
    a = read(files[0].uid, 0);
    QCOMPARE(a.status, 500);
    QCOMPARE(a.body, std::string("No such file or directory"));
    QCOMPARE(a.header("content-type"), std::string("text/plain"));

    // A file read before is no longer served once its task is removed.
    writeFile("gone.txt", "back");
    QCOMPARE(read(files[0].uid, 0).status, 200);
    QVERIFY(TaskStore(true).deleteTask(task.uid, 1000));
    a = read(files[0].uid, 0);
    QCOMPARE(a.status, 404);
    QCOMPARE(a.body, std::string("Invalid File."));
}

void TestHttpServer::folderListingAndSubPaths()
{
    writeFile("album/f.txt", "12345");
    writeFile("album/a/g.bin", "abc");
    const QString album = m_files + "/album";
    QVERIFY(::mkfifo((album + "/fifo").toUtf8().constData(), 0600) == 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = (album + "/sock").toUtf8();
    ::strncpy(addr.sun_path, sockPath.constData(), sizeof addr.sun_path - 1);
    QVERIFY(::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0);
    QVERIFY(QFile::link(album + "/f.txt", album + "/link"));
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({album}, &files);
    QCOMPARE(files[0].mime, std::string("inode/directory"));

    auto read = [&](const std::string &subpath) {
        return post("/file/read", body({{"tid", task.uid}, {"fid", files[0].uid}, {"subpath", subpath}}));
    };
    RawTlsClient::Answer a = read("");
    ::close(sock);
    QCOMPARE(a.status, 200);
    QCOMPARE(a.header("content-type"), std::string("inode/directory"));
    QCOMPARE(a.header("x-eof"), std::string("1"));
    JsonPtr list = jsonParse(a.body);
    QVERIFY(json_object_is_type(list.get(), json_type_array));
    std::map<std::string, std::pair<bool, int64_t>> entries;
    for (size_t i = 0; i < json_object_array_length(list.get()); ++i) {
        json_object *e = json_object_array_get_idx(list.get(), i);
        entries[jsonString(e, "subpath")] = {jsonBool(e, "isdir"), jsonInt64(e, "total")};
    }
    const std::map<std::string, std::pair<bool, int64_t>> expected{{"a", {true, 0}}, {"f.txt", {false, 5}}};
    QVERIFY(entries == expected); // no FIFO, socket or link

    a = read("a");
    QCOMPARE(a.header("content-type"), std::string("inode/directory"));
    QVERIFY(a.body.find("g.bin") != std::string::npos);
    a = read("a/g.bin");
    QCOMPARE(a.status, 200);
    QCOMPARE(a.body, std::string("abc"));
    QCOMPARE(a.header("x-eof"), std::string("1"));
    a = read("a/missing");
    QCOMPARE(a.status, 500);
    QCOMPARE(a.body, std::string("No such file or directory"));
}

void TestHttpServer::linksCannotLeadOutOfASentFolder()
{
    writeFile("outside/secret.txt", "secret");
    writeFile("shared/in.txt", "in");
    QVERIFY(QFile::link(m_files + "/outside", m_files + "/shared/door"));
    QVERIFY(QFile::link(m_files + "/outside/secret.txt", m_files + "/shared/peek"));
    QVERIFY(QFile::link(m_files + "/shared/in.txt", m_files + "/shared/inner"));
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({m_files + "/shared"}, &files);
    auto read = [&](const std::string &subpath) {
        return post("/file/read", body({{"tid", task.uid}, {"fid", files[0].uid}, {"subpath", subpath}}));
    };
    // Links are never listed, so a peer has no business naming one: refused
    // wherever they lead, as a later swap could make any of them lead out.
    for (const char *sub : {"door/secret.txt", "peek", "door", "inner"}) {
        const RawTlsClient::Answer a = read(sub);
        QCOMPARE(a.status, 500);
        QCOMPARE(a.body, std::string("Invalid File."));
    }
    QCOMPARE(read("in.txt").body, std::string("in"));
}

void TestHttpServer::sharedFileNeedsSharingAndEntry()
{
    const QString path = writeFile("s.txt", "shared");
    ShareFile entry = newShareFile("s.txt", path.toStdString(), "text/plain", "", false);
    ShareFilesDb &shares = ShareFilesDb::instance();
    shares.addFile(entry);
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({path}, &files, entry.uid);
    const std::string req = body({{"tid", task.uid}, {"fid", files[0].uid}});

    RawTlsClient::Answer a = post("/file/read", req);
    QCOMPARE(a.status, 403);
    QCOMPARE(a.body, std::string("Invalid Share-File."));
    shares.setEnabled(true);
    QCOMPARE(post("/file/read", req).body, std::string("shared"));
    shares.removeFile(entry.uid);
    QCOMPARE(post("/file/read", req).status, 403);
    QCOMPARE(request(RawTlsClient::get("/file/thumb/" + task.uid + "/" + files[0].uid)).body,
             std::string("Invalid Share-File."));
}

void TestHttpServer::taskOffer()
{
    const ServerInfo me = loadServerInfo();
    TransferTask task = newOutgoingTask("", 4242, me.uid, me.name, "win");
    task.local_uid = me.uid; // addressed to this device
    std::vector<TransferFile> files{newTransferFile(task.uid, "", "/x", "", "x.txt", "text/plain", 3)};
    files[0].save_path = "/etc/passwd"; // never taken from the sender
    files[0].status.status = 1;
    task.ip = "10.9.9.9"; // the address comes from the connection
    task.from_me = 1;

    QCOMPARE(post("/task/recv", jsonText(transferTaskToJson(task, files).get())).status, 200);
    TestServer::Calls calls = m_server->calls();
    QCOMPARE(calls.recv.size(), size_t(1));
    QCOMPARE(calls.recv[0].first.ip, std::string("127.0.0.1"));
    QCOMPARE(calls.recv[0].first.from_me, 0);
    QCOMPARE(calls.recv[0].first.port, 4242);
    QCOMPARE(calls.recv[0].second.size(), size_t(1));
    QCOMPARE(calls.recv[0].second[0].file_name, std::string("x.txt"));
    QVERIFY(calls.recv[0].second[0].save_path.empty());
    QCOMPARE(calls.recv[0].second[0].status.status, 0);

    TransferTask other = task;
    other.local_uid = "someone-else";
    RawTlsClient::Answer a = post("/task/recv", jsonText(transferTaskToJson(other, files).get()));
    QCOMPARE(a.status, 403);
    QCOMPARE(a.body, std::string("Invalid Target."));
    other.uid.clear();
    a = post("/task/recv", jsonText(transferTaskToJson(other, files).get()));
    QCOMPARE(a.body, std::string("Invalid Task."));
    QCOMPARE(m_server->calls().recv.size(), size_t(1)); // the owner heard of neither

    // Each offer is a prompt and a task folder: one address gets 16 a minute.
    const std::string offer = jsonText(transferTaskToJson(task, files).get());
    for (int i = 1; i < LanferryHttpServer::kMaxOffersPerMinute; ++i)
        QCOMPARE(post("/task/recv", offer).status, 200);
    a = post("/task/recv", offer);
    QCOMPARE(a.status, 429);
    QCOMPARE(a.body, std::string("Too many offers."));
    QCOMPARE(m_server->calls().recv.size(), size_t(LanferryHttpServer::kMaxOffersPerMinute));
    QCOMPARE(request(RawTlsClient::post("/task/recv", offer), "127.0.0.2").status, 200); // another address
}

void TestHttpServer::taskNotif()
{
    const ServerInfo me = loadServerInfo();
    std::vector<TransferFile> files;
    TransferTask declined = makeSendTask({writeFile("a", "a")}, &files);
    TransferTask accepted = makeSendTask({writeFile("b", "b")}, &files);
    // Sent to another device: its notices are not ours to take.
    TransferTask foreign = newOutgoingTask("127.0.0.1", 1, "p", "p", "win");
    foreign.local_uid = "not-me";
    QVERIFY(TaskStore(true).createTask(foreign, files));
    // Our send tasks carry our own uid as local_uid.
    QCOMPARE(declined.local_uid, me.uid);

    const std::string folder = TaskStore(true).taskDir(declined.uid);
    bool folderGoneWhenTold = false;
    m_server->onNotif = [&](const TransferTask &t, bool accept) {
        if (t.uid == declined.uid && !accept)
            folderGoneWhenTold = !QFileInfo::exists(QString::fromStdString(folder));
    };
    QJsonObject unused;
    QCOMPARE(post("/task/recv/notif", "{ \"tid\": \"" + declined.uid + "\", \"accept\": false }").status, 200);
    QVERIFY(folderGoneWhenTold);
    QCOMPARE(post("/task/recv/notif", "{ \"tid\": \"" + accepted.uid + "\", \"accept\": true }").status, 200);
    QVERIFY(QFileInfo::exists(QString::fromStdString(TaskStore(true).taskDir(accepted.uid))));
    const TestServer::Calls calls = m_server->calls();
    QCOMPARE(calls.notif.size(), size_t(2));
    QCOMPARE(calls.notif[1].first.uid, accepted.uid);
    QVERIFY(calls.notif[1].second);

    RawTlsClient::Answer a = post("/task/recv/notif", "{ \"tid\": \"" + foreign.uid + "\", \"accept\": false }");
    QCOMPARE(a.status, 403);
    QCOMPARE(a.body, std::string("Invalid Target."));
    QVERIFY(QFileInfo::exists(QString::fromStdString(TaskStore(true).taskDir(foreign.uid))));

    a = post("/task/recv/notif", "{ \"tid\": \"no-such-task\", \"accept\": true }");
    QCOMPARE(a.status, 500);
    QVERIFY2(a.body.rfind("Read task failed. ", 0) == 0, a.body.c_str());

    // A manifest that holds no task.
    Sqlite3DB db;
    QVERIFY(db.open(TaskStore(true).taskDir(accepted.uid) + "/manifest.db", std::string(), SQLITE_OPEN_READWRITE));
    QVERIFY(db.exec("delete from task"));
    db.close();
    a = post("/task/recv/notif", "{ \"tid\": \"" + accepted.uid + "\", \"accept\": true }");
    QCOMPARE(a.status, 403);
    QCOMPARE(a.body, std::string("Invalid Task."));
}

void TestHttpServer::progressStartStop()
{
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({writeFile("p", "p")}, &files);
    const std::string report = "{ \"tid\": \"" + task.uid + "\", \"fid\": \"" + files[0].uid +
                               "\", \"status\": -2, \"remote\": true, \"offset\": 5000000000, \"err\": \"disk full\", "
                               "\"desc\": \"half\" }";
    QCOMPARE(post("/task/recv/progress", report).status, 200);
    TransferFile stored;
    QCOMPARE(TaskStore(true).readTaskFile(task.uid, files[0].uid, &stored), 1);
    QCOMPARE(stored.status.status, -2);
    QVERIFY(stored.status.remote);
    QCOMPARE(stored.status.offset, int64_t(5000000000));
    QCOMPARE(stored.status.error, std::string("disk full"));
    QCOMPARE(stored.status.desc, std::string("half"));

    QCOMPARE(post("/task/recv/start", "{ \"tid\": \"t-1\" }").status, 200);
    QCOMPARE(post("/task/recv/stop", "not json").status, 200);
    const TestServer::Calls calls = m_server->calls();
    QCOMPARE(calls.progress.size(), size_t(1));
    QCOMPARE(std::get<2>(calls.progress[0]).offset, int64_t(5000000000));
    QCOMPARE(calls.starts, std::vector<std::string>{"t-1"});
    QCOMPARE(calls.stops, std::vector<std::string>{""});
}

void TestHttpServer::shareFiles()
{
    ShareFilesDb &shares = ShareFilesDb::instance();
    shares.addFile(newShareFile("b.txt", "/b", "text/plain", "", false));
    shares.addFile(newShareFile("a.txt", "/a", "text/plain", "", false));
    shares.addFile(newShareFile("z-folder", "/z", "application/octet-stream", "", true));
    shares.addFile(newShareFile("m-folder", "/m", "application/octet-stream", "", true));
    RawTlsClient::Answer a = post("/share/files", "{}");
    QCOMPARE(a.status, 200);
    QCOMPARE(a.header("content-type"), std::string("application/json"));
    QCOMPARE(a.body, std::string("[ ]"));

    shares.setEnabled(true);
    a = post("/share/files", "{}");
    JsonPtr list = jsonParse(a.body);
    QStringList names;
    for (size_t i = 0; i < json_object_array_length(list.get()); ++i)
        names << QString::fromStdString(jsonString(json_object_array_get_idx(list.get(), i), "name"));
    QCOMPARE(names, QStringList({"m-folder", "z-folder", "a.txt", "b.txt"}));
    QVERIFY(jsonBool(json_object_array_get_idx(list.get(), 0), "isFolder"));
}

void TestHttpServer::shareReq()
{
    ShareFilesDb &shares = ShareFilesDb::instance();
    const QString path = writeFile("wanted.txt", "wanted");
    ShareFile wanted = newShareFile("wanted.txt", path.toStdString(), "text/plain", "", false);
    ShareFile gone = newShareFile("gone.txt", (m_files + "/gone.txt").toStdString(), "text/plain", "", false);
    shares.addFile(wanted);
    shares.addFile(gone);
    setPassword("pw");
    const std::string requester = "{ \"uid\": \"req-uid\", \"name\": \"asker\", \"type\": \"win\", \"pwd\": \"*\", "
                                  "\"port\": 30000 }";
    auto req = [&](const std::string &fids) {
        return post("/share/req", "{ \"server\": " + requester + ", \"fids\": " + fids + " }", "pw");
    };
    RawTlsClient::Answer a = req("[ \"" + wanted.uid + "\" ]");
    QCOMPARE(a.status, 403);
    QCOMPARE(a.body, std::string("The sharing function has been disabled."));

    shares.setEnabled(true);
    a = req("[ \"unknown\", \"" + wanted.uid + "\" ]");
    QCOMPARE(a.status, 200);
    QCOMPARE(a.header("content-type"), std::string("application/json"));
    std::vector<TransferFile> files;
    const TransferTask task = transferTaskFromJson(jsonParse(a.body).get(), &files);
    const ServerInfo me = loadServerInfo();
    QCOMPARE(task.pwd, std::string("pw")); // the real password, so the requester can read
    QCOMPARE(task.port, m_server->port);
    QCOMPARE(task.remote_uid, me.uid);
    QCOMPARE(task.local_uid, std::string("req-uid"));
    QCOMPARE(task.from_me, 0);
    QVERIFY(task.ip.empty());
    QCOMPARE(files.size(), size_t(1));
    QCOMPARE(files[0].shareid, wanted.uid);
    QCOMPARE(files[0].file_name, std::string("wanted.txt"));
    // Stored as a send task addressed to the requester's connection and port.
    TransferTask stored;
    QCOMPARE(TaskStore(true).readTask(task.uid, &stored), 1);
    QCOMPARE(stored.ip, std::string("127.0.0.1"));
    QCOMPARE(stored.port, 30000);
    QCOMPARE(stored.from_me, 1);
    const TestServer::Calls calls = m_server->calls();
    QCOMPARE(calls.shareReqs.size(), size_t(1));
    QCOMPARE(calls.shareReqs[0].first, std::string("127.0.0.1"));
    QCOMPARE(calls.shareReqs[0].second.name, std::string("asker"));

    std::vector<TransferTask> before;
    TaskStore(true).listTasks(&before);
    a = req("[ \"" + gone.uid + "\" ]");
    QCOMPARE(a.status, 500);
    QCOMPARE(a.body, std::string("Invalid Request(no files)."));
    std::vector<TransferTask> after;
    TaskStore(true).listTasks(&after);
    QCOMPARE(after.size(), before.size()); // nothing stored

    QCOMPARE(req("[ ]").body, std::string("Invalid Request."));
    QCOMPARE(post("/share/req", "{ \"server\": \"x\", \"fids\": [ \"a\" ] }", "pw").body,
             std::string("Invalid Request."));
}

void TestHttpServer::badRequests_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer");

    auto read = [](const std::string &json) {
        return QByteArray::fromStdString(RawTlsClient::post("/file/read", json));
    };
    // Filled in badRequests(): TID and FID name a real folder record, FILE a real file record.
    const QByteArray folder = "\"tid\": \"TID\", \"fid\": \"FID\"";
    auto sub = [&](const std::string &s) {
        return read("{ " + folder.toStdString() + ", \"subpath\": \"" + s + "\" }");
    };
    QTest::newRow("traversal ..") << sub("..") << 403 << QByteArray("Invalid File.");
    QTest::newRow("traversal ../x") << sub("../outside.txt") << 403 << QByteArray("Invalid File.");
    QTest::newRow("traversal a/../../x") << sub("a/../../outside.txt") << 403 << QByteArray("Invalid File.");
    QTest::newRow("absolute") << sub("/etc/passwd") << 403 << QByteArray("Invalid File.");
    QTest::newRow("empty component") << sub("a//b") << 403 << QByteArray("Invalid File.");
    QTest::newRow("dot component") << sub("./a") << 403 << QByteArray("Invalid File.");
    QTest::newRow("trailing dot dot") << sub("a/..") << 403 << QByteArray("Invalid File.");
    QTest::newRow("escaped NUL") << sub("a\\u0000b") << 403 << QByteArray("Invalid File.");
    QTest::newRow("backslash is a name") << sub("..\\\\outside.txt") << 500 << QByteArray("No such file or directory");
    QTest::newRow("subpath on a file record")
        << read("{ \"tid\": \"TID\", \"fid\": \"FILE\", \"subpath\": \"x\" }") << 403 << QByteArray("Invalid File.");
    QTest::newRow("negative offset") << read("{ \"tid\": \"TID\", \"fid\": \"FILE\", \"offset\": -5 }") << 500
                                     << QByteArray("Invalid argument");
    QTest::newRow("huge offset") << read("{ \"tid\": \"TID\", \"fid\": \"FILE\", \"offset\": 9223372036854775807 }")
                                 << 500 << QByteArray("Invalid argument");
    QTest::newRow("offset as text") << read("{ \"tid\": \"TID\", \"fid\": \"FILE\", \"offset\": \"2\" }") << 200
                                    << QByteArray("ntent");
    QTest::newRow("tid as number") << read("{ \"tid\": 5, \"fid\": \"FILE\" }") << 404 << QByteArray("Invalid File.");
    QTest::newRow("tid as object") << read("{ \"tid\": { }, \"fid\": \"FILE\" }") << 404 << QByteArray("Invalid File.");
    QTest::newRow("tid with ../") << read("{ \"tid\": \"../tasks_recv/x\", \"fid\": \"FILE\" }") << 404
                                  << QByteArray("Invalid File.");
    QTest::newRow("fid with ../") << read("{ \"tid\": \"TID\", \"fid\": \"../manifest.db\" }") << 404
                                  << QByteArray("Invalid File.");
    QTest::newRow("body not json") << read("tid=TID") << 404 << QByteArray("Invalid File.");
    QTest::newRow("body an array") << read("[ \"TID\" ]") << 404 << QByteArray("Invalid File.");
    QTest::newRow("deeply nested json") << read(std::string(5000, '[') + std::string(5000, ']')) << 404
                                        << QByteArray("Invalid File.");
    QTest::newRow("task offer not json") << QByteArray::fromStdString(RawTlsClient::post("/task/recv", "{{{")) << 403
                                         << QByteArray("Invalid Task.");
    QTest::newRow("task offer with ../ id")
        << QByteArray::fromStdString(RawTlsClient::post("/task/recv", "{ \"uid\": \"../x\", \"files\": [ ] }")) << 403
        << QByteArray("Invalid Task.");
    QTest::newRow("task offer files not an array")
        << QByteArray::fromStdString(RawTlsClient::post("/task/recv", "{ \"uid\": \"abc\", \"files\": 7 }")) << 403
        << QByteArray("Invalid Target.");
    QTest::newRow("notif with ../ id") << QByteArray::fromStdString(
                                              RawTlsClient::post("/task/recv/notif", "{ \"tid\": \"../../x\" }"))
                                       << 500 << QByteArray();
    QTest::newRow("share thumb with ../ id")
        << QByteArray::fromStdString(RawTlsClient::get("/share/thumb/..%2f..%2fx")) << 404 << QByteArray();
    QTest::newRow("file thumb with dots")
        << QByteArray::fromStdString(RawTlsClient::get("/file/thumb/../..")) << 404 << QByteArray();
    QTest::newRow("unknown route") << QByteArray::fromStdString(RawTlsClient::post("/admin", "{}")) << 404
                                   << QByteArray();
    QTest::newRow("wrong method") << QByteArray::fromStdString(RawTlsClient::get("/file/read")) << 404 << QByteArray();
    QTest::newRow("missing password") << QByteArray("PWD") << 401 << QByteArray("Invalid password.");
    QTest::newRow("wrong password") << QByteArray("BADPWD") << 401 << QByteArray("Invalid password.");
    QTest::newRow("not http") << QByteArray("HELLO\r\n\r\n") << 400 << QByteArray();
}

void TestHttpServer::badRequests()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);

    writeFile("dir/inside.txt", "inside");
    writeFile("outside.txt", "outside");
    const QString filePath = writeFile("content.txt", "content");
    std::vector<TransferFile> files;
    const TransferTask task = makeSendTask({m_files + "/dir", filePath}, &files);
    ShareFilesDb::instance().setEnabled(true);
    if (raw == "PWD" || raw == "BADPWD") {
        setPassword("right");
        raw = QByteArray::fromStdString(
            RawTlsClient::post("/share/files", "{}", raw == "BADPWD" ? "X-PWD: wrong\r\n" : ""));
    }
    raw.replace("TID", QByteArray::fromStdString(task.uid));
    raw.replace("FID", QByteArray::fromStdString(files[0].uid));
    raw.replace("FILE", QByteArray::fromStdString(files[1].uid));
    // Content-Length was computed with the placeholders; recompute it.
    const int split = raw.indexOf("\r\n\r\n");
    if (raw.startsWith("POST") && split > 0) {
        const QByteArray payload = raw.mid(split + 4);
        QByteArray head = raw.left(split);
        head.replace(QRegularExpression("Content-Length: \\d+").match(QString::fromLatin1(head)).captured(0).toLatin1(),
                     "Content-Length: " + QByteArray::number(payload.size()));
        raw = head + "\r\n\r\n" + payload;
    }
    const RawTlsClient::Answer a = request(raw.toStdString());
    QCOMPARE(a.status, status);
    if (!answer.isEmpty() || status == 200)
        QCOMPARE(QByteArray::fromStdString(a.body), answer);
    // The server keeps serving.
    setPassword("");
    QCOMPARE(request(RawTlsClient::get("/")).status, 200);
}

void TestHttpServer::guessingIsSlowedPerAddress()
{
    setPassword("right");
    for (int i = 0; i < 20; ++i)
        QCOMPARE(request(RawTlsClient::get("/", "X-PWD: guess" + std::to_string(i) + "\r\n")).status, 401);
    RawTlsClient::Answer a = request(RawTlsClient::get("/", "X-PWD: right\r\n"));
    QCOMPARE(a.status, 429);
    QCOMPARE(a.body, std::string("Too many attempts."));
    // Another address is not affected.
    QCOMPARE(request(RawTlsClient::get("/", "X-PWD: right\r\n"), "127.0.0.2").status, 200);
    // Routes without a password are not affected either.
    ShareFilesDb::instance().setEnabled(true);
    QCOMPARE(request(RawTlsClient::get("/share/thumb/none")).status, 404);
}

void TestHttpServer::restartAndBindFailure()
{
    // start while listening restarts on the port now in the settings.
    const int oldPort = m_server->port;
    const int newPort = freePort();
    ServerInfo me = loadServerInfo();
    me.port = newPort;
    QVERIFY(saveServerInfo(me));
    QVERIFY(m_server->server.start());
    QVERIFY(QTest::qWaitFor([&] { return m_server->server.isListening(); }, 5000));
    RawTlsClient c;
    QVERIFY(c.connect(newPort));
    QVERIFY(!RawTlsClient().connect(oldPort));

    // A port held by another program: one error, ending in the socket error code.
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    me.port = holder.serverPort();
    QVERIFY(saveServerInfo(me));
    QVERIFY(m_server->server.start());
    QVERIFY(QTest::qWaitFor([&] { return !m_server->calls().errors.empty(); }, 5000));
    QTest::qWait(200);
    const std::vector<std::string> errors = m_server->calls().errors;
    QCOMPARE(errors, std::vector<std::string>{"Server start failed, return " + std::to_string(EADDRINUSE)});
    m_server->server.stop();
    m_server->server.stop(); // safe when stopped
}

void TestHttpServer::oversizedAndChunkedBodies()
{
    // 70 MiB announced: refused without reading it all.
    RawTlsClient big;
    QVERIFY(big.connect(m_server->port));
    big.send("POST /task/recv HTTP/1.1\r\nHost: x\r\nContent-Length: 73400320\r\n\r\n");
    big.send(std::string(1 << 20, 'x'));
    QCOMPARE(big.readAnswer().status, 413);

    // Chunked bodies could grow without bound: refused before any is read.
    RawTlsClient chunked;
    QVERIFY(chunked.connect(m_server->port));
    chunked.send("POST /task/recv HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n");
    chunked.send("100000\r\n" + std::string(0x100000, 'y') + "\r\n");
    const RawTlsClient::Answer a = chunked.readAnswer();
    QCOMPARE(a.status, 411);
    QCOMPARE(a.header("connection"), std::string("close"));

    // A header line far beyond any real one: the server survives it.
    RawTlsClient header;
    QVERIFY(header.connect(m_server->port));
    header.send("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(4 << 20, 'h') + "\r\n\r\n");
    header.readAnswer(3000);
    QCOMPARE(request(RawTlsClient::get("/")).status, 200);
}

void TestHttpServer::bodiesAreJsonWhateverTheirLabel_data()
{
    QTest::addColumn<QByteArray>("label"); // the Content-Type line, or nothing
    QTest::newRow("none") << QByteArray();
    QTest::newRow("json") << QByteArray("application/json");
    // What libcurl sends for an unlabelled body.
    QTest::newRow("form") << QByteArray("application/x-www-form-urlencoded");
    QTest::newRow("form with charset") << QByteArray("application/x-www-form-urlencoded; charset=utf-8");
    QTest::newRow("multipart") << QByteArray("multipart/form-data; boundary=xyz");
    QTest::newRow("multipart without boundary") << QByteArray("multipart/form-data");
    QTest::newRow("text") << QByteArray("text/plain");
}

void TestHttpServer::bodiesAreJsonWhateverTheirLabel()
{
    QFETCH(QByteArray, label);
    const std::string contentType = label.isEmpty() ? std::string() : "Content-Type: " + label.toStdString() + "\r\n";
    auto send = [&](const std::string &path, const std::string &json) {
        return request("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + contentType +
                       "Content-Length: " + std::to_string(json.size()) + "\r\n\r\n" + json);
    };

    // An offer of 400 files, far above the frame's 8 KiB limit for forms.
    const ServerInfo me = loadServerInfo();
    TransferTask task = newOutgoingTask("", 4242, me.uid, me.name, "win");
    std::vector<TransferFile> offered;
    for (int i = 0; i < 400; ++i) {
        const std::string name = "f" + std::to_string(i) + "&x=1%26.txt"; // form syntax must stay text
        offered.push_back(newTransferFile(task.uid, "", "/x/" + name, "", name, "text/plain", i));
    }
    RawTlsClient::Answer a = send("/task/recv", jsonText(transferTaskToJson(task, offered).get()));
    QCOMPARE(a.status, 200);
    const TestServer::Calls calls = m_server->calls();
    QCOMPARE(calls.recv.size(), size_t(1));
    const std::vector<TransferFile> &received = calls.recv[0].second;
    QCOMPARE(received.size(), offered.size());
    for (size_t i = 0; i < offered.size(); ++i) {
        QCOMPARE(received[i].uid, offered[i].uid);
        QCOMPARE(received[i].file_name, offered[i].file_name);
        QCOMPARE(received[i].total, offered[i].total);
    }

    // A download of 1,000 shared entries.
    ShareFilesDb &shares = ShareFilesDb::instance();
    shares.setEnabled(true);
    const std::string path = writeFile("one.txt", "one").toStdString();
    std::string fids;
    std::set<std::string> wanted;
    QVERIFY(shares.beginTransaction()); // one disk flush, not a thousand
    for (int i = 0; i < 1000; ++i) {
        const ShareFile entry = newShareFile("one.txt", path, "text/plain", "", false);
        shares.addFile(entry);
        fids += (i ? ", \"" : "\"") + entry.uid + "\"";
        wanted.insert(entry.uid);
    }
    QVERIFY(shares.commit());
    a = send("/share/req", "{ \"server\": { \"uid\": \"req-uid\", \"name\": \"asker\", \"port\": 30000 }, "
                           "\"fids\": [ " +
                               fids + " ] }");
    QCOMPARE(a.status, 200);
    std::vector<TransferFile> files;
    transferTaskFromJson(jsonParse(a.body).get(), &files);
    QCOMPARE(files.size(), size_t(1000));
    std::set<std::string> got;
    for (const TransferFile &f : files)
        got.insert(f.shareid);
    QVERIFY(got == wanted);
}

void TestHttpServer::compressedBodiesAreRefused()
{
    // A small compressed body could stand for gigabytes once inflated.
    RawTlsClient c;
    QVERIFY(c.connect(m_server->port));
    c.send(RawTlsClient::post("/task/recv/start", "{}", "Content-Encoding: gzip\r\n"));
    const RawTlsClient::Answer a = c.readAnswer();
    QCOMPARE(a.status, 415);
    QCOMPARE(a.header("connection"), std::string("close"));
    QCOMPARE(post("/task/recv/start", "{}").status, 200);
    QVERIFY(m_server->calls().starts.size() == 1); // only the plain one reached the owner
    QCOMPARE(request(RawTlsClient::post("/task/recv/start", "{}", "Content-Encoding: identity\r\n")).status, 200);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
