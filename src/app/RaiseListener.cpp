#include "RaiseListener.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QWindow>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char kRequest[] = "raise\n";
// A caller is a second start that writes one line at once; anything slower,
// longer or more numerous is not one and is dropped.
constexpr int kReadTimeoutMs = 2000;
constexpr int kMaxRequestBytes = 64;
constexpr int kMaxOpenConnections = 4;

bool fitsSocketAddress(const std::string &path)
{
    return path.size() < sizeof(sockaddr_un{}.sun_path);
}

bool sameUser(qintptr fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    return ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::geteuid();
}

} // namespace

RaiseListener::RaiseListener(QObject *parent) : QObject(parent)
{
}

RaiseListener::~RaiseListener() = default;

std::string RaiseListener::socketPath(const std::string &dataFolder)
{
    return dataFolder + "/run/raise";
}

bool RaiseListener::listen(const std::string &path)
{
    if (!fitsSocketAddress(path)) {
        m_lastError = QStringLiteral("The socket path %1 is too long.").arg(QString::fromStdString(path));
        return false;
    }
    // The folder keeps other users out whatever the socket file's own mode is.
    const std::string folder = path.substr(0, path.rfind('/'));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        m_lastError = QStringLiteral("Cannot create %1. %2").arg(QString::fromStdString(folder), strerror(errno));
        return false;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)) {
        m_lastError = QStringLiteral("%1 is not a private folder of this user.").arg(QString::fromStdString(folder));
        return false;
    }
    const QString name = QString::fromStdString(path);
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(kMaxOpenConnections);
    connect(m_server, &QLocalServer::newConnection, this, &RaiseListener::accept);
    if (!m_server->listen(name)) {
        m_lastError = QStringLiteral("Cannot listen on %1. %2").arg(name, m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    return true;
}

void RaiseListener::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (m_open >= kMaxOpenConnections || !sameUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        QTimer::singleShot(kReadTimeoutMs, socket, [socket] { socket->abort(); });
    }
}

void RaiseListener::read(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(kMaxRequestBytes);
    socket->abort();
    if (line == kRequest)
        emit raiseRequested();
}

bool RaiseListener::ask(const std::string &path)
{
    if (!fitsSocketAddress(path))
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // The running instance may still be starting: it takes the lock before it
    // listens. Ten tries a tenth of a second apart cover that start.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const timeval timeout{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            continue;
        }
        const ssize_t size = sizeof kRequest - 1;
        const bool sent = ::send(fd, kRequest, size, MSG_NOSIGNAL) == size;
        ::close(fd);
        return sent;
    }
    return false;
}

void RaiseListener::raise(QWindow *window)
{
    if (!window)
        return;
    if (window->windowStates() & Qt::WindowMinimized)
        window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->requestActivate();
}
