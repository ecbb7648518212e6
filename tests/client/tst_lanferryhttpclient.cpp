// The calls on the wire (method, path, password header, exact JSON body and
// its label), the parsing of answer headers, and failed, aborted and stalled
// requests.
#include "RawTlsServer.h"
#include "TempDataHome.h"
#include "TestServer.h"

#include "client/LanferryHttpClient.h"

#include <QtTest>

#include <future>

namespace {

PeerEndpoint local(int port, const std::string &pwd = "secret")
{
    return PeerEndpoint{"127.0.0.1", port, pwd};
}

RawTlsServer::Reply ok()
{
    return {RawTlsServer::answer("HTTP/1.1 200 OK", ""), false};
}

} // namespace

class TestLanferryHttpClient : public QObject {
    Q_OBJECT
private slots:
    void init() { m_home = std::make_unique<TempDataHome>(); }
    void cleanup() { m_home.reset(); }

    void callsOnTheWire_data();
    void callsOnTheWire();
    void offerAndShareRequestBodies();
    void noPasswordHeaderWhenEmpty();
    void answerHeaders_data();
    void answerHeaders();
    void headerText_data();
    void headerText();
    void identityFromRealServer();
    void failedRequests();
    void abortAndStopFlag();
    void silentPeerEndsRequest();

private:
    std::unique_ptr<TempDataHome> m_home;
};

void TestLanferryHttpClient::callsOnTheWire_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QByteArray>("requestLine");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("getInfo") << "getInfo" << QByteArray("GET / HTTP/1.1") << QByteArray();
    QTest::newRow("fileRead") << "fileRead" << QByteArray("POST /file/read HTTP/1.1")
                              << QByteArray(R"({ "tid": "t1", "fid": "f1", "subpath": "a\/b", "offset": 8589934592 })");
    QTest::newRow("notif") << "taskRecvNotif" << QByteArray("POST /task/recv/notif HTTP/1.1")
                           << QByteArray(R"({ "tid": "t1", "accept": true })");
    QTest::newRow("progress") << "taskRecvProgress" << QByteArray("POST /task/recv/progress HTTP/1.1")
                              << QByteArray(R"({ "tid": "t1", "fid": "f1", "status": -1, "remote": true, )"
                                            R"("offset": 77, "err": "Disk full.", "desc": "a\/b" })");
    QTest::newRow("start") << "taskRecvStart" << QByteArray("POST /task/recv/start HTTP/1.1")
                           << QByteArray(R"({ "tid": "t1" })");
    QTest::newRow("stop") << "taskRecvStop" << QByteArray("POST /task/recv/stop HTTP/1.1")
                          << QByteArray(R"({ "tid": "t1" })");
    QTest::newRow("shareFiles") << "shareFiles" << QByteArray("POST /share/files HTTP/1.1") << QByteArray("{}");
}

