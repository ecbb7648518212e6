// Task and file records: their JSON forms, the peer's copy of a task, fresh
// records, and the save paths of received files.
#include "store/TransferRecords.h"

#include "core/ServerInfo.h"
#include "TempDataHome.h"

#include <QtTest>

#include <ctime>

namespace {

TransferTask sampleTask()
{
    TransferTask t;
    t.uid = "t-1";
    t.ip = "192.168.1.20";
    t.port = 20168;
    t.pwd = "secret";
    t.remote_uid = "peer-uid";
    t.remote_name = "Peer";
    t.remote_type = "win";
    t.local_uid = "me-uid";
    t.from_me = 1;
    t.started = 1;
    t.root = "/home/u/Downloads";
    t.created = 1700000000123LL;
    return t;
}

TransferFile sampleFile()
{
    TransferFile f;
    f.uid = "f-1";
    f.tid = "t-1";
    f.shareid = "s-1";
    f.root = "sub/dir";
    f.uri = "/home/u/a.txt";
    f.thumb = "th";
    f.save_path = "/tmp/a.txt";
    f.file_name = "a.txt";
    f.mime = "text/plain";
    f.total = 5000000000LL;
    f.status.status = 1;
    f.status.offset = 42;
    f.status.error = "e";
    return f;
}

QStringList keysOf(json_object *o)
{
    QStringList keys;
    json_object_object_foreach(o, key, value)
    {
        Q_UNUSED(value);
        keys << key;
    }
    return keys;
}

} // namespace

class TestTransferRecords : public QObject {
    Q_OBJECT
private slots:
    void fileJsonCarriesOnlyThePeersFields();
    void taskJsonRoundTrip();
    void fileFromJsonReadsStoreColumns();
    void statusJsonForms();
    void mirrorForPeerSwapsTheSides();
    void newRecords();
    void relativeSavePath_data();
    void relativeSavePath();
    void storeIds_data();
    void storeIds();
};

void TestTransferRecords::fileJsonCarriesOnlyThePeersFields()
{
    JsonPtr o = transferFileToJson(sampleFile());
    QCOMPARE(keysOf(o.get()), (QStringList{"uid", "tid", "shareid", "total", "file_name", "mime"}));
    QCOMPARE(jsonInt64(o.get(), "total"), 5000000000LL);
}

void TestTransferRecords::taskJsonRoundTrip()
{
    const TransferTask t = sampleTask();
    JsonPtr o = transferTaskToJson(t, {sampleFile(), sampleFile()});
    QCOMPARE(keysOf(o.get()), (QStringList{"uid", "ip", "port", "pwd", "remote_uid", "remote_name", "remote_type",
                                           "local_uid", "from_me", "started", "root", "created", "files"}));
    // Through text, as it travels.
    JsonPtr parsed = jsonParse(jsonText(o.get()));
    std::vector<TransferFile> files{TransferFile()};
    const TransferTask back = transferTaskFromJson(parsed.get(), &files);
    QCOMPARE(back.uid, t.uid);
    QCOMPARE(back.ip, t.ip);
    QCOMPARE(back.port, t.port);
    QCOMPARE(back.pwd, t.pwd);
    QCOMPARE(back.remote_uid, t.remote_uid);
    QCOMPARE(back.remote_name, t.remote_name);
    QCOMPARE(back.remote_type, t.remote_type);
    QCOMPARE(back.local_uid, t.local_uid);
    QCOMPARE(back.from_me, 1);
    QCOMPARE(back.started, 1);
    QCOMPARE(back.root, t.root);
    QCOMPARE(back.created, t.created);
    QCOMPARE(files.size(), size_t(2));
    QCOMPARE(files[1].uid, std::string("f-1"));
    QCOMPARE(files[1].total, 5000000000LL);
    QVERIFY(files[1].save_path.empty()); // never sent

    // Missing keys read as 0 and empty, including from_me.
    JsonPtr empty = jsonParse("{\"files\": 3}");
    const TransferTask blank = transferTaskFromJson(empty.get(), &files);
    QCOMPARE(blank.from_me, 0);
    QVERIFY(blank.uid.empty());
    QVERIFY(files.empty());
}

