#include "UnixSignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int wakeFds[2] = {-1, -1};

void onSignal(int sig)
{
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &b, 1);
    errno = saved;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0)
        return;
    m_notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalWatcher::readSignal);

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    if (wakeFds[0] < 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    delete m_notifier;
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

void UnixSignalWatcher::readSignal()
{
    unsigned char b = 0;
    while (::read(wakeFds[0], &b, 1) == 1)
        emit terminationRequested(b);
}