void TestLanferryHttpClient::callsOnTheWire()
{
    QFETCH(QString, call);
    QFETCH(QByteArray, requestLine);
    QFETCH(QByteArray, body);

    RawTlsServer raw([](const RawTlsServer::Request &, int) { return ok(); });
    LanferryHttpClient client;
    const PeerEndpoint peer = local(raw.port());
    HttpResponse res;
    if (call == "getInfo") {
        ServerInfo info;
        res = client.getInfo(peer, &info);
    } else if (call == "fileRead") {
        res = client.fileRead(peer, "t1", "f1", "a/b", 8589934592LL);
    } else if (call == "taskRecvNotif") {
        res = client.taskRecvNotif(peer, "t1", true);
    } else if (call == "taskRecvProgress") {
        TransferFileStatus st;
        st.status = -1;
        st.remote = true;
        st.offset = 77;
        st.error = "Disk full.";
        st.desc = "a/b";
        res = client.taskRecvProgress(peer, "t1", "f1", st);
    } else if (call == "taskRecvStart") {
        res = client.taskRecvStart(peer, "t1");
    } else if (call == "taskRecvStop") {
        res = client.taskRecvStop(peer, "t1");
    } else if (call == "shareFiles") {
        res = client.shareFiles(peer);
    }
    QCOMPARE(res.status, 200);

    const auto requests = raw.requests();
    QCOMPARE(requests.size(), size_t(1));
    const RawTlsServer::Request &req = requests[0];
    QCOMPARE(QByteArray::fromStdString(req.requestLine()), requestLine);
    QVERIFY(req.head.find("\r\nX-PWD: secret\r\n") != std::string::npos);
    QCOMPARE(QByteArray::fromStdString(req.body), body);
    if (!body.isEmpty()) {
        QVERIFY(req.head.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n") != std::string::npos);
        // Labelled as what it is: a peer's frame must not take it for a form.
        QVERIFY(req.head.find("\r\nContent-Type: application/json\r\n") != std::string::npos);
    } else {
        QVERIFY(!req.hasHeader("Content-Length"));
        QVERIFY(!req.hasHeader("Content-Type"));
    }
}

void TestLanferryHttpClient::offerAndShareRequestBodies()
{
    ServerInfo me = loadServerInfo();
    me.pwd = "mine";
    QVERIFY(saveServerInfo(me));

    RawTlsServer raw([](const RawTlsServer::Request &, int) { return ok(); });
    LanferryHttpClient client;
    TransferTask task = newOutgoingTask("10.0.0.2", 20168, "peer-uid", "Peer", "win");
    std::vector<TransferFile> files{newTransferFile(task.uid, "", "/x/a.txt", "", "a.txt", "text/plain", 5),
                                    newTransferFile(task.uid, "", "/x/d", "", "d", kDirectoryMime, 0)};
    QCOMPARE(client.taskRecv(local(raw.port()), mirrorForPeer(task, me), files).status, 200);
    QCOMPARE(client.shareReq(local(raw.port()), {"s1", "s2"}).status, 200);

    const auto requests = raw.requests();
    QCOMPARE(requests.size(), size_t(2));
    QCOMPARE(QByteArray::fromStdString(requests[0].requestLine()), QByteArray("POST /task/recv HTTP/1.1"));
    std::vector<TransferFile> sentFiles;
    JsonPtr offer = jsonParse(requests[0].body);
    const TransferTask sent = transferTaskFromJson(offer.get(), &sentFiles);
    QCOMPARE(sent.uid, task.uid);
    QCOMPARE(sent.local_uid, std::string("peer-uid"));
    QCOMPARE(sent.remote_uid, me.uid);
    QCOMPARE(sentFiles.size(), size_t(2));
    QCOMPARE(sentFiles[1].mime, std::string(kDirectoryMime));

    QCOMPARE(QByteArray::fromStdString(requests[1].requestLine()), QByteArray("POST /share/req HTTP/1.1"));
    JsonPtr req = jsonParse(requests[1].body);
    json_object *server = nullptr;
    QVERIFY(json_object_object_get_ex(req.get(), "server", &server));
    QCOMPARE(jsonString(server, "uid"), me.uid);
    QCOMPARE(jsonString(server, "pwd"), std::string("*")); // our password never leaves masked
    json_object *fids = nullptr;
    QVERIFY(json_object_object_get_ex(req.get(), "fids", &fids));
    QCOMPARE(QByteArray(json_object_to_json_string(fids)), QByteArray(R"([ "s1", "s2" ])"));
}

void TestLanferryHttpClient::noPasswordHeaderWhenEmpty()
{
    RawTlsServer raw([](const RawTlsServer::Request &, int) { return ok(); });
    LanferryHttpClient client;
    QCOMPARE(client.taskRecvStart(local(raw.port(), ""), "t1").status, 200);
    // The same client again with a password: the header list is rebuilt per request.
    QCOMPARE(client.taskRecvStart(local(raw.port(), "pw"), "t1").status, 200);
    QCOMPARE(client.taskRecvStart(local(raw.port(), ""), "t1").status, 200);
    const auto requests = raw.requests();
    QCOMPARE(requests.size(), size_t(3));
    QVERIFY(!requests[0].hasHeader("X-PWD"));
    QVERIFY(requests[1].hasHeader("X-PWD"));
    QVERIFY(!requests[2].hasHeader("X-PWD"));
}

void TestLanferryHttpClient::answerHeaders_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("expected"); // "name=value" of every header we look at
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("interim 100 then 200")
        << QByteArray("HTTP/1.1 100 Continue\r\nX-EOF: 1\r\n\r\n"
                      "HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: 2\r\nConnection: close\r\n\r\nhi")
        << 200 << QByteArray("hi") << QStringList{"X-Final=yes"} << QStringList{"X-EOF"};
    QTest::newRow("colons in value") << QByteArray::fromStdString(RawTlsServer::answer(
                                            "HTTP/1.1 200 OK", "", "X-Time: 12:30:45\r\nX-Url: https://a:1/b\r\n"))
                                     << 200 << QByteArray() << QStringList{"X-Time=12:30:45", "X-Url=https://a:1/b"}
                                     << QStringList{};
    QTest::newRow("repeated name keeps last")
        << QByteArray::fromStdString(RawTlsServer::answer("HTTP/1.1 200 OK", "", "X-Rep: one\r\nX-Rep: two\r\n")) << 200
        << QByteArray() << QStringList{"X-Rep=two"} << QStringList{};
    QTest::newRow("empty value skipped") << QByteArray::fromStdString(RawTlsServer::answer(
                                                "HTTP/1.1 200 OK", "", "X-Empty:\r\nX-Blank:   \r\nX-Next: 1\r\n"))
                                         << 200 << QByteArray() << QStringList{"X-Next=1"}
                                         << QStringList{"X-Empty", "X-Blank"};
    QTest::newRow("name case kept, value spacing")
        << QByteArray::fromStdString(RawTlsServer::answer("HTTP/1.1 404 Not Found", "gone", "x-eof:    1\r\n")) << 404
        << QByteArray("gone") << QStringList{"x-eof=1"} << QStringList{"X-EOF"};
}

