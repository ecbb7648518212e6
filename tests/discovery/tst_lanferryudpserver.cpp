#include "FreeUdpPort.h"
#include "TempDataHome.h"
#include "discovery/LanferryUdpServer.h"

#include <QtTest>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

using Item = LanferryUdpServer::ServerItem;
using Status = LanferryUdpServer::ServerItemStatus;

// What the service reported through its callbacks, safe to read from the test thread.
struct Events {
    std::mutex mutex;
    std::vector<std::pair<Item, Status>> status;
    std::vector<std::string> errors;

    LanferryUdpServer::StatusCallback statusCallback()
    {
        return [this](const Item &item, Status s) {
            std::lock_guard<std::mutex> lock(mutex);
            status.emplace_back(item, s);
        };
    }
    LanferryUdpServer::ErrorCallback errorCallback()
    {
        return [this](const std::string &text) {
            std::lock_guard<std::mutex> lock(mutex);
            errors.push_back(text);
        };
    }
    int count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(status.size());
    }
    std::pair<Item, Status> at(int i)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return status.at(size_t(i));
    }
};

static std::string datagram(const std::string &uid, const std::string &msg, const std::string &name = "Peer")
{
    return "{ \"uid\": \"" + uid + "\", \"name\": \"" + name +
           "\", \"type\": \"win\", \"pwd\": \"*\", \"port\": 20300, " + "\"msg\": \"" + msg + "\" }";
}

static const Item *findItem(const std::vector<Item> &items, const std::string &ip)
{
    for (const Item &item : items) {
        if (item.ip == ip)
            return &item;
    }
    return nullptr;
}

class TstLanferryUdpServer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void messageText_data();
    void messageText();
    void addressFilter_data();
    void addressFilter();
    void broadcastAddress_data();
    void broadcastAddress();

    void startFailsWhenPortTaken();
    void stopJoinsAndPortCanBeReboundAtOnce();
    void announcementsFillTheTable();
    void byeRemovesAndReportsOffline();
    void callbackMayReadTheTable();
    void lenientReading_data();
    void lenientReading();
    void garbageNeverStopsTheService_data();
    void garbageNeverStopsTheService();
    void handAddedEntries();
    void silentEntriesExpire();
    void tableKeepsAtMostItsLimit();
    void queriesFromElsewhereAreNotAnswered();

private:
    // Sends text to the service from the loopback address from.
    void sendFrom(const std::string &from, const std::string &text);

    std::unique_ptr<TempDataHome> m_home;
    int m_port = 0;
};

void TstLanferryUdpServer::init()
{
    m_home = std::make_unique<TempDataHome>();
    m_port = freeUdpPort();
    QVERIFY(saveServerInfo(ServerInfo{"me-uid", "Me", "secret", "win", m_port}));
}

void TstLanferryUdpServer::cleanup()
{
    m_home.reset();
}

void TstLanferryUdpServer::sendFrom(const std::string &from, const std::string &text)
{
    UdpSocket socket;
    QVERIFY(socket.bind(0, from));
    QCOMPARE(socket.sendTo("127.0.0.1", m_port, text), int(text.size()));
}

void TstLanferryUdpServer::messageText_data()
{
    QTest::addColumn<QString>("pwd");
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QString>("text");
    QTest::newRow("password masked") << "secret"
                                     << "server"
                                     << R"({ "uid": "u-1", "name": "Ann \"A\"", "type": "win", "pwd": "*", )"
                                        R"("port": 20168, "msg": "server" })";
    QTest::newRow("no password")
        << ""
        << "bye"
        << R"({ "uid": "u-1", "name": "Ann \"A\"", "type": "win", "port": 20168, "msg": "bye" })";
}

void TstLanferryUdpServer::messageText()
{
    QFETCH(QString, pwd);
    QFETCH(QString, msg);
    QFETCH(QString, text);
    const ServerInfo info{"u-1", "Ann \"A\"", pwd.toStdString(), "win", 20168};
    QCOMPARE(QString::fromStdString(LanferryUdpServer::messageText(info, msg.toStdString())), text);
}

