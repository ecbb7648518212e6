#include "SleepInhibitor.h"

#include "engine/TaskEngine.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <cstdio>

namespace {

const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kPortalInterface = QStringLiteral("org.freedesktop.portal.Inhibit");
// The portal's flag for "suspending the session".
constexpr uint kPortalSuspend = 4;
const QString kWho = QStringLiteral("Lanferry");
const QString kWhy = QStringLiteral("Files are being transferred");

bool traced()
{
    return qEnvironmentVariableIsSet("LANFERRY_TRACE");
}

} // namespace

SleepInhibitor::Services SleepInhibitor::desktopServices()
{
    return {QDBusConnection::systemBus(), QStringLiteral("org.freedesktop.login1"), QDBusConnection::sessionBus(),
            QStringLiteral("org.freedesktop.portal.Desktop")};
}

SleepInhibitor::SleepInhibitor(Services services, QObject *parent) : QObject(parent), m_services(std::move(services))
{
}

SleepInhibitor *SleepInhibitor::whileBusy(TaskEngine &engine, QObject *owner)
{
    auto *inhibitor = new SleepInhibitor(desktopServices(), owner);
    inhibitor->setBusy(engine.busy());
    engine.setBusyListener([inhibitor](bool busy) { inhibitor->setBusy(busy); });
    return inhibitor;
}

SleepInhibitor::~SleepInhibitor()
{
    m_busy = false;
    release();
}

void SleepInhibitor::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (m_asking)
        return; // settled by the answer
    if (busy)
        takeFromLoginManager();
    else
        release();
}

void SleepInhibitor::takeFromLoginManager()
{
    if (!m_services.loginBus.isConnected()) {
        takeFromPortal();
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_services.loginService, kLoginPath, kLoginInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << kWho << kWhy << QStringLiteral("block");
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(m_services.loginBus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError() || !reply.value().isValid()) {
            m_asking = false;
            if (m_busy)
                takeFromPortal();
            return;
        }
        m_asking = false;
        m_fd = reply.value();
        held(Via::LoginManager);
    });
}

void SleepInhibitor::takeFromPortal()
{
    if (!m_services.portalBus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(m_services.portalService, kPortalPath, kPortalInterface,
                                                       QStringLiteral("Inhibit"));
    call << QString() << kPortalSuspend << QVariantMap{{QStringLiteral("reason"), kWhy}};
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(m_services.portalBus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_asking = false;
        QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            // Going on without one: a transfer matters more than the nap.
            if (traced())
                std::fprintf(stderr, "lanferry: no sleep inhibitor: %s\n", qUtf8Printable(reply.error().message()));
            return;
        }
        m_portalRequest = reply.value().path();
        held(Via::Portal);
    });
}

void SleepInhibitor::held(Via via)
{
    m_via = via;
    emit viaChanged();
    // Idle again while asking: the inhibitor goes at once.
    if (!m_busy)
        release();
}

void SleepInhibitor::release()
{
    if (m_via == Via::None)
        return;
    if (m_via == Via::Portal && m_services.portalBus.isConnected()) {
        // The portal keeps the inhibition until its request object is closed.
        m_services.portalBus.asyncCall(QDBusMessage::createMethodCall(m_services.portalService, m_portalRequest,
                                                                      QStringLiteral("org.freedesktop.portal.Request"),
                                                                      QStringLiteral("Close")));
    }
    // Closing the descriptor ends the login manager's inhibitor.
    m_fd = QDBusUnixFileDescriptor();
    m_portalRequest.clear();
    m_via = Via::None;
    emit viaChanged();
}