void TestLanferryHttpClient::answerHeaders()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, absent);

    RawTlsServer raw([&](const RawTlsServer::Request &, int) {
        return RawTlsServer::Reply{answer.toStdString(), false};
    });
    LanferryHttpClient client;
    const HttpResponse res = client.taskRecvStart(local(raw.port()), "t1");
    QCOMPARE(res.status, status);
    QCOMPARE(QByteArray::fromStdString(res.body), body);
    for (const QString &pair : expected) {
        const std::string name = pair.section('=', 0, 0).toStdString();
        const auto it = res.headers.find(name);
        QVERIFY2(it != res.headers.end(), name.c_str());
        QCOMPARE(QString::fromStdString(it->second), pair.section('=', 1));
    }
    for (const QString &name : absent)
        QVERIFY2(!res.headers.count(name.toStdString()), qPrintable(name));
    QCOMPARE(client.helper().responseHeaders(), res.headers);
}

void TestLanferryHttpClient::headerText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("headerCount");

    QTest::newRow("plain") << QByteArray("HTTP/1.1 200 OK\r\nA: b\r\n\r\n") << 200 << "OK" << 1;
    QTest::newRow("no reason") << QByteArray("HTTP/1.1 204\r\n\r\n") << 204 << "" << 0;
    QTest::newRow("lower-case http, two blocks")
        << QByteArray("http/1.1 100 Continue\r\nA: b\r\n\r\nHTTP/1.0 500 Server Error\r\n\r\n") << 500 << "Server Error"
        << 0;
    QTest::newRow("code too large") << QByteArray("HTTP/1.1 99999999999 Big\r\n\r\n") << -1 << "Big" << 0;
    QTest::newRow("no status line") << QByteArray("A: b\r\n: nameless\r\njunk\r\n") << 0 << "" << 1;
    QTest::newRow("version missing") << QByteArray("HTTP 200 OK\r\nA: b\r\n") << 0 << "" << 1;
}

