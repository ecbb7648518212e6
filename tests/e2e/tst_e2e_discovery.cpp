// Discovery between real hosts of the network test bed: hosts 1 to 3 are on
// 192.168.77.0/24, hosts 4 and 5 only on 10.77.0.0/24, all on one bridge.
#include "NetBed.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

const QString kProbe = QStringLiteral(DISCOVERY_PROBE_PATH);

// One answer to "list".
struct Table {
    qint64 now = 0;
    QList<QJsonObject> entries;

    const QJsonObject *find(const QString &ip) const
    {
        for (const QJsonObject &entry : entries) {
            if (entry.value("ip").toString() == ip)
                return &entry;
        }
        return nullptr;
    }
};

// A discovery service running in one host.
class Service : public netbed::Process {
public:
    Service(int host, const QStringList &options) : Process(host, kProbe, QStringList{"serve"} + options) {}

    // Waits for the service to run; its uid, or empty.
    QString waitReady()
    {
        const int i = waitForPrefix("ready ", 10000);
        return i < 0 ? QString() : lines().at(i).section(' ', 1, 1);
    }

    Table list()
    {
        const int from = int(lines().size());
        write("list");
        Table table;
        const int head = waitForPrefix("table ", 5000, from);
        const int end = head < 0 ? -1 : waitForPrefix("end", 5000, head);
        if (end < 0)
            return table;
        table.now = lines().at(head).section(' ', 1, 1).toLongLong();
        for (int i = head + 1; i < end; ++i) {
            if (lines().at(i).startsWith("entry "))
                table.entries.append(QJsonDocument::fromJson(lines().at(i).mid(6).toUtf8()).object());
        }
        return table;
    }

    // The item of the first "event <kind>" line for ip, waiting up to timeoutMs; empty if none.
    QJsonObject waitEvent(const QString &kind, const QString &ip, int timeoutMs)
    {
        const QString prefix = "event " + kind + " ";
        const int i = waitFor(
            [&](const QString &line) {
                return line.startsWith(prefix) &&
                       QJsonDocument::fromJson(line.mid(prefix.size()).toUtf8()).object().value("ip") == ip;
            },
            timeoutMs);
        return i < 0 ? QJsonObject() : QJsonDocument::fromJson(lines().at(i).mid(prefix.size()).toUtf8()).object();
    }

    QStringList errors()
    {
        QStringList found;
        for (const QString &line : lines()) {
            if (line.startsWith("error ") || line.startsWith("start-failed "))
                found.append(line);
        }
        return found;
    }
};

// The datagrams that a probe in host received, as "<sender> <text>".
QStringList received(const netbed::Result &result)
{
    QStringList out;
    for (const QString &line : result.lines) {
        if (line.startsWith("recv "))
            out.append(line.section(' ', 1, 1) + " " + line.section(' ', 3));
    }
    return out;
}

} // namespace

class TstE2eDiscovery : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void bedHostsShareOneLan();
    void servicesOnOnePortFindEachOther();
    void departures();
    void clientQueryIsAnsweredToTheAsker_data();
    void clientQueryIsAnsweredToTheAsker();
    void tenNetHostsAnswerButNeverAnnounce();
    void garbageNeverStopsTheService();
    void localAddressesFollowTheInterfaces();
};