void TstLanferryUdpServer::addressFilter_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("kept");
    QTest::newRow("192.168") << "192.168.1.20" << true;
    QTest::newRow("172.16") << "172.16.0.1" << true;
    QTest::newRow("172.31") << "172.31.255.254" << true;
    QTest::newRow("text prefix only") << "172.160.1.2" << true;
    QTest::newRow("172.17") << "172.17.0.1" << false;
    QTest::newRow("172.30") << "172.30.0.1" << false;
    QTest::newRow("10.x") << "10.77.0.14" << false;
    QTest::newRow("loopback") << "127.0.0.1" << false;
    QTest::newRow("192.169") << "192.169.0.1" << false;
}

void TstLanferryUdpServer::addressFilter()
{
    QFETCH(QString, address);
    QFETCH(bool, kept);
    QCOMPARE(LanferryUdpServer::isDiscoveryAddress(address.toStdString()), kept);
}

void TstLanferryUdpServer::broadcastAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("broadcast");
    QTest::newRow("/24") << "192.168.77.11"
                         << "192.168.77.255";
    QTest::newRow("mask not consulted") << "172.16.5.3"
                                        << "172.16.5.255";
    QTest::newRow("one digit") << "192.168.1.2"
                               << "192.168.1.255";
}

void TstLanferryUdpServer::broadcastAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, broadcast);
    QCOMPARE(QString::fromStdString(LanferryUdpServer::broadcastAddress(address.toStdString())), broadcast);
}

void TstLanferryUdpServer::startFailsWhenPortTaken()
{
    UdpSocket holder;
    QVERIFY(holder.bind(m_port));
    LanferryUdpServer server;
    QVERIFY(!server.start(nullptr, nullptr));
    QCOMPARE(server.lastError(), "socket bind failed, err:" + std::to_string(EADDRINUSE) + ".");
    QVERIFY(!server.isRunning());
}

void TstLanferryUdpServer::stopJoinsAndPortCanBeReboundAtOnce()
{
    LanferryUdpServer server;
    QVERIFY2(server.start(nullptr, nullptr), server.lastError().c_str());
    QVERIFY(server.isRunning());
    // Let both threads reach their waits: the receive call and the sleep between announcements.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    QElapsedTimer timer;
    timer.start();
    server.stop();
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!server.isRunning());

    // Starting again, and starting while running, bind the same port at once.
    QVERIFY2(server.start(nullptr, nullptr), server.lastError().c_str());
    QVERIFY2(server.start(nullptr, nullptr), server.lastError().c_str());
    Events events;
    QVERIFY(server.start(events.statusCallback(), nullptr));
    sendFrom("127.0.0.2", datagram("peer-a", "server"));
    QTRY_COMPARE(events.count(), 1);
    server.stop();
    UdpSocket socket;
    QVERIFY2(socket.bind(m_port), socket.lastError().c_str());
}