void TestLanferryHttpClient::headerText()
{
    QFETCH(QByteArray, text);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QFETCH(int, headerCount);

    int code = 7;
    std::string statusText = "old";
    std::map<std::string, std::string> headers{{"Old", "x"}};
    CURLHelper2::parseHeaderText(text.toStdString(), &code, &statusText, &headers);
    QCOMPARE(code, status);
    QCOMPARE(QString::fromStdString(statusText), reason);
    QCOMPARE(int(headers.size()), headerCount);
}

void TestLanferryHttpClient::identityFromRealServer()
{
    TestServer server;
    QVERIFY(server.start("pw"));
    const ServerInfo me = loadServerInfo();

    {
        LanferryHttpClient client;
        ServerInfo info;
        info.name = "untouched";
        HttpResponse res = client.getInfo(local(server.port, "wrong"), &info);
        QCOMPARE(res.status, 401);
        QCOMPARE(res.body, std::string("Invalid password."));
        QCOMPARE(info.name, std::string("untouched"));

        // The same client and connection again, now with the right password.
        res = client.getInfo(local(server.port, "pw"), &info);
        QCOMPARE(res.status, 200);
        QCOMPARE(info.uid, me.uid);
        QCOMPARE(info.pwd, std::string("pw"));
        QCOMPARE(info.port, server.port);
    } // the client closes its kept-alive connection before the server stops
    server.server.stop();
}

void TestLanferryHttpClient::failedRequests()
{
    const int unused = freePort();
    LanferryHttpClient client;
    HttpResponse res = client.taskRecvStop(local(unused), "t1");
    QCOMPARE(res.status, -1);
    QVERIFY2(res.body.rfind("CURL: ", 0) == 0, res.body.c_str());
    QCOMPARE(client.helper().statusCode(), -1);

    // An owner's cancel check keeps requests off the network.
    RawTlsServer raw([](const RawTlsServer::Request &, int) { return ok(); });
    bool cancelled = true;
    client.setCancelCheck([&] { return cancelled; });
    res = client.taskRecvStart(local(raw.port()), "t1");
    QCOMPARE(res.status, -1);
    QVERIFY(res.body.rfind("CURL: ", 0) == 0);
    cancelled = false;
    QCOMPARE(client.taskRecvStart(local(raw.port()), "t1").status, 200);
    QCOMPARE(raw.requests().size(), size_t(1));
}

void TestLanferryHttpClient::abortAndStopFlag()
{
    // The peer answers the head of a long body, then goes silent.
    RawTlsServer raw([](const RawTlsServer::Request &, int index) {
        if (index == 0)
            return RawTlsServer::Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial", true};
        return ok();
    });
    LanferryHttpClient client;
    auto pending = std::async(std::launch::async,
                              [&] { return client.fileRead(local(raw.port()), "t1", "f1", std::string(), 0); });
    QVERIFY(raw.waitForRequests(1));
    QTRY_VERIFY(client.helper().receivedBytes() > 0);
    QVERIFY(!client.isStopped());
    client.abort();
    QCOMPARE(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const HttpResponse res = pending.get();
    QCOMPARE(res.status, -1);
    QVERIFY2(res.body.rfind("CURL: ", 0) == 0, res.body.c_str());
    QVERIFY(client.isStopped());

    // The next request clears both flags.
    QCOMPARE(client.taskRecvStart(local(raw.port()), "t1").status, 200);
    QVERIFY(!client.isStopped());
}

void TestLanferryHttpClient::silentPeerEndsRequest()
{
    RawTlsServer raw([](const RawTlsServer::Request &, int) {
        return RawTlsServer::Reply{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab", true};
    });
    LanferryHttpClient client;
    client.setStallTimeout(1);
    const HttpResponse res = client.fileRead(local(raw.port()), "t1", "f1", std::string(), 0);
    QCOMPARE(res.status, -1);
    QVERIFY2(res.body.rfind("CURL: ", 0) == 0, res.body.c_str());
}

QTEST_GUILESS_MAIN(TestLanferryHttpClient)
#include "tst_lanferryhttpclient.moc"