void TstE2eDiscovery::initTestCase()
{
    const QString reason = netbed::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

void TstE2eDiscovery::bedHostsShareOneLan()
{
    for (int host = 1; host <= 5; ++host) {
        const netbed::Result lo = netbed::run(host, "ip", {"-o", "link", "show", "lo"});
        QVERIFY2(lo.lines.value(0).contains(",UP"), qPrintable(lo.lines.join('\n') + lo.errors));
        const netbed::Result addresses = netbed::run(host, kProbe, {"addresses"});
        QCOMPARE(addresses.exitCode, 0);
        const QStringList expected = host <= 3 ? QStringList{netbed::address(host)} : QStringList{};
        QCOMPARE(addresses.lines, expected);
    }

    // A broadcast to 192.168.77.255 reaches the other hosts of that network.
    netbed::Process listen2(2, kProbe, {"listen", "45000", "2500"});
    netbed::Process listen3(3, kProbe, {"listen", "45000", "2500"});
    QVERIFY(listen2.waitForPrefix("listening", 5000) >= 0);
    QVERIFY(listen3.waitForPrefix("listening", 5000) >= 0);
    const netbed::Result sent = netbed::run(1, kProbe, {"send", "--broadcast", "192.168.77.255", "45000", "text:ping"});
    QCOMPARE(sent.exitCode, 0);
    QVERIFY(listen2.waitForPrefix("recv 192.168.77.11 4 ping", 5000) >= 0);
    QVERIFY(listen3.waitForPrefix("recv 192.168.77.11 4 ping", 5000) >= 0);
}

void TstE2eDiscovery::servicesOnOnePortFindEachOther()
{
    Service a(1, {"--name", "Alpha"});
    Service b(2, {"--name", "Beta", "--pwd", "secret"});
    Service c(3, {"--name", "Gamma", "--port", "20169"});
    const QString uidA = a.waitReady(), uidB = b.waitReady();
    QVERIFY(!uidA.isEmpty() && !uidB.isEmpty() && !c.waitReady().isEmpty());

    // Within about a second: the next announcement of each.
    QElapsedTimer timer;
    timer.start();
    const QJsonObject seenByA = a.waitEvent("online", "192.168.77.12", 3000);
    const QJsonObject seenByB = b.waitEvent("online", "192.168.77.11", 3000);
    QVERIFY2(!seenByA.isEmpty() && !seenByB.isEmpty(), qPrintable(a.lines().join('\n')));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    const QJsonObject infoB = seenByA.value("info").toObject();
    QCOMPARE(infoB.value("uid").toString(), uidB);
    QCOMPARE(infoB.value("name").toString(), QString("Beta"));
    QCOMPARE(infoB.value("pwd").toString(), QString("*"));
    QCOMPARE(infoB.value("port").toInt(), 20168);
    QCOMPARE(seenByA.value("port").toInt(), 20168);
    QVERIFY(!seenByB.value("info").toObject().contains("pwd"));

    // Gamma, on another port, neither hears them nor is heard; nobody lists itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const Table tableA = a.list(), tableB = b.list(), tableC = c.list();
    QCOMPARE(tableA.entries.size(), 1);
    QVERIFY(tableA.find("192.168.77.12"));
    QCOMPARE(tableB.entries.size(), 1);
    QVERIFY(tableB.find("192.168.77.11"));
    QCOMPARE(tableC.entries.size(), 0);
    QCOMPARE(a.errors() + b.errors() + c.errors(), QStringList());
}

// A killed service goes from its peer's table 6 to 7 s after its last announcement, unreported;
// one that stops says goodbye and goes at once.
void TstE2eDiscovery::departures()
{
    Service a(1, {"--name", "Stays"});
    Service killed(2, {"--name", "Killed"});
    Service stopped(3, {"--name", "Stopped"});
    QVERIFY(!a.waitReady().isEmpty() && !killed.waitReady().isEmpty() && !stopped.waitReady().isEmpty());
    QVERIFY(!a.waitEvent("online", "192.168.77.12", 3000).isEmpty());
    QVERIFY(!a.waitEvent("online", "192.168.77.13", 3000).isEmpty());

    killed.kill();
    stopped.write("stop");
    QVERIFY(stopped.waitForPrefix("stopped", 5000) >= 0);
    QVERIFY(!a.waitEvent("offline", "192.168.77.13", 2000).isEmpty());
    QVERIFY(!a.list().find("192.168.77.13"));

    qint64 lastSeen = 0, goneAfter = -1;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 12000) {
        const Table table = a.list();
        if (const QJsonObject *entry = table.find("192.168.77.12")) {
            lastSeen = entry->value("lastSeen").toVariant().toLongLong();
        } else {
            goneAfter = table.now - lastSeen;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    QVERIFY(lastSeen > 0);
    QVERIFY2(goneAfter >= 6000 && goneAfter < 7300, qPrintable(QString::number(goneAfter)));
    QVERIFY(a.waitEvent("offline", "192.168.77.12", 0).isEmpty());
}

void TstE2eDiscovery::clientQueryIsAnsweredToTheAsker_data()
{
    QTest::addColumn<QString>("pwd");
    QTest::addColumn<QString>("pwdMember");
    QTest::newRow("with a password") << "secret"
                                     << R"("pwd": "*", )";
    QTest::newRow("without a password") << ""
                                        << "";
}

void TstE2eDiscovery::clientQueryIsAnsweredToTheAsker()
{
    QFETCH(QString, pwd);
    QFETCH(QString, pwdMember);
    Service a(1, {"--name", "Answerer", "--pwd", pwd});
    const QString uid = a.waitReady();
    QVERIFY(!uid.isEmpty());

    // Bound to its unicast address, the asker gets the answer but not the announcements; three
    // queries in a row get one answer (one a second per asker).
    const netbed::Result asked =
        netbed::run(2, kProbe,
                    {"send", "--bind", "192.168.77.12:20168", "--repeat", "3", "--wait", "2000", "192.168.77.11",
                     "20168", R"(text:{ "uid": "asker", "msg": "client" })"});
    QCOMPARE(asked.exitCode, 0);
    const QString expected = R"(192.168.77.11 { "uid": ")" + uid + R"(", "name": "Answerer", "type": "win", )" +
                             pwdMember + R"("port": 20168, "msg": "server" })";
    QCOMPARE(received(asked), QStringList{expected});
    // A query does not make the asker known.
    QCOMPARE(a.list().entries.size(), 0);
}

// A host whose only address is in 10.0.0.0/8 works on no local address: it sends no announcement (and
// reports no failure for it), but it answers queries and records the announcements it receives.
void TstE2eDiscovery::tenNetHostsAnswerButNeverAnnounce()
{
    Service a(1, {});
    Service ten4(4, {});
    Service ten5(5, {});
    QVERIFY(!a.waitReady().isEmpty());
    const QString uid4 = ten4.waitReady();
    QVERIFY(!uid4.isEmpty() && !ten5.waitReady().isEmpty());

    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    QCOMPARE(a.list().entries.size(), 0);
    QCOMPARE(ten4.list().entries.size(), 0);
    QCOMPARE(ten5.list().entries.size(), 0);

    // Host 5 asks host 4; the answer goes to host 5's service port.
    const netbed::Result asked =
        netbed::run(5, kProbe, {"send", "10.77.0.14", "20168", R"(text:{"uid":"asker","msg":"client"})"});
    QCOMPARE(asked.exitCode, 0);
    const QJsonObject seen = ten5.waitEvent("online", "10.77.0.14", 3000);
    QCOMPARE(seen.value("info").toObject().value("uid").toString(), uid4);
    const Table table = ten5.list();
    QCOMPARE(table.entries.size(), 1);
    QVERIFY(table.find("10.77.0.14")->value("lastSeen").toVariant().toLongLong() > 0);
    QCOMPARE(a.errors() + ten4.errors() + ten5.errors(), QStringList());
}

void TstE2eDiscovery::garbageNeverStopsTheService()
{
    Service a(1, {});
    QVERIFY(!a.waitReady().isEmpty());
    const QStringList garbage = {
        "text:this is not JSON",
        "fill:2000",
        "hex:",
        R"(text:{"name":"no uid","msg":"server"})",
        R"(text:{"uid":"g","msg":"unknown"})",
        R"(text:[1,2,3])",
    };
    for (const QString &payload : garbage)
        QCOMPARE(netbed::run(2, kProbe, {"send", "192.168.77.11", "20168", payload}).exitCode, 0);
    // From the service's own address: ignored, whatever its uid.
    QCOMPARE(netbed::run(1, kProbe,
                         {"send", "--bind", "192.168.77.11:0", "192.168.77.11", "20168",
                          R"(text:{"uid":"stranger","msg":"server"})"})
                 .exitCode,
             0);
    // Read leniently: the port as a string.
    QCOMPARE(netbed::run(
                 2, kProbe,
                 {"send", "192.168.77.11", "20168", R"(text:{"uid":"g","name":"Str","port":"20200","msg":"server"})"})
                 .exitCode,
             0);

    const QJsonObject seen = a.waitEvent("online", "192.168.77.12", 3000);
    QCOMPARE(seen.value("info").toObject().value("uid").toString(), QString("g"));
    QCOMPARE(seen.value("info").toObject().value("port").toInt(), 20200);
    const Table table = a.list();
    QCOMPARE(table.entries.size(), 1);
    QVERIFY(a.isRunning());
    QCOMPARE(a.errors(), QStringList());
}

// Every interface counts, up or down, in the order the system gives, filtered by the text prefixes.
void TstE2eDiscovery::localAddressesFollowTheInterfaces()
{
    const int host = 3;
    const QList<QStringList> setup = {
        {"addr", "add", "172.16.5.3/24", "dev", "eth0"},  {"addr", "add", "172.20.0.3/24", "dev", "eth0"},
        {"addr", "add", "172.160.1.2/24", "dev", "eth0"}, {"addr", "add", "10.1.1.3/8", "dev", "eth0"},
        {"addr", "add", "172.31.0.3/16", "dev", "eth0"},  {"link", "add", "v0", "type", "veth", "peer", "name", "v1"},
        {"addr", "add", "192.168.99.3/24", "dev", "v0"},
    };
    for (const QStringList &args : setup) {
        const netbed::Result r = netbed::run(host, "ip", args);
        QVERIFY2(r.exitCode == 0, qPrintable(args.join(' ') + ": " + r.errors));
    }
    const auto restore = qScopeGuard([&] {
        for (const char *address : {"172.16.5.3/24", "172.20.0.3/24", "172.160.1.2/24", "10.1.1.3/8", "172.31.0.3/16"})
            netbed::run(host, "ip", {"addr", "del", address, "dev", "eth0"});
        netbed::run(host, "ip", {"link", "del", "v0"});
    });

    QStringList systemOrder;
    for (const QString &line : netbed::run(host, "ip", {"-o", "-4", "addr", "show"}).lines) {
        const QString address = line.section(QRegularExpression("\\s+"), 3, 3).section('/', 0, 0);
        if (address.startsWith("192.168") || address.startsWith("172.16") || address.startsWith("172.31"))
            systemOrder.append(address);
    }
    const QStringList addresses = netbed::run(host, kProbe, {"addresses"}).lines;
    QCOMPARE(addresses, systemOrder);
    QStringList sorted = addresses;
    sorted.sort();
    QCOMPARE(sorted, (QStringList{"172.16.5.3", "172.160.1.2", "172.31.0.3", "192.168.77.13", "192.168.99.3"}));
}

QTEST_GUILESS_MAIN(TstE2eDiscovery)
#include "tst_e2e_discovery.moc"