void TstLanferryUdpServer::announcementsFillTheTable()
{
    LanferryUdpServer server;
    Events events;
    QVERIFY(server.start(events.statusCallback(), events.errorCallback()));

    const int64_t before = QDateTime::currentMSecsSinceEpoch();
    sendFrom("127.0.0.2", datagram("peer-a", "server", "First"));
    QTRY_COMPARE(events.count(), 1);
    const auto [online, status] = events.at(0);
    QCOMPARE(status, LanferryUdpServer::Online);
    QCOMPARE(online.ip, std::string("127.0.0.2"));
    QCOMPARE(online.port, m_port); // ours, not the one in the datagram
    QCOMPARE(online.info.uid, std::string("peer-a"));
    QCOMPARE(online.info.name, std::string("First"));
    QCOMPARE(online.info.pwd, std::string("*"));
    QCOMPARE(online.info.port, 20300);
    QVERIFY(online.lastSeen >= before && online.lastSeen <= QDateTime::currentMSecsSinceEpoch());

    // A refresh replaces the fields and takes a new id, and is not reported.
    sendFrom("127.0.0.2", datagram("peer-a", "server", "Renamed"));
    sendFrom("127.0.0.3", datagram("peer-b", "server"));
    QTRY_COMPARE(server.listServers().size(), size_t(2));
    QTRY_COMPARE(server.listServers("peer-a").at(0).info.name, std::string("Renamed"));
    const std::vector<Item> items = server.listServers();
    QCOMPARE(items.at(0).ip, std::string("127.0.0.2"));
    QCOMPARE(items.at(1).ip, std::string("127.0.0.3"));
    QVERIFY(items.at(0).id > online.id);
    QVERIFY(items.at(0).lastSeen >= online.lastSeen);
    QTRY_COMPARE(events.count(), 2);
    QCOMPARE(events.at(1).first.info.uid, std::string("peer-b"));

    QCOMPARE(server.listServers("peer-b").size(), size_t(1));
    QCOMPARE(server.listServers("nobody").size(), size_t(0));

    // Ids come from one counter for the whole process.
    LanferryUdpServer other;
    other.addServer("127.0.0.9", 1, ServerInfo{"x", "", "", "", 0});
    QVERIFY(other.listServers().at(0).id > items.at(1).id);
    QVERIFY(events.errors.empty());
}

void TstLanferryUdpServer::byeRemovesAndReportsOffline()
{
    LanferryUdpServer server;
    Events events;
    QVERIFY(server.start(events.statusCallback(), nullptr));
    sendFrom("127.0.0.2", datagram("peer-a", "server"));
    QTRY_COMPARE(events.count(), 1);

    sendFrom("127.0.0.2", datagram("peer-a", "bye"));
    QTRY_COMPARE(events.count(), 2);
    QCOMPARE(events.at(1).second, LanferryUdpServer::Offline);
    QCOMPARE(events.at(1).first.ip, std::string("127.0.0.2"));
    QCOMPARE(events.at(1).first.lastSeen, int64_t(0));
    QVERIFY(server.listServers().empty());

    // Reported also for an address that is not in the table.
    sendFrom("127.0.0.5", datagram("peer-e", "bye"));
    QTRY_COMPARE(events.count(), 3);
    QCOMPARE(events.at(2).second, LanferryUdpServer::Offline);
}

void TstLanferryUdpServer::callbackMayReadTheTable()
{
    LanferryUdpServer server;
    std::mutex mutex;
    std::vector<size_t> seen;
    QVERIFY(server.start(
        [&](const Item &, Status) {
            const size_t n = server.listServers().size();
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back(n);
        },
        nullptr));
    sendFrom("127.0.0.2", datagram("peer-a", "server"));
    sendFrom("127.0.0.2", datagram("peer-a", "bye"));
    QTRY_COMPARE(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return seen.size();
        }(),
        size_t(2));
    QCOMPARE(seen, (std::vector<size_t>{1, 0}));
}

void TstLanferryUdpServer::lenientReading_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("port");
    QTest::newRow("port as a string") << QByteArray(R"({"uid":"p","port":"20200","msg":"server"})") << "p"
                                      << "" << 20200;
    QTest::newRow("uid as a number") << QByteArray(R"({"uid":42,"name":"N","msg":"server"})") << "42"
                                     << "N" << 0;
    QTest::newRow("unknown keys, no type")
        << QByteArray(R"({"msg":"server","extra":[1,2],"uid":"p","name":null})") << "p"
        << "" << 0;
    QTest::newRow("text ends at the first zero byte")
        << QByteArray(R"({"uid":"p","name":"Z","msg":"server"})" + QByteArray(1, '\0') + "junk") << "p"
        << "Z" << 0;
}

