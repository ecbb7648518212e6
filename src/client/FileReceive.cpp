#include "FileReceive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

namespace {

constexpr const char *kNoAddress = "Connection failed, please connect the device manually.";
constexpr const char *kFileGone = "The file does not exist. The other device may have deleted the task.";
constexpr const char *kBadListing = "Invalid inode/directory files.";

std::string errnoText(int err)
{
    return std::strerror(err);
}

void fail(TransferFileStatus &status, bool remote, std::string error)
{
    status.status = -1;
    status.remote = remote;
    status.error = std::move(error);
}

// The whole text must be a decimal number (blanks around it and a sign allowed).
std::optional<int64_t> strictDecimal(const std::string &text)
{
    size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    size_t begin = 0;
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    size_t digits = begin;
    if (digits < end && (text[digits] == '+' || text[digits] == '-'))
        ++digits;
    if (digits == end)
        return std::nullopt;
    for (size_t i = digits; i < end; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return std::nullopt;
    }
    return parseLeadingInt(text.substr(begin, end - begin));
}

bool writeAll(int fd, const char *p, size_t left)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// The folder part of a path: up to its last "/", trailing "/" removed.
std::string parentFolder(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    std::string parent = path.substr(0, slash);
    while (parent.size() > 1 && parent.back() == '/')
        parent.pop_back();
    return parent.empty() ? std::string("/") : parent;
}

bool isSafeListedName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace

HttpResponse requestPiece(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                          const std::string &fid, const std::string &subpath, int64_t offset,
                          TransferFileStatus &status, const CURLHelper2::Sink *okBodySink)
{
    if (peer.host.empty()) {
        fail(status, true, kNoAddress);
        return HttpResponse();
    }
    HttpResponse res = okBodySink ? client.fileRead(peer, key.tid, fid, subpath, offset, *okBodySink)
                                  : client.fileRead(peer, key.tid, fid, subpath, offset);
    if (res.status != 200)
        fail(status, true, (res.status == 403 || res.status == 404) ? std::string(kFileGone) : res.body);
    return res;
}

TransferFileStatus receiveFile(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                               const std::string &fid, const std::string &subpath, int64_t offset,
                               const std::string &destination, const FileStatusCallback &onPiece,
                               const FileStatusCallback &onComplete)
{
    TransferFileStatus status;
    status.offset = offset > 0 ? offset : 0;

    const std::string parent = parentFolder(destination);
    if (!parent.empty()) {
        // A failure shows up as the open failure below, with its reason.
        std::error_code ec;
        std::filesystem::create_directories(parent, ec);
    }
    const std::string partial = destination + kPartialSuffix;

    struct stat st {};
    const bool existed = ::lstat(partial.c_str(), &st) == 0;
    // A recorded offset without its partial file is worthless.
    if (!existed)
        status.offset = 0;

    // Never write through a link or into a pipe or device planted at the partial file's name.
    const int fd = ::open(partial.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(status, false, "Failed to open file " + partial + ". " + errnoText(errno));
        return status;
    }
    int statErr = 0;
    if (::fstat(fd, &st) != 0)
        statErr = errno;
    if (statErr || !S_ISREG(st.st_mode)) {
        const int err = statErr;
        ::close(fd);
        fail(status, false, "Failed to open file " + partial + ". " + (err ? errnoText(err) : "Not a regular file"));
        return status;
    }
    // Bytes beyond the recorded offset were never confirmed: past the end of
    // the partial file there is nothing to resume (the hole would count as
    // received), and a stale tail would survive a shorter final file.
    if (status.offset > st.st_size)
        status.offset = st.st_size;
    if ((st.st_size > status.offset && ::ftruncate(fd, status.offset) != 0) ||
        (status.offset > 0 && ::lseek(fd, status.offset, SEEK_SET) != status.offset)) {
        const int err = errno;
        ::close(fd);
        fail(status, false, "Failed to initialize the file open,  " + partial + ". " + errnoText(err));
        return status;
    }

    // Piece bytes go to the disk as they arrive; offset moves on only when
    // the whole piece is there, and a resume drops whatever lies beyond it.
    int64_t pieceBytes = 0;
    int writeError = 0;
    const CURLHelper2::Sink toDisk = [&](const char *data, size_t size) -> size_t {
        if (!writeAll(fd, data, size)) {
            writeError = errno ? errno : EIO;
            return 0;
        }
        pieceBytes += static_cast<int64_t>(size);
        return size;
    };
    // On failure the partial file keeps exactly the confirmed bytes.
    const auto closeAtOffset = [&] {
        if (::ftruncate(fd, status.offset) != 0) {
            // Harmless: the next attempt cuts it at its recorded offset.
        }
        ::close(fd);
    };
    int emptyInRow = 0;
    for (;;) {
        pieceBytes = 0;
        writeError = 0;
        const HttpResponse res = requestPiece(client, peer, key, fid, subpath, status.offset, status, &toDisk);
        if (writeError) {
            closeAtOffset();
            fail(status, false, "Failed to write file. " + errnoText(writeError));
            return status;
        }
        if (res.status != 200) {
            closeAtOffset();
            return status;
        }
        bool last = false;
        const auto eof = res.headers.find("X-EOF");
        if (eof != res.headers.end()) {
            const std::optional<int64_t> value = strictDecimal(eof->second);
            if (!value) {
                closeAtOffset();
                fail(status, true, "The other device sent an invalid X-EOF value: " + eof->second + ".");
                return status;
            }
            last = *value > 0;
        }
        if (pieceBytes > 0) {
            emptyInRow = 0;
            status.offset += pieceBytes;
            if (last)
                break;
            if (onPiece)
                onPiece(status);
        } else {
            if (last)
                break;
            // Asking again for ever would hold a worker on a peer that never ends the file.
            if (++emptyInRow >= kMaxEmptyPieces) {
                closeAtOffset();
                fail(status, true,
                     "The other device sent no data and no end of file at offset " + std::to_string(status.offset) +
                         ".");
                return status;
            }
        }
    }
    if (::close(fd) != 0) {
        fail(status, false, "Failed to write file. " + errnoText(errno));
        return status;
    }
    // rename() replaces an existing destination file in one step.
    if (::rename(partial.c_str(), destination.c_str()) != 0) {
        fail(status, false, "File rename failed. file: " + destination + ". " + errnoText(errno));
        return status;
    }
    status.status = 1;
    if (onComplete)
        onComplete(status);
    return status;
}

TransferFileStatus listRemoteDirectory(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                                       const std::string &fid, const std::string &subpath,
                                       std::vector<DirTaskEntry> *entries)
{
    TransferFileStatus status;
    const HttpResponse res = requestPiece(client, peer, key, fid, subpath, 0, status);
    if (res.status != 200)
        return status;
    JsonPtr list = jsonParse(res.body);
    if (!list || !json_object_is_type(list.get(), json_type_array)) {
        fail(status, true, kBadListing);
        return status;
    }
    std::vector<DirTaskEntry> rows;
    const size_t count = json_object_array_length(list.get());
    rows.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        json_object *item = json_object_array_get_idx(list.get(), i);
        const std::string name = jsonString(item, "subpath");
        // The name becomes part of a path below the save folder.
        if (!isSafeListedName(name)) {
            fail(status, true,
                 std::string(kBadListing) + " A listed name is empty, \".\" or \"..\", or holds \"/\" or NUL.");
            return status;
        }
        DirTaskEntry row;
        row.subpath = subpath.empty() ? name : subpath + "/" + name;
        row.isdir = jsonBool(item, "isdir");
        row.total = jsonInt64(item, "total");
        rows.push_back(std::move(row));
    }
    entries->insert(entries->end(), rows.begin(), rows.end());
    status.status = 1;
    return status;
}
