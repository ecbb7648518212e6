#include "SingleInstanceGuard.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

SingleInstanceGuard::SingleInstanceGuard(std::string lockPath) : m_path(std::move(lockPath))
{
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    release();
}

SingleInstanceGuard::Result SingleInstanceGuard::tryAcquire()
{
    if (m_fd >= 0)
        return Result::Acquired;
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_lastError = "Cannot open the lock file " + m_path + ": " + std::strerror(errno);
        return Result::Error;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::HeldByOther;
        m_lastError = "Cannot lock " + m_path + ": " + std::strerror(err);
        return Result::Error;
    }
    // The holder's pid, for people looking at the folder; the lock itself is what counts.
    if (::ftruncate(fd, 0) == 0) {
        const std::string pid = std::to_string(::getpid()) + "\n";
        [[maybe_unused]] const ssize_t n = ::write(fd, pid.data(), pid.size());
    }
    m_fd = fd;
    return Result::Acquired;
}

void SingleInstanceGuard::release()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}
