#include "AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(std::string *error, int err)
{
    if (error)
        *error = std::strerror(err);
    errno = err; // callers may tell a missing file from an unreadable one
    return false;
}

bool writeAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool writeFileAtomic(const std::string &path, const std::string &data, std::string *error, bool durable)
{
    std::string tmp = path + ".tmp.XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno);
    int err = 0;
    if (!writeAll(fd, data) || (durable && ::fsync(fd) != 0))
        err = errno;
    if (::close(fd) != 0 && !err)
        err = errno;
    if (!err && ::rename(tmp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlink(tmp.c_str());
        return fail(error, err);
    }
    return true;
}

bool readWholeFile(const std::string &path, std::string *data, std::string *error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return fail(error, err);
    }
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return fail(error, err);
        }
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    *data = std::move(out);
    return true;
}