void TestTransferRecords::fileFromJsonReadsStoreColumns()
{
    JsonPtr o = jsonParse(R"({"uid":"f","tid":"t","shareid":"s","status":-2,"error":"bad","root":"r",
        "uri":"u","thumb":"th","offset":9000000000,"total":"12","save_path":"/x","file_name":"n","mime":"m"})");
    const TransferFile f = transferFileFromJson(o.get());
    QCOMPARE(f.status.status, -2);
    QCOMPARE(f.status.error, std::string("bad"));
    QCOMPARE(f.status.offset, 9000000000LL);
    QCOMPARE(f.total, 12LL);
    QCOMPARE(f.root, std::string("r"));
    QCOMPARE(f.uri, std::string("u"));
    QCOMPARE(f.thumb, std::string("th"));
    QCOMPARE(f.save_path, std::string("/x"));
}

void TestTransferRecords::statusJsonForms()
{
    TransferFileStatus s;
    s.status = -1;
    s.remote = true;
    s.offset = 7;
    s.error = "boom";
    QCOMPARE(jsonText(fileStatusToJson(s).get()),
             std::string(R"({ "status": -1, "remote": true, "offset": 7, "error": "boom" })"));
    s.desc = "sub/x";
    JsonPtr withDesc = fileStatusToJson(s);
    QCOMPARE(jsonString(withDesc.get(), "desc"), std::string("sub/x"));
    const TransferFileStatus back = fileStatusFromJson(withDesc.get());
    QCOMPARE(back.status, -1);
    QVERIFY(back.remote);
    QCOMPARE(back.offset, 7LL);
    QCOMPARE(back.desc, std::string("sub/x"));

    TransferTaskStatus ts;
    ts.total = 4;
    ts.failed = 1;
    ts.successes = 2;
    ts.error = "x";
    QCOMPARE(jsonText(taskStatusToJson(ts).get()),
             std::string(R"({ "total": 4, "failed": 1, "remote": false, "successes": 2, "error": "x" })"));
}

void TestTransferRecords::mirrorForPeerSwapsTheSides()
{
    ServerInfo local;
    local.uid = "me";
    local.name = "My PC";
    local.pwd = "mypwd";
    local.type = "win";
    local.port = 30000;
    const TransferTask t = sampleTask();
    const TransferTask m = mirrorForPeer(t, local);
    QVERIFY(m.ip.empty());
    QCOMPARE(m.port, 30000);
    QCOMPARE(m.pwd, std::string("mypwd"));
    QCOMPARE(m.remote_uid, std::string("me"));
    QCOMPARE(m.remote_name, std::string("My PC"));
    QCOMPARE(m.remote_type, std::string("win"));
    QCOMPARE(m.local_uid, std::string("peer-uid"));
    QCOMPARE(m.from_me, 0);
    QCOMPARE(m.uid, t.uid);
    QCOMPARE(m.started, t.started);
    QCOMPARE(m.root, t.root);
    QCOMPARE(m.created, t.created);
    QCOMPARE(mirrorForPeer(m, local).from_me, 1);
}

void TestTransferRecords::newRecords()
{
    TempDataHome home;
    const std::string me = loadServerInfo().uid;
    QVERIFY(!me.empty());
    const auto before = static_cast<int64_t>(std::time(nullptr));
    const TransferTask t = newOutgoingTask("10.0.0.2", 20170, "peer", "Peer", "linux");
    QCOMPARE(t.uid.size(), size_t(36));
    QVERIFY(isValidStoreId(t.uid));
    QCOMPARE(t.ip, std::string("10.0.0.2"));
    QCOMPARE(t.port, 20170);
    QCOMPARE(t.remote_uid, std::string("peer"));
    QCOMPARE(t.remote_name, std::string("Peer"));
    QCOMPARE(t.remote_type, std::string("linux"));
    QCOMPARE(t.local_uid, me);
    QCOMPARE(t.from_me, 1);
    QCOMPARE(t.started, 0);
    QVERIFY(t.pwd.empty() && t.root.empty());
    QVERIFY(t.created >= before && t.created <= static_cast<int64_t>(std::time(nullptr)));
    QVERIFY(newOutgoingTask("", 0, "", "", "").uid != t.uid);

    const TransferFile f = newTransferFile(t.uid, "", "/data/pics", "", "pics", kDirectoryMime, 0);
    QCOMPARE(f.uid.size(), size_t(36));
    QVERIFY(f.uid != t.uid);
    QCOMPARE(f.tid, t.uid);
    QCOMPARE(f.uri, std::string("/data/pics"));
    QCOMPARE(f.file_name, std::string("pics"));
    QCOMPARE(f.mime, std::string("inode/directory"));
    QVERIFY(f.save_path.empty() && f.shareid.empty());
    QCOMPARE(f.status.status, 0);
    QCOMPARE(f.status.offset, 0LL);
}

