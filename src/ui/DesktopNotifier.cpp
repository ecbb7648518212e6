#include "DesktopNotifier.h"

#include "TaskMgrModel.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAppId = QStringLiteral("com.tovantic.Lanferry");
// At most this many notifications are tracked; older ones lose their actions.
constexpr size_t kMaxShown = 64;

} // namespace

DesktopNotifier::DesktopNotifier(const QString &connectionName, QObject *parent)
    : QObject(parent), m_connectionName(connectionName)
{
    QDBusConnection b = bus();
    if (!b.isConnected())
        return;
    b.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    b.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier()
{
    // Offers still shown can no longer be answered here.
    for (auto it = m_shown.begin(); it != m_shown.end(); ++it) {
        if (it->second.token)
            closeId(it->first);
    }
}

QDBusConnection DesktopNotifier::bus() const
{
    return m_connectionName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(m_connectionName);
}

quint64 DesktopNotifier::offer(const QString &sender, int files, qint64 bytes, std::function<void()> accept,
                               std::function<void()> decline)
{
    if (!bus().isConnected() || (m_windowActive && m_windowActive()))
        return 0;
    Shown shown;
    shown.token = m_nextToken++;
    shown.actions[QStringLiteral("accept")] = [this, accept] {
        emit acceptChosen();
        accept();
    };
    shown.actions[QStringLiteral("decline")] = std::move(decline);
    const QString size = TaskMgrModel::sizeText(bytes);
    const QString body = files == 1 ? tr("1 file, %1").arg(size) : tr("%1 files, %2").arg(files).arg(size);
    const quint64 token = shown.token;
    notify(tr("%1 offers files").arg(sender), body,
           {QStringLiteral("accept"), tr("Accept"), QStringLiteral("decline"), tr("Decline")}, std::move(shown));
    return token;
}

void DesktopNotifier::closeOffer(quint64 token)
{
    if (!token)
        return;
    for (auto it = m_shown.begin(); it != m_shown.end(); ++it) {
        if (it->second.token == token) {
            const uint id = it->first;
            m_shown.erase(it);
            closeId(id);
            return;
        }
    }
    m_closedEarly[token] = true;
}

void DesktopNotifier::taskEnded(const QString &sender, int done, int total, const QString &error,
                                std::function<void()> show)
{
    if (!bus().isConnected())
        return;
    QString summary;
    QString body;
    if (done == total) {
        summary = total == 1 ? tr("1 file from %1 arrived").arg(sender)
                             : tr("%1 files from %2 arrived").arg(total).arg(sender);
    } else {
        summary = tr("%1 of %2 files from %3 failed").arg(total - done).arg(total).arg(sender);
        body = error;
    }
    Shown shown;
    QStringList actions;
    if (show) {
        shown.actions[QStringLiteral("show")] = std::move(show);
        actions = QStringList{QStringLiteral("show"), tr("Show in folder")};
    }
    notify(summary, body, actions, std::move(shown));
}

void DesktopNotifier::notify(const QString &summary, const QString &body, const QStringList &actions, Shown shown)
{
    const QDBusConnection b = bus();
    auto *caps = new QDBusPendingCallWatcher(
        b.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"))),
        this);
    connect(caps, &QDBusPendingCallWatcher::finished, this,
            [this, summary, body, actions, shown](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                QDBusPendingReply<QStringList> reply = *w;
                // An offer needs its buttons: a server without actions leaves it to the window.
                const bool canAct = !reply.isError() && reply.value().contains(QStringLiteral("actions"));
                if (reply.isError() || (shown.token && !canAct))
                    return;
                if (shown.token && m_closedEarly.erase(shown.token))
                    return;
                QDBusMessage call =
                    QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
                const QVariantMap hints{{QStringLiteral("desktop-entry"), kAppId},
                                        {QStringLiteral("urgency"), QVariant::fromValue(uchar(shown.token ? 2 : 1))}};
                call << QStringLiteral("Lanferry") << uint(0) << kAppId << summary << body
                     << (canAct ? actions : QStringList()) << hints << int(shown.token ? 0 : -1);
                auto *sent = new QDBusPendingCallWatcher(bus().asyncCall(call), this);
                connect(sent, &QDBusPendingCallWatcher::finished, this, [this, shown](QDBusPendingCallWatcher *s) {
                    s->deleteLater();
                    QDBusPendingReply<uint> id = *s;
                    if (id.isError())
                        return;
                    // Answered elsewhere while the server was being asked.
                    if (shown.token && m_closedEarly.erase(shown.token)) {
                        closeId(id.value());
                        return;
                    }
                    if (shown.actions.empty())
                        return;
                    if (m_shown.size() >= kMaxShown)
                        m_shown.erase(m_shown.begin());
                    m_shown[id.value()] = shown;
                });
            });
}

void DesktopNotifier::closeId(uint id)
{
    bus().asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"))
                    << id);
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    const auto it = m_shown.find(id);
    if (it == m_shown.end())
        return;
    const auto fn = it->second.actions.find(action);
    if (fn == it->second.actions.end())
        return; // "default" (a click on the body) and anything unknown: the window decides
    const std::function<void()> run = fn->second;
    const bool isOffer = it->second.token != 0;
    m_shown.erase(it);
    // Some servers keep a notification after an action; an answered offer must go.
    if (isOffer)
        closeId(id);
    if (run)
        run();
}

void DesktopNotifier::onClosed(uint id, uint)
{
    // Dismissed: an offer is still answered in the window.
    m_shown.erase(id);
}
