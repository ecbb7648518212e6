// Keeps the computer from going to sleep while files move: a "sleep" inhibitor
// of the login manager (held by the file descriptor it hands out), or where
// that is not reachable the desktop portal's inhibitor, or none. Taken when
// the program becomes busy and released when it is idle again. Every call is
// asynchronous, so a slow or missing bus never holds up the screens.
#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class TaskEngine;

class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    enum class Via { None, LoginManager, Portal };

    // Where the two inhibitors live; a test points them at a private bus.
    struct Services {
        QDBusConnection loginBus;
        QString loginService;
        QDBusConnection portalBus;
        QString portalService;
    };
    // The login manager on the system bus, the portal on the session bus.
    static Services desktopServices();

    explicit SleepInhibitor(Services services, QObject *parent = nullptr);
    // Keeps the computer awake while engine runs a task. The inhibitor is a
    // child of owner, which must outlive engine (the task model that owns it).
    static SleepInhibitor *whileBusy(TaskEngine &engine, QObject *owner);
    ~SleepInhibitor() override;

    // Takes the inhibitor when busy, releases it when not. Repeating a state changes nothing.
    void setBusy(bool busy);
    bool busy() const { return m_busy; }
    // Who holds the inhibitor now; None while asking or without one.
    Via via() const { return m_via; }

signals:
    // The inhibitor was taken (via() tells by whom) or released.
    void viaChanged();

private:
    void takeFromLoginManager();
    void takeFromPortal();
    void held(Via via);
    void release();

    Services m_services;
    bool m_busy = false;
    // An answer is awaited; a change of mind meanwhile is settled when it comes.
    bool m_asking = false;
    Via m_via = Via::None;
    QDBusUnixFileDescriptor m_fd;
    QString m_portalRequest;
};