void TestTransferRecords::relativeSavePath_data()
{
    QTest::addColumn<QByteArray>("root");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("expected");

    QTest::newRow("top level") << QByteArray() << QByteArray("a.txt") << true << "a.txt";
    QTest::newRow("nested root") << QByteArray("a/b") << QByteArray("c.txt") << true << "a/b/c.txt";
    QTest::newRow("name escaped") << QByteArray("a") << QByteArray("x:y?.txt") << true << "a/x%3ay%3f.txt";
    QTest::newRow("slash in name") << QByteArray() << QByteArray("../etc/passwd") << true << "..%2fetc%2fpasswd";
    QTest::newRow("dot-dot name") << QByteArray() << QByteArray("..") << true << "%2e%2e";
    QTest::newRow("non-ASCII") << QByteArray("Фото") << QByteArray("图片.png") << true << "Фото/图片.png";
    QTest::newRow("parent root") << QByteArray("../x") << QByteArray("a") << false << "";
    QTest::newRow("absolute root") << QByteArray("/etc") << QByteArray("a") << false << "";
    QTest::newRow("climbing root") << QByteArray("a/../../b") << QByteArray("a") << false << "";
    QTest::newRow("empty component") << QByteArray("a//b") << QByteArray("a") << false << "";
    QTest::newRow("dot component") << QByteArray("a/./b") << QByteArray("a") << false << "";
    QTest::newRow("trailing slash") << QByteArray("a/") << QByteArray("a") << false << "";
    QTest::newRow("control char") << QByteArray("a\x01") << QByteArray("a") << false << "";
    QTest::newRow("NUL in root") << QByteArray("a\0b", 3) << QByteArray("a") << false << "";
    QTest::newRow("long component") << QByteArray(256, 'r') << QByteArray("a") << false << "";
    QTest::newRow("empty name") << QByteArray("a") << QByteArray() << false << "";
    QTest::newRow("NUL in name") << QByteArray() << QByteArray("a\0b", 3) << false << "";
    QTest::newRow("long once escaped") << QByteArray() << QByteArray(100, ':') << false << "";
    QTest::newRow("255 bytes") << QByteArray(255, 'r') << QByteArray(255, 'n') << true
                               << QString(255, 'r') + "/" + QString(255, 'n');
}

void TestTransferRecords::relativeSavePath()
{
    QFETCH(QByteArray, root);
    QFETCH(QByteArray, name);
    QFETCH(bool, ok);
    QFETCH(QString, expected);
    TransferFile f;
    f.root = root.toStdString();
    f.file_name = name.toStdString();
    std::string out = "untouched", error;
    QCOMPARE(::relativeSavePath(f, &out, &error), ok);
    if (ok) {
        QCOMPARE(QString::fromStdString(out), expected);
        std::string full;
        QVERIFY(savePathIn("/save/", f, &full));
        QCOMPARE(QString::fromStdString(full), "/save/" + expected);
        QVERIFY(savePathIn("/save", f, &full));
        QCOMPARE(QString::fromStdString(full), "/save/" + expected);
    } else {
        QCOMPARE(out, std::string("untouched"));
        QVERIFY(!error.empty());
        std::string full = "untouched";
        QVERIFY(!savePathIn("/save", f, &full));
        QCOMPARE(full, std::string("untouched"));
    }
}

void TestTransferRecords::storeIds_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<bool>("ok");
    QTest::newRow("uuid") << QByteArray("0f8fad5b-d9cb-469f-a165-70867728950e") << true;
    QTest::newRow("upper case") << QByteArray("0F8FAD5B-D9CB-469F-A165-70867728950E") << true;
    QTest::newRow("short") << QByteArray("task_1") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("dot-dot") << QByteArray("..") << false;
    QTest::newRow("slash") << QByteArray("a/b") << false;
    QTest::newRow("summary file name") << QByteArray("status") << false;
    QTest::newRow("database name") << QByteArray("manifest.db") << false;
    QTest::newRow("too long") << QByteArray(65, 'a') << false;
}

void TestTransferRecords::storeIds()
{
    QFETCH(QByteArray, id);
    QFETCH(bool, ok);
    QCOMPARE(isValidStoreId(id.toStdString()), ok);
}

QTEST_GUILESS_MAIN(TestTransferRecords)
#include "tst_transferrecords.moc"
