#include "BeneathFs.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace pathutil {

namespace {

constexpr size_t kMaxName = 255;
constexpr const char *kPartialSuffix = ".downloading";

// Cleared once the kernel (or a sandbox) refused openat2 itself.
std::atomic<bool> g_openat2Usable{true};

bool splitNames(const std::string &relative, std::vector<std::string> *names)
{
    size_t begin = 0;
    while (begin <= relative.size() && !relative.empty()) {
        size_t end = relative.find('/', begin);
        if (end == std::string::npos)
            end = relative.size();
        const std::string name = relative.substr(begin, end - begin);
        if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos)
            return false;
        names->push_back(name);
        begin = end + 1;
    }
    return true;
}

int closeKeepingErrno(int fd)
{
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
}

int openat2Beneath(int dirfd, const std::string &relative, int flags, mode_t mode)
{
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const char *path = relative.empty() ? "." : relative.c_str();
    for (;;) {
        const long fd = ::syscall(SYS_openat2, dirfd, path, &how, sizeof(how));
        if (fd >= 0 || errno != EINTR)
            return static_cast<int>(fd);
    }
}

// Name by name; every step refuses a link.
int walkBeneath(int dirfd, const std::vector<std::string> &names, int flags, mode_t mode, bool create)
{
    int current = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    if (current < 0)
        return -1;
    // Folders are opened first and made only when missing: most exist already.
    const auto openOrMake = [&](const std::string &name, int openFlags, mode_t openMode) {
        int fd = ::openat(current, name.c_str(), openFlags, openMode);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(current, name.c_str(), 0777) != 0 && errno != EEXIST)
                return -1;
            fd = ::openat(current, name.c_str(), openFlags, openMode);
        }
        return fd;
    };
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        const int next = openOrMake(names[i], O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
        if (next < 0)
            return closeKeepingErrno(current);
        ::close(current);
        current = next;
    }
    if (names.empty()) {
        const int fd = ::openat(current, ".", flags | O_CLOEXEC, mode);
        ::close(current);
        return fd;
    }
    const int fd = openOrMake(names.back(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return closeKeepingErrno(current);
    ::close(current);
    return fd;
}

// Cuts text to at most max bytes without splitting a UTF-8 character.
std::string cutUtf8(const std::string &text, size_t max)
{
    if (text.size() <= max)
        return text;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

uint64_t fnv1a(const std::string &text, uint64_t hash = 1469598103934665603ULL)
{
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

} // namespace

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int openBeneath(int dirfd, const std::string &relative, int flags, mode_t mode)
{
    std::vector<std::string> names;
    if (!splitNames(relative, &names)) {
        errno = EINVAL;
        return -1;
    }
    if (g_openat2Usable.load(std::memory_order_relaxed)) {
        const int fd = openat2Beneath(dirfd, relative, flags, mode);
        if (fd >= 0)
            return fd;
        // ENOSYS: an older kernel; EPERM: a sandbox that filters the call.
        if (errno != ENOSYS && errno != EPERM)
            return -1;
        if (errno == ENOSYS)
            g_openat2Usable = false;
    }
    return walkBeneath(dirfd, names, flags, mode, false);
}

bool setOpenat2Allowed(bool allowed)
{
    return g_openat2Usable.exchange(allowed);
}

int makeFoldersBeneath(int dirfd, const std::string &relative)
{
    std::vector<std::string> names;
    if (!splitNames(relative, &names)) {
        errno = EINVAL;
        return -1;
    }
    // Mostly the folders exist: one call opens them, the walk makes what is missing.
    if (g_openat2Usable.load(std::memory_order_relaxed)) {
        const int fd = openat2Beneath(dirfd, relative, O_RDONLY | O_DIRECTORY, 0);
        if (fd >= 0)
            return fd;
    }
    return walkBeneath(dirfd, names, O_RDONLY | O_DIRECTORY, 0, true);
}

int renameNoReplace(int dirfd, const std::string &from, const std::string &to)
{
    if (::renameat2(dirfd, from.c_str(), dirfd, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // The file system cannot refuse to replace in a rename: a link cannot replace either.
    if (::linkat(dirfd, from.c_str(), dirfd, to.c_str(), 0) == 0) {
        ::unlinkat(dirfd, from.c_str(), 0);
        return 0;
    }
    if (errno == EEXIST)
        return -1;
    if (existsIn(dirfd, to)) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(dirfd, from.c_str(), dirfd, to.c_str());
}

bool existsIn(int dirfd, const std::string &name)
{
    struct stat st {};
    return ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

std::string numberedName(const std::string &name, int n)
{
    if (n <= 0)
        return name;
    const size_t dot = name.rfind('.');
    const bool hasSuffix = dot != std::string::npos && dot > 0;
    const std::string stem = hasSuffix ? name.substr(0, dot) : name;
    const std::string suffix = hasSuffix ? name.substr(dot) : std::string();
    const std::string number = " (" + std::to_string(n) + ")";
    if (stem.size() + number.size() + suffix.size() <= kMaxName)
        return stem + number + suffix;
    // Too long: the suffix goes before the stem is cut to nothing.
    if (number.size() + suffix.size() < kMaxName)
        return cutUtf8(stem, kMaxName - number.size() - suffix.size()) + number + suffix;
    return cutUtf8(name, kMaxName - number.size()) + number;
}

std::string partialName(const std::string &name, const std::string &key)
{
    char tag[18];
    std::snprintf(tag, sizeof(tag), ".%08x", static_cast<unsigned>(fnv1a(name, fnv1a(key)) & 0xffffffffu));
    const size_t room = kMaxName - std::char_traits<char>::length(tag) - std::char_traits<char>::length(kPartialSuffix);
    return cutUtf8(name, room) + tag + kPartialSuffix;
}

} // namespace pathutil
