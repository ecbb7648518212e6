// A second desktop start asks the running one to show its window: the running
// instance listens on a local socket in a private folder beside its instance
// lock, and a start that finds the lock held sends one short line there before
// it ends. Only processes of the same user get through: the folder is 0700 and
// every connection's peer credentials are checked.
#pragma once

#include <QObject>
#include <QString>

#include <string>

class QLocalServer;
class QLocalSocket;
class QWindow;

class RaiseListener : public QObject {
    Q_OBJECT
public:
    explicit RaiseListener(QObject *parent = nullptr);
    ~RaiseListener() override;

    // The socket of the instance that holds dataFolder.
    static std::string socketPath(const std::string &dataFolder);
    // Listens at path; only the holder of the instance lock may call it, since
    // it removes whatever a crashed holder left there. False with lastError()
    // when it cannot.
    bool listen(const std::string &path);
    const QString &lastError() const { return m_lastError; }

    // The second start's side: asks the instance listening at path to raise
    // its window, waiting at most about a second for it to listen. True when
    // the request was delivered.
    static bool ask(const std::string &path);
    // Shows window, restores it when minimised, raises it and asks for focus.
    static void raise(QWindow *window);

signals:
    void raiseRequested();

private:
    void accept();
    void read(QLocalSocket *socket);

    QLocalServer *m_server = nullptr;
    QString m_lastError;
    int m_open = 0;
};
