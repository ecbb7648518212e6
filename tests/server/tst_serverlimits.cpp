// The HTTPS service's limits, each pushed by a hostile client while a
// well-behaved one on another address is served beside it.
#include "RawTlsClient.h"
#include "TempDataHome.h"
#include "TestServer.h"

#include "server/HttpsFrontEnd.h"
#include "store/TaskStore.h"

#include <QElapsedTimer>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <vector>

using Limits = HttpsFrontEnd;

class TestServerLimits : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void headLimits_data();
    void headLimits();
    void slowHeadAndIdleConnectionsAreClosed();
    void bodiesRefusedBeforeTheyAreRead_data();
    void bodiesRefusedBeforeTheyAreRead();
    void connectionsPerAddressAndInAll();
    void slowRouteWorkDoesNotHoldUpOthers();
    void peerThatStopsReadingIsCut();

private:
    // GET / from 127.0.0.1 on a fresh connection: answered 200 within 2 s.
    bool legitimateClientServed();

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<TestServer> m_server;
};

void TestServerLimits::initTestCase()
{
    // Writes to connections the server closed must fail, not end the test.
    signal(SIGPIPE, SIG_IGN);
    // Each test connection is a descriptor here and one in the server.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &files);
}

void TestServerLimits::init()
{
    m_home = std::make_unique<TempDataHome>();
    m_server = std::make_unique<TestServer>();
    QVERIFY(m_server->start());
}

void TestServerLimits::cleanup()
{
    m_server.reset();
    m_home.reset();
}

bool TestServerLimits::legitimateClientServed()
{
    QElapsedTimer t;
    t.start();
    RawTlsClient c;
    if (!c.connect(m_server->port, "127.0.0.1") || !c.send(RawTlsClient::get("/")))
        return false;
    const int status = c.readAnswer(2000).status;
    if (status != 200 || t.elapsed() > 2000)
        qWarning("legitimate request: status %d after %lld ms", status, static_cast<long long>(t.elapsed()));
    return status == 200 && t.elapsed() <= 2000;
}

void TestServerLimits::headLimits_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status"); // 200: within the limits

    const QByteArray start = "GET / HTTP/1.1\r\nHost: x\r\n";
    const QByteArray longestLine = "X-A: " + QByteArray(int(Limits::kMaxLineBytes) - 5, 'a') + "\r\n";
    QTest::newRow("longest header line") << start + longestLine + "\r\n" << 200;
    QTest::newRow("header line too long") << start + "X-A: " + QByteArray(int(Limits::kMaxLineBytes), 'a') + "\r\n\r\n"
                                          << 431;
    QTest::newRow("request line too long")
        << "GET /" + QByteArray(int(Limits::kMaxLineBytes), 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n"
        << 400;
    QTest::newRow("4 MiB header line") << start + "X-A: " + QByteArray(4 << 20, 'a') + "\r\n\r\n" << 431;
    QByteArray most = start;
    for (int i = 1; i < Limits::kMaxHeaders; ++i)
        most += "X-" + QByteArray::number(i) + ": 1\r\n";
    QTest::newRow("most headers") << most + "\r\n" << 200;
    QTest::newRow("too many headers") << most + "X-Last: 1\r\nX-Extra: 1\r\n\r\n" << 431;
    QByteArray large = start;
    for (int i = 0; i < 9; ++i)
        large += "X-" + QByteArray::number(i) + ": " + QByteArray(8000, 'b') + "\r\n";
    QTest::newRow("head too large") << large + "\r\n" << 431;
    QTest::newRow("bare line feeds") << QByteArray("GET / HTTP/1.1\nHost: x\n") + QByteArray(10000, 'c') << 400;
}

void TestServerLimits::headLimits()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    RawTlsClient attacker;
    QVERIFY(attacker.connect(m_server->port, "127.0.0.2"));
    attacker.send(head.toStdString());
    const RawTlsClient::Answer a = attacker.readAnswer(5000);
    QCOMPARE(a.status, status);
    if (status != 200) {
        QCOMPARE(a.header("connection"), std::string("close"));
        QVERIFY(!attacker.send(RawTlsClient::get("/")) || attacker.readAnswer(3000).status == -1);
    }
    QVERIFY(legitimateClientServed());
}