void TstLanferryUdpServer::lenientReading()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, uid);
    QFETCH(QString, name);
    QFETCH(int, port);
    LanferryUdpServer server;
    QVERIFY(server.start(nullptr, nullptr));
    sendFrom("127.0.0.2", text.toStdString());
    QTRY_COMPARE(server.listServers().size(), size_t(1));
    const Item item = server.listServers().at(0);
    QCOMPARE(QString::fromStdString(item.info.uid), uid);
    QCOMPARE(QString::fromStdString(item.info.name), name);
    QCOMPARE(item.info.port, port);
}

void TstLanferryUdpServer::garbageNeverStopsTheService_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("not JSON") << QByteArray("hello there");
    QTest::newRow("empty datagram") << QByteArray();
    QTest::newRow("2000 bytes") << QByteArray(R"({"uid":"g","msg":"server","pad":")" + QByteArray(1950, 'x') + "\"}");
    QTest::newRow("no uid") << QByteArray(R"({"name":"n","msg":"server"})");
    QTest::newRow("empty uid") << QByteArray(R"({"uid":"","msg":"server"})");
    QTest::newRow("unknown msg") << QByteArray(R"({"uid":"g","msg":"hello"})");
    QTest::newRow("no msg") << QByteArray(R"({"uid":"g"})");
    QTest::newRow("array") << QByteArray(R"([{"uid":"g","msg":"server"}])");
    QTest::newRow("truncated JSON") << QByteArray(R"({"uid":"g","msg":"serv)");
    QTest::newRow("zero byte first") << QByteArray(1, '\0') + R"({"uid":"g","msg":"server"})";
}

void TstLanferryUdpServer::garbageNeverStopsTheService()
{
    QFETCH(QByteArray, text);
    LanferryUdpServer server;
    Events events;
    QVERIFY(server.start(events.statusCallback(), events.errorCallback()));
    sendFrom("127.0.0.2", text.toStdString());
    sendFrom("127.0.0.3", datagram("good", "server"));
    QTRY_COMPARE(events.count(), 1);
    QVERIFY(server.isRunning());
    const std::vector<Item> items = server.listServers();
    QCOMPARE(items.size(), size_t(1));
    QCOMPARE(items.at(0).info.uid, std::string("good"));
    QVERIFY(events.errors.empty());
}

void TstLanferryUdpServer::handAddedEntries()
{
    LanferryUdpServer server;
    Events events;
    server.addServer("127.0.0.2", 20400, ServerInfo{"hand", "Typed", "pw", "win", 20400});
    const Item added = server.listServers().at(0);
    QCOMPARE(added.lastSeen, int64_t(0));
    QCOMPARE(added.port, 20400);

    // Adding again replaces only the identity.
    server.addServer("127.0.0.2", 1, ServerInfo{"hand", "Retyped", "", "win", 20400});
    Item again = server.listServers().at(0);
    QCOMPARE(again.id, added.id);
    QCOMPARE(again.port, 20400);
    QCOMPARE(again.info.name, std::string("Retyped"));

    // Kept across stop and start.
    QVERIFY(server.start(events.statusCallback(), nullptr));
    server.stop();
    QVERIFY(server.start(events.statusCallback(), nullptr));
    QCOMPARE(server.listServers().size(), size_t(1));

    // Its announcement is a refresh, not an arrival.
    sendFrom("127.0.0.2", datagram("hand", "server", "Announced"));
    QTRY_COMPARE(server.listServers().at(0).info.name, std::string("Announced"));
    again = server.listServers().at(0);
    QVERIFY(again.lastSeen != 0);
    QCOMPARE(again.port, m_port);
    QCOMPARE(events.count(), 0);

    sendFrom("127.0.0.2", datagram("hand", "bye"));
    QTRY_COMPARE(events.count(), 1);
    QCOMPARE(events.at(0).second, LanferryUdpServer::Offline);
    QVERIFY(server.listServers().empty());
}

