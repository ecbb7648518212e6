// File system work below a folder that a peer's names must never lead out of:
// every path is resolved relative to a descriptor of that folder, one name at
// a time, and a link met on the way (planted before or during the work) is
// refused instead of followed.
#pragma once

#include <sys/types.h>

#include <string>

namespace pathutil {

// Owns one file descriptor; closes it when destroyed.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Opens relative ("/"-separated names; empty means dirfd itself) beneath
// dirfd with open(2) flags and mode, following no link at any step (the last
// name included) and never leaving dirfd; O_CLOEXEC is always added. Uses
// openat2 where the kernel allows it, else walks name by name with
// O_NOFOLLOW. Answers the descriptor, or -1 with errno set (ELOOP or ENOTDIR
// for a link on the way, EINVAL for an empty, "." or ".." name).
int openBeneath(int dirfd, const std::string &relative, int flags, mode_t mode = 0);

// Whether openBeneath may try openat2 (on by default; off walks name by name
// everywhere, as on kernels without it). Answers the previous setting.
bool setOpenat2Allowed(bool allowed);

// Opens the folder relative beneath dirfd, creating each missing folder on
// the way with mkdirat; a link on the way is refused as in openBeneath.
// Answers the folder's descriptor, or -1 with errno set.
int makeFoldersBeneath(int dirfd, const std::string &relative);

// Renames the entry from to the name to inside the folder dirfd without
// replacing anything: fails with EEXIST when to exists. Where the file system
// cannot rename that way, a hard link plus removal does the same; only where
// neither works is the name checked just before an ordinary rename.
// 0, or -1 with errno set.
int renameNoReplace(int dirfd, const std::string &from, const std::string &to);

// True when name (one component) exists in dirfd, links included.
bool existsIn(int dirfd, const std::string &name);

// The n-th free-name candidate of name, as file managers make them: n = 0
// gives name; "notes.txt" -> "notes (1).txt", "photos" -> "photos (1)",
// ".bashrc" -> ".bashrc (1)". The stem is shortened (at a character
// boundary) so that the result stays within 255 bytes.
std::string numberedName(const std::string &name, int n);

// The name of the partial file that receives name: visible, recognisable,
// unique to the transfer (key: its task, file and sub-path), within 255
// bytes even for a 255-byte name, and ending in ".downloading".
std::string partialName(const std::string &name, const std::string &key);

} // namespace pathutil
