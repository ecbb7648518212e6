// A D-Bus daemon of the test's own, so that services of the desktop (the login
// manager, the portal, the notification server, the file manager) can be
// played by small objects in the test without touching the real buses.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>

class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(5000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString &name : m_names)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    bool isUp() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }
    // A new connection to the bus, closed with the bus.
    QDBusConnection connect(const QString &name)
    {
        m_names << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};