void TestServerLimits::slowHeadAndIdleConnectionsAreClosed()
{
    using namespace std::chrono;
    // One byte every 300 ms: a head of 40 bytes would take 12 s.
    RawTlsClient slow;
    QVERIFY(slow.connect(m_server->port, "127.0.0.2"));
    RawTlsClient idle;
    QVERIFY(idle.connect(m_server->port, "127.0.0.3"));
    QVERIFY(idle.send(RawTlsClient::get("/")));
    QCOMPARE(idle.readAnswer().status, 200);
    QElapsedTimer t;
    t.start();
    const std::string head = RawTlsClient::get("/", "X-Pad: ..........\r\n");
    size_t sent = 0;
    qint64 slowCut = -1, idleCut = -1;
    int served = 0;
    while (t.elapsed() < 14000 && (slowCut < 0 || idleCut < 0)) {
        if (slowCut < 0 && (sent >= head.size() || !slow.send(head.substr(sent++, 1))))
            slowCut = t.elapsed();
        if (idleCut < 0) {
            pollfd p{SSL_get_fd(idle.ssl()), POLLIN, 0};
            if (::poll(&p, 1, 0) > 0)
                idleCut = t.elapsed();
        }
        if (t.elapsed() / 1000 > served) {
            QVERIFY(legitimateClientServed());
            ++served;
        }
        QTest::qWait(300);
    }
    QVERIFY2(idleCut >= 4500 && idleCut <= 7000, qPrintable(QString::number(idleCut)));
    QVERIFY2(slowCut >= 9000 && slowCut <= 12500, qPrintable(QString::number(slowCut)));
    QCOMPARE(slow.readAnswer(1000).status, -1); // never answered
}

void TestServerLimits::bodiesRefusedBeforeTheyAreRead_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<qint64>("length"); // declared; none of it is sent
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer");

    const qint64 small = qint64(LanferryHttpServer::kMaxSmallBodySize);
    const qint64 offer = qint64(LanferryHttpServer::kMaxBodySize);
    QTest::newRow("small route over its limit")
        << QByteArray("/file/read") << small + 1 << QByteArray("pw") << 413 << QByteArray("Request body too large.");
    QTest::newRow("small route, offer-sized") << QByteArray("/task/recv/progress") << offer << QByteArray("pw") << 413
                                              << QByteArray("Request body too large.");
    QTest::newRow("offer over its limit")
        << QByteArray("/task/recv") << offer + 1 << QByteArray("pw") << 413 << QByteArray("Request body too large.");
    QTest::newRow("offer, wrong password")
        << QByteArray("/task/recv") << offer << QByteArray("bad") << 401 << QByteArray("Invalid password.");
    QTest::newRow("small route, no password")
        << QByteArray("/share/req") << small << QByteArray() << 401 << QByteArray("Invalid password.");
    QTest::newRow("unknown route") << QByteArray("/admin") << small << QByteArray("pw") << 404 << QByteArray();
}

void TestServerLimits::bodiesRefusedBeforeTheyAreRead()
{
    QFETCH(QByteArray, path);
    QFETCH(qint64, length);
    QFETCH(QByteArray, password);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    m_server.reset();
    m_server = std::make_unique<TestServer>();
    QVERIFY(m_server->start("pw"));

    RawTlsClient attacker;
    QVERIFY(attacker.connect(m_server->port, "127.0.0.2"));
    attacker.send("POST " + path.toStdString() + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(length) +
                  "\r\n" + (password.isEmpty() ? std::string() : "X-PWD: " + password.toStdString() + "\r\n") + "\r\n");
    const RawTlsClient::Answer a = attacker.readAnswer(3000);
    QCOMPARE(a.status, status);
    QCOMPARE(QByteArray::fromStdString(a.body), answer);
    QCOMPARE(a.header("connection"), std::string("close"));

    RawTlsClient c;
    QVERIFY(c.connect(m_server->port, "127.0.0.1"));
    c.send(RawTlsClient::get("/", "X-PWD: pw\r\n"));
    QCOMPARE(c.readAnswer(2000).status, 200);
}

