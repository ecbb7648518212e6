// The sleep inhibitor against a login manager and a portal played on a
// private bus: the login manager's descriptor is held exactly while busy, the
// portal stands in when the login manager is missing, and without either the
// program goes on.
#include "PrivateBus.h"

#include "ui/SleepInhibitor.h"

#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// Hands out the write end of a pipe for each inhibitor; the read end sees the
// hang-up once every copy of the write end is closed.
class FakeLoginManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLoginManager() override
    {
        for (int fd : readEnds)
            ::close(fd);
    }
    QStringList calls;
    QList<int> readEnds;

    bool released(int i) const
    {
        pollfd p{readEnds.at(i), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        calls << QStringList{what, who, why, mode}.join('|');
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        readEnds << ends[0];
        QDBusUnixFileDescriptor fd(ends[1]);
        ::close(ends[1]);
        return fd;
    }
};

class FakePortalRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    bool closed = false;
public slots:
    void Close() { closed = true; }
};

class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(bus) {}
    QList<uint> flags;
    FakePortalRequest request;

public slots:
    QDBusObjectPath Inhibit(const QString &, uint flagsArg, const QVariantMap &)
    {
        flags << flagsArg;
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/1/t%1").arg(flags.size());
        m_bus.registerObject(path, &request, QDBusConnection::ExportAllSlots);
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection m_bus;
};

class TestSleepInhibitor : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loginManagerHeldWhileBusy();
    void idleBeforeTheAnswerReleasesAtOnce();
    void portalWhenNoLoginManager();
    void goesOnWithoutEither();

private:
    SleepInhibitor::Services services() const
    {
        return {*m_client, QStringLiteral("org.freedesktop.login1"), *m_client,
                QStringLiteral("org.freedesktop.portal.Desktop")};
    }
    void offerLoginManager(FakeLoginManager *fake)
    {
        QVERIFY(m_service->registerObject(QStringLiteral("/org/freedesktop/login1"), fake,
                                          QDBusConnection::ExportAllSlots));
        QVERIFY(m_service->registerService(QStringLiteral("org.freedesktop.login1")));
    }

    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<QDBusConnection> m_client, m_service;
    int m_round = 0;
};

void TestSleepInhibitor::init()
{
    m_bus = std::make_unique<PrivateBus>();
    QVERIFY2(m_bus->isUp(), "dbus-daemon did not start");
    ++m_round;
    m_client = std::make_unique<QDBusConnection>(m_bus->connect(QStringLiteral("client%1").arg(m_round)));
    m_service = std::make_unique<QDBusConnection>(m_bus->connect(QStringLiteral("service%1").arg(m_round)));
    QVERIFY(m_client->isConnected() && m_service->isConnected());
}

void TestSleepInhibitor::cleanup()
{
    m_client.reset();
    m_service.reset();
    m_bus.reset();
}

void TestSleepInhibitor::loginManagerHeldWhileBusy()
{
    FakeLoginManager login;
    offerLoginManager(&login);
    SleepInhibitor inhibitor(services());
    inhibitor.setBusy(true);
    inhibitor.setBusy(true); // a repeated state asks nothing more
    QTRY_COMPARE(inhibitor.via(), SleepInhibitor::Via::LoginManager);
    QCOMPARE(login.calls.size(), 1);
    QVERIFY2(login.calls[0].startsWith("sleep|Lanferry|") && login.calls[0].endsWith("|block"),
             qPrintable(login.calls[0]));
    QTest::qWait(50);
    QVERIFY(!login.released(0));

    inhibitor.setBusy(false);
    QCOMPARE(inhibitor.via(), SleepInhibitor::Via::None);
    QVERIFY(login.released(0));

    // Busy again: a new inhibitor, released with the object.
    {
        SleepInhibitor second(services());
        second.setBusy(true);
        QTRY_COMPARE(second.via(), SleepInhibitor::Via::LoginManager);
        QVERIFY(!login.released(1));
    }
    QVERIFY(login.released(1));
}

void TestSleepInhibitor::idleBeforeTheAnswerReleasesAtOnce()
{
    FakeLoginManager login;
    offerLoginManager(&login);
    SleepInhibitor inhibitor(services());
    inhibitor.setBusy(true);
    inhibitor.setBusy(false);
    QTRY_COMPARE(login.calls.size(), 1);
    QTRY_VERIFY(login.released(0));
    QCOMPARE(inhibitor.via(), SleepInhibitor::Via::None);
}

void TestSleepInhibitor::portalWhenNoLoginManager()
{
    FakePortal portal(*m_service);
    QVERIFY(m_service->registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                      QDBusConnection::ExportAllSlots));
    QVERIFY(m_service->registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    SleepInhibitor inhibitor(services());
    inhibitor.setBusy(true);
    QTRY_COMPARE(inhibitor.via(), SleepInhibitor::Via::Portal);
    QCOMPARE(portal.flags, QList<uint>{4u}); // suspend
    QVERIFY(!portal.request.closed);
    inhibitor.setBusy(false);
    QTRY_VERIFY(portal.request.closed);
}

void TestSleepInhibitor::goesOnWithoutEither()
{
    SleepInhibitor inhibitor(services());
    inhibitor.setBusy(true);
    QTest::qWait(300);
    QCOMPARE(inhibitor.via(), SleepInhibitor::Via::None);
    inhibitor.setBusy(false);
    // A login manager that appears later is used at the next busy spell.
    FakeLoginManager login;
    offerLoginManager(&login);
    inhibitor.setBusy(true);
    QTRY_COMPARE(inhibitor.via(), SleepInhibitor::Via::LoginManager);
}

QTEST_GUILESS_MAIN(TestSleepInhibitor)
#include "tst_sleepinhibitor.moc"