// An announced entry goes 6 to 7 seconds after its last announcement, unreported; one added by hand
// stays until it announces itself, and from then on expires like any other.
void TstLanferryUdpServer::silentEntriesExpire()
{
    LanferryUdpServer server;
    Events events;
    server.addServer("127.0.0.4", 20400, ServerInfo{"hand", "", "", "win", 20400});
    server.addServer("127.0.0.5", 20400, ServerInfo{"hand-then-announced", "", "", "win", 20400});
    QVERIFY(server.start(events.statusCallback(), nullptr));
    sendFrom("127.0.0.2", datagram("silent", "server"));
    sendFrom("127.0.0.5", datagram("hand-then-announced", "server"));
    QTRY_COMPARE(server.listServers().size(), size_t(3));
    QTRY_VERIFY(server.listServers().at(2).lastSeen != 0);
    const int64_t lastSeen = findItem(server.listServers(), "127.0.0.2")->lastSeen;

    QElapsedTimer timer;
    timer.start();
    while (findItem(server.listServers(), "127.0.0.2") && timer.elapsed() < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int64_t gone = QDateTime::currentMSecsSinceEpoch() - lastSeen;
    QVERIFY2(gone >= LanferryUdpServer::kExpiryMs && gone < 7500, qPrintable(QString::number(gone)));

    QTRY_COMPARE(server.listServers().size(), size_t(1));
    QCOMPARE(server.listServers().at(0).info.uid, std::string("hand"));
    QCOMPARE(events.count(), 1); // only the silent device's arrival
}

void TstLanferryUdpServer::tableKeepsAtMostItsLimit()
{
    LanferryUdpServer server;
    Events events;
    QVERIFY(server.start(events.statusCallback(), events.errorCallback()));
    server.addServer("127.9.9.9", 1234, ServerInfo{"by-hand", "Typed in", "", "win", 1234});
    // Each from an address of its own, in batches the socket's buffer holds.
    const auto address = [](size_t i) {
        return "127.1." + std::to_string(i / 200) + "." + std::to_string(1 + i % 200);
    };
    const size_t flood = LanferryUdpServer::kMaxDevices + 200;
    for (size_t i = 0; i < flood; ++i) {
        sendFrom(address(i), datagram("peer-" + std::to_string(i), "server"));
        if (i % 100 == 99 || i + 1 == flood)
            QTRY_COMPARE(events.count(), int(i + 1));
    }
    const std::vector<Item> items = server.listServers();
    QCOMPARE(items.size(), LanferryUdpServer::kMaxDevices + 1);
    QVERIFY(findItem(items, "127.9.9.9"));        // typed in by the user: kept
    QVERIFY(findItem(items, address(flood - 1))); // the newest
    QVERIFY(!findItem(items, address(0)));        // heard from longest ago: gone first
}

void TstLanferryUdpServer::queriesFromElsewhereAreNotAnswered()
{
    // A query from outside our private networks (loopback here) gets no answer.
    // An answer would go to the asker at our own port, which on loopback is this
    // service: it would list itself.
    LanferryUdpServer server;
    Events events;
    QVERIFY(server.start(events.statusCallback(), events.errorCallback()));
    sendFrom("127.0.0.2", datagram("asker", "client"));
    sendFrom("127.0.0.3", datagram("marker", "server"));
    QTRY_COMPARE(server.listServers("marker").size(), size_t(1));
    QTest::qWait(200);
    QCOMPARE(server.listServers("me-uid").size(), size_t(0));
    QVERIFY(!LanferryUdpServer::isOnLocalPrivateNetwork("127.0.0.2"));
    QVERIFY(!LanferryUdpServer::isOnLocalPrivateNetwork("8.8.8.8"));
    QVERIFY(!LanferryUdpServer::isOnLocalPrivateNetwork("not an address"));
}

QTEST_GUILESS_MAIN(TstLanferryUdpServer)
#include "tst_lanferryudpserver.moc"
