// Desktop notifications (org.freedesktop.Notifications): an offer of files
// with "Accept" and "Decline" actions while the window is not the active one,
// and the end of a received task with a "Show in folder" action. Without a
// notification server, or one that cannot show actions, nothing is shown and
// the window's own prompts do the work. Every call is asynchronous.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <map>

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // The notification server on the bus of this connection name (the session
    // bus when empty); tests point it at a private bus.
    explicit DesktopNotifier(const QString &connectionName = QString(), QObject *parent = nullptr);
    ~DesktopNotifier() override;

    // Whether the program's window is the active one; offers are notified only
    // while it is not. Until set, it never is (as without a window).
    void setWindowActive(std::function<bool()> isActive) { m_windowActive = std::move(isActive); }

    // Offers the files of sender: a notification unless the window is
    // active, whose actions run accept or decline (once, on this thread).
    // Answers a token for closeOffer(), or 0 when nothing is shown.
    quint64 offer(const QString &sender, int files, qint64 bytes, std::function<void()> accept,
                  std::function<void()> decline);
    // The offer was answered elsewhere (or expired): its notification goes.
    void closeOffer(quint64 token);
    // A received task ended: done of total files from sender arrived (the rest
    // failed, with error as the reason); "Show in folder" runs show.
    void taskEnded(const QString &sender, int done, int total, const QString &error, std::function<void()> show);

signals:
    // The user chose to accept an offer from its notification; the window
    // should come forward for the save-folder dialog.
    void acceptChosen();

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    struct Shown {
        quint64 token = 0;
        std::map<QString, std::function<void()>> actions;
    };
    QDBusConnection bus() const;
    // Asks the server for its capabilities, then shows the notification when
    // it can show actions; onShown gets the server's id.
    void notify(const QString &summary, const QString &body, const QStringList &actions, Shown shown);
    void closeId(uint id);

    QString m_connectionName;
    std::function<bool()> m_windowActive;
    quint64 m_nextToken = 1;
    // Notifications shown, by the server's id.
    std::map<uint, Shown> m_shown;
    // Offers closed before the server told their id.
    std::map<quint64, bool> m_closedEarly;
};