void TestServerLimits::connectionsPerAddressAndInAll()
{
    // One address: its connections beyond the limit are closed at once.
    std::vector<std::unique_ptr<RawTlsClient>> held;
    for (int i = 0; i < Limits::kMaxConnectionsPerAddress; ++i) {
        held.push_back(std::make_unique<RawTlsClient>());
        QVERIFY(held.back()->connect(m_server->port, "127.0.0.2"));
    }
    RawTlsClient extra;
    QVERIFY(!extra.connect(m_server->port, "127.0.0.2"));
    QVERIFY(legitimateClientServed());
    // One of them going makes room for another.
    held.pop_back();
    QVERIFY(QTest::qWaitFor([&] { return extra.connect(m_server->port, "127.0.0.2"); }, 3000));
    // Every address: at the server's limit, the connection that waited
    // longest for a request makes room for a new one.
    std::vector<std::unique_ptr<RawTlsClient>> more;
    for (int a = 3; static_cast<int>(held.size() + more.size()) < Limits::kMaxConnections - 1; ++a) {
        const std::string address = "127.0.1." + std::to_string(a);
        for (int i = 0; i < Limits::kMaxConnectionsPerAddress &&
                        static_cast<int>(held.size() + more.size()) < Limits::kMaxConnections - 1;
             ++i) {
            more.push_back(std::make_unique<RawTlsClient>());
            QVERIFY(more.back()->connect(m_server->port, address.c_str()));
        }
    }
    // With extra, the server holds its limit now.
    QVERIFY(legitimateClientServed());
    QVERIFY(legitimateClientServed());
    const int closed = static_cast<int>(std::count_if(held.begin(), held.end(), [](const auto &c) {
        return !c->send(RawTlsClient::get("/")) || c->readAnswer(2000).status != 200;
    }));
    QVERIFY2(closed >= 1 && closed <= 3, qPrintable(QString::number(closed))); // the oldest went
    QVERIFY(more.back()->send(RawTlsClient::get("/")));
    QCOMPARE(more.back()->readAnswer().status, 200);
}

void TestServerLimits::slowRouteWorkDoesNotHoldUpOthers()
{
    // Every worker of the route pool busy in the owner's callback.
    std::atomic<bool> release{false};
    m_server->server.onTaskStart = [&](const std::string &) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    std::vector<std::unique_ptr<RawTlsClient>> busy;
    for (int i = 0; i < 32; ++i) {
        busy.push_back(std::make_unique<RawTlsClient>());
        QVERIFY(busy.back()->connect(m_server->port, ("127.0.2." + std::to_string(i + 1)).c_str()));
        busy.back()->send(RawTlsClient::post("/task/recv/start", "{}"));
    }
    for (int i = 0; i < 5; ++i)
        QVERIFY(legitimateClientServed());
    release = true;
    for (auto &c : busy)
        QCOMPARE(c->readAnswer().status, 200);
}

void TestServerLimits::peerThatStopsReadingIsCut()
{
    // Four whole pieces asked for at once, far more than the socket buffers
    // hold, and never read: the answers stall, the connection must go.
    const QString path = m_home->path() + "/big.bin";
    QFile big(path);
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(LanferryHttpServer::kReadBufferSize));
    big.close();
    TransferTask task = newOutgoingTask("127.0.0.1", 1, "peer-uid", "peer", "win");
    std::vector<TransferFile> files;
    addLocalPath(task.uid, files, path.toStdString(), std::string(), std::string());
    QVERIFY(TaskStore(true).createTask(task, files));
    const std::string read = RawTlsClient::post("/file/read", "{\"tid\":\"" + task.uid + "\",\"fid\":\"" +
                                                                  files[0].uid + "\",\"offset\":0}");
    const int kAsked = 4;

    RawTlsClient stalled;
    QVERIFY(stalled.connect(m_server->port, "127.0.0.4"));
    std::string requests;
    for (int i = 0; i < kAsked; ++i)
        requests += read;
    QVERIFY(stalled.send(requests));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 14000) {
        QVERIFY(legitimateClientServed());
        QTest::qWait(1000);
    }
    // What was buffered before the cut still arrives, then the end: were the
    // connection alive, reading would bring every answer.
    int whole = 0;
    for (RawTlsClient::Answer a;
         (a = stalled.readAnswer(3000)).status == 200 && a.body.size() == size_t(LanferryHttpServer::kReadBufferSize);)
        ++whole;
    QVERIFY2(whole < kAsked, qPrintable(QString::number(whole)));

    // A reader that takes its time but keeps reading gets every byte.
    RawTlsClient patient;
    QVERIFY(patient.connect(m_server->port, "127.0.0.5"));
    QVERIFY(patient.send(read + read));
    QTest::qWait(1500);
    for (int i = 0; i < 2; ++i) {
        const RawTlsClient::Answer a = patient.readAnswer();
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body.size(), size_t(LanferryHttpServer::kReadBufferSize));
        QVERIFY(a.body.find_first_not_of('\0') == std::string::npos);
    }
}

QTEST_GUILESS_MAIN(TestServerLimits)
#include "tst_serverlimits.moc"
