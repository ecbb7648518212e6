// The server model in one process: identity properties, saving settings, and
// restarting the services only when the port changes.
#include "RawTlsClient.h"
#include "TempDataHome.h"

#include "core/ServerInfo.h"
#include "store/ShareFilesDb.h"
#include "ui/ServerModel.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QUdpSocket>
#include <QtTest>

class TestServerModel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void propertiesFollowTheSettings();
    void saveMeDefaults();
    void samePortKeepsServicesRunning();
    void newPortRestartsBothServices();

private:
    static int freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    // One request on a kept-alive connection.
    static int ask(RawTlsClient &c)
    {
        if (!c.send(RawTlsClient::get("/")))
            return -1;
        return c.readAnswer(3000).status;
    }

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<ServerModel> m_model;
};

void TestServerModel::init()
{
    m_home = std::make_unique<TempDataHome>();
    QVERIFY(ShareFilesDb::instance().reopen(std::string()));
    ServerInfo me = loadServerInfo();
    me.port = freePort();
    QVERIFY(saveServerInfo(me));
    m_model = std::make_unique<ServerModel>();
}

void TestServerModel::cleanup()
{
    m_model.reset();
    m_home.reset();
}

void TestServerModel::propertiesFollowTheSettings()
{
    const ServerInfo me = loadServerInfo();
    QCOMPARE(m_model->uid(), QString::fromStdString(me.uid));
    QCOMPARE(m_model->name(), QString("home"));
    QCOMPARE(m_model->port(), me.port);
    QCOMPARE(m_model->defaultPort(), 20168);
    QVERIFY(!m_model->ip().contains("127.0.0.1"));

    // A property write signals only a change, and saves nothing.
    QSignalSpy nameSpy(m_model.get(), &ServerModel::nameChanged);
    m_model->setName("home");
    QCOMPARE(nameSpy.count(), 0);
    m_model->setName("other");
    QCOMPARE(nameSpy.count(), 1);
    QCOMPARE(loadServerInfo().name, std::string("home"));
    m_model->reloadInfo();
    QCOMPARE(m_model->name(), QString("home"));
}

void TestServerModel::saveMeDefaults()
{
    ServerInfo me = loadServerInfo();
    me.port = 20168;
    me.pwd = "old";
    QVERIFY(saveServerInfo(me));
    m_model->reloadInfo();
    QSignalSpy portSpy(m_model.get(), &ServerModel::portChanged);
    QVERIFY(m_model->saveMe(QString(), 0, QString()));
    const ServerInfo saved = loadServerInfo();
    QCOMPARE(saved.name, std::string("home"));
    QCOMPARE(saved.port, 20168);
    QVERIFY(saved.pwd.empty());
    QCOMPARE(saved.uid, me.uid);
    QCOMPARE(m_model->passcode(), QString());
    QCOMPARE(portSpy.count(), 0);
    QVERIFY(m_model->saveMe(QString::fromUtf8("Zoë's laptop"), 70000, "pw"));
    QCOMPARE(loadServerInfo().name, std::string("Zoë's laptop"));
    QCOMPARE(loadServerInfo().pwd, std::string("pw"));
}

void TestServerModel::samePortKeepsServicesRunning()
{
    m_model->start();
    QVERIFY(QTest::qWaitFor([&] { return m_model->httpServer().isListening(); }, 5000));
    QVERIFY(m_model->udpServer().isRunning());
    RawTlsClient c;
    QVERIFY(c.connect(m_model->port()));
    QCOMPARE(ask(c), 200);
    QVERIFY(m_model->saveMe("renamed", m_model->port(), QString()));
    QTest::qWait(300);     // a restart would have been posted by now
    QCOMPARE(ask(c), 200); // the same connection still served: nothing restarted
    QCOMPARE(m_model->name(), QString("renamed"));
}

void TestServerModel::newPortRestartsBothServices()
{
    m_model->start();
    QVERIFY(QTest::qWaitFor([&] { return m_model->httpServer().isListening(); }, 5000));
    const int oldPort = m_model->port();
    const int newPort = freePort();
    QSignalSpy portSpy(m_model.get(), &ServerModel::portChanged);
    QVERIFY(m_model->saveMe("moved", newPort, QString()));
    QCOMPARE(portSpy.count(), 1);
    QCOMPARE(m_model->port(), newPort);
    RawTlsClient c;
    QVERIFY(QTest::qWaitFor([&] { return c.connect(newPort) && ask(c) == 200; }, 5000));
    QVERIFY(!RawTlsClient().connect(oldPort));
    // Discovery listens on the new port too: its UDP port is taken now.
    QUdpSocket probe;
    QVERIFY(!probe.bind(QHostAddress::AnyIPv4, quint16(newPort)));
    QVERIFY(probe.bind(QHostAddress::AnyIPv4, quint16(oldPort)));
}

QTEST_GUILESS_MAIN(TestServerModel)
#include "tst_servermodel.moc"
