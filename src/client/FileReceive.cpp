#include "FileReceive.h"

#include "pathutil/BeneathFs.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr const char *kNoAddress = "Connection failed, please connect the device manually.";
constexpr const char *kFileGone = "The file does not exist. The other device may have deleted the task.";
constexpr const char *kBadListing = "Invalid inode/directory files.";
constexpr const char *kSentTooMuch = "The other device sent more data than it offered.";
// Numbered names tried for a finished file whose name is taken.
constexpr int kMaxNumbered = 10000;

using pathutil::UniqueFd;

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

bool writeAllAt(int fd, const char *p, size_t left, int64_t position)
{
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, p, left, static_cast<off_t>(position));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        position += n;
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

std::string joinPath(const std::string &folder, const std::string &relative)
{
    if (relative.empty())
        return folder;
    return !folder.empty() && folder.back() == '/' ? folder + relative : folder + "/" + relative;
}

std::string folderFailure(const std::string &folder, int err)
{
    if (err == ELOOP || err == ENOTDIR)
        return "Failed to create folder " + folder + ". A link or a file is in the way; links are not followed.";
    return "Failed to create folder " + folder + ". " + errnoText(err);
}

// The save folder the user chose; made again (with its parents) when it went
// missing since.
int openSaveFolder(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT || folder.empty())
        return fd;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// True when the regular file name in dir holds exactly the bytes of fd.
bool holdsSameBytes(int dir, const std::string &name, int fd)
{
    const UniqueFd other(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat a {
    }, b{};
    if (!other.valid() || ::fstat(other.get(), &a) != 0 || ::fstat(fd, &b) != 0 || !S_ISREG(a.st_mode) ||
        a.st_size != b.st_size)
        return false;
    std::vector<char> x(1 << 20), y(1 << 20);
    for (off_t at = 0; at < b.st_size;) {
        const ssize_t n = ::pread(fd, x.data(), x.size(), at);
        if (n <= 0 || ::pread(other.get(), y.data(), static_cast<size_t>(n), at) != n ||
            std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0)
            return false;
        at += n;
    }
    return true;
}

// Gives the finished partial file its name, or the first free numbered name
// when that is taken. A file already there with exactly these bytes is this
// file landed before (the program ended before its status was stored): the
// partial file goes and that name counts. Answers the name, or "" with
// status failed.
std::string landAt(int dir, const std::string &partial, const std::string &name, TransferFileStatus *status)
{
    for (int n = 0; n <= kMaxNumbered; ++n) {
        const std::string candidate = pathutil::numberedName(name, n);
        if (pathutil::renameNoReplace(dir, partial, candidate) == 0)
            return candidate;
        if (errno != EEXIST) {
            fail(*status, false, errnoText(errno));
            return std::string();
        }
        const UniqueFd mine(::openat(dir, partial.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (mine.valid() && holdsSameBytes(dir, candidate, mine.get())) {
            ::unlinkat(dir, partial.c_str(), 0);
            return candidate;
        }
    }
    fail(*status, false, "No free name.");
    return std::string();
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

namespace {

// One "/file/read" request whose body goes to the partial file at offset.
struct Piece {
    LanferryHttpClient *client = nullptr;
    int64_t offset = 0;
    std::thread thread; // not joinable when the piece ran on the caller's thread

    // Set by the request; read by the caller once finished is set.
    std::atomic<bool> cancelled{false};
    int64_t bytes = 0;
    int writeError = 0;
    bool overflow = false; // the answer went past the offered size
    HttpResponse res;
    TransferFileStatus failure;
    bool finished = false; // under Pipeline::mutex
};

// Receives the pieces of one file with up to two requests in flight: as soon
// as a piece's answer announces its length (and no end marker), the next
// piece is asked for on a second connection while the first still arrives.
// Both go straight to their place in the partial file; the confirmed offset
// only ever moves over pieces that are complete, in order.
class Pipeline {
public:
    static constexpr size_t kMaxInFlight = 2;

    Pipeline(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key, const std::string &fid,
             const std::string &subpath, int fd, int64_t limit)
        : m_client(client), m_peer(peer), m_key(key), m_fid(fid), m_subpath(subpath), m_fd(fd), m_limit(limit)
    {
    }
    ~Pipeline() { cancelAll(); }

    // The next piece to handle: the earliest in flight, finished; or, when
    // none is in flight, one asked for at offset on the caller's thread.
    std::unique_ptr<Piece> next(int64_t offset)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_inFlight.empty()) {
            m_inFlight.push_back(makePiece(offset));
            Piece *piece = m_inFlight.back().get();
            lock.unlock();
            run(*piece);
            lock.lock();
        }
        Piece *front = m_inFlight.front().get();
        while (!front->finished) {
            // A stop of the caller's client must also end a request on the other connection.
            if (m_client.isStopped() || (m_client.cancelCheck() && m_client.cancelCheck()()))
                cancelLocked();
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        std::unique_ptr<Piece> piece = std::move(m_inFlight.front());
        m_inFlight.pop_front();
        if (m_waiting && m_inFlight.size() < kMaxInFlight) {
            m_waiting = false;
            start(m_waitingOffset);
        }
        lock.unlock();
        if (piece->thread.joinable())
            piece->thread.join();
        return piece;
    }

    // Ends and forgets every request in flight (their bytes are unconfirmed).
    void cancelAll()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_waiting = false;
        cancelLocked();
        while (!m_inFlight.empty()) {
            std::unique_ptr<Piece> piece = std::move(m_inFlight.front());
            m_inFlight.pop_front();
            while (!piece->finished) {
                piece->client->helper().abort();
                m_changed.wait_for(lock, std::chrono::milliseconds(10));
            }
            lock.unlock();
            if (piece->thread.joinable())
                piece->thread.join();
            lock.lock();
        }
    }

private:
    std::unique_ptr<Piece> makePiece(int64_t offset)
    {
        auto piece = std::make_unique<Piece>();
        piece->offset = offset;
        // The connection that no request in flight uses.
        bool primaryBusy = false;
        for (const auto &p : m_inFlight)
            primaryBusy = primaryBusy || p->client == &m_client;
        if (!primaryBusy) {
            piece->client = &m_client;
        } else {
            if (!m_second) {
                m_second = std::make_unique<LanferryHttpClient>();
                m_second->setCancelCheck(m_client.cancelCheck());
                m_second->setStallTimeout(m_client.stallTimeout());
            }
            piece->client = m_second.get();
        }
        return piece;
    }

    // Under the lock: a request for offset on a thread of its own, or noted
    // for later while two are in flight.
    void start(int64_t offset)
    {
        if (m_inFlight.size() >= kMaxInFlight) {
            m_waiting = true;
            m_waitingOffset = offset;
            return;
        }
        m_inFlight.push_back(makePiece(offset));
        Piece *piece = m_inFlight.back().get();
        piece->thread = std::thread([this, piece] { run(*piece); });
    }

    void cancelLocked()
    {
        for (const auto &p : m_inFlight) {
            p->cancelled = true;
            p->client->helper().abort();
        }
    }

    // The answer's headers are in: when it announces its length and is not
    // the last piece, the piece after it can be asked for now.
    void announced(Piece &piece)
    {
        CURLHelper2 &helper = piece.client->helper();
        const int64_t length = helper.currentContentLength();
        if (length <= 0)
            return;
        for (const auto &header : helper.currentHeaders()) {
            if (strcasecmp(header.first.c_str(), "X-EOF") == 0)
                return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!piece.cancelled && !m_inFlight.empty() && m_inFlight.back().get() == &piece)
            start(piece.offset + length);
    }

    void run(Piece &piece)
    {
        int64_t position = piece.offset;
        bool first = true;
        const CURLHelper2::Sink toDisk = [&](const char *data, size_t size) -> size_t {
            if (piece.cancelled)
                return 0;
            if (first) {
                first = false;
                announced(piece);
            }
            // Never more than was offered: the bytes up to the offered size are kept.
            const bool overflow = position + static_cast<int64_t>(size) > m_limit;
            const size_t take = !overflow ? size : position < m_limit ? static_cast<size_t>(m_limit - position) : 0;
            // One writer at a time: two writers to one file only spin on the kernel's lock of it.
            std::unique_lock<std::mutex> writing(m_writeMutex);
            if (take > 0 && !writeAllAt(m_fd, data, take, position)) {
                piece.writeError = errno ? errno : EIO;
                return 0;
            }
            writing.unlock();
            position += static_cast<int64_t>(take);
            piece.bytes += static_cast<int64_t>(take);
            if (overflow) {
                piece.overflow = true;
                return 0;
            }
            return size;
        };
        TransferFileStatus failure;
        HttpResponse res;
        if (piece.cancelled) {
            failure.status = -1;
            failure.remote = true;
            failure.error = std::string("CURL: ") + curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK);
        } else {
            res = requestPiece(*piece.client, m_peer, m_key, m_fid, m_subpath, piece.offset, failure, &toDisk);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        piece.res = std::move(res);
        piece.failure = std::move(failure);
        piece.finished = true;
        m_changed.notify_all();
    }

    LanferryHttpClient &m_client;
    std::unique_ptr<LanferryHttpClient> m_second;
    const PeerEndpoint &m_peer;
    const TaskKey &m_key;
    const std::string &m_fid;
    const std::string &m_subpath;
    const int m_fd;
    const int64_t m_limit;

    std::mutex m_writeMutex;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Piece>> m_inFlight; // in file order
    bool m_waiting = false;
    int64_t m_waitingOffset = 0;
};

} // namespace

namespace {

// The partial file of one received file, open beside its destination.
struct PartialFile {
    std::string destination;
    std::string parentRelative; // the destination's folder below the save folder
    std::string name;           // the destination's own name
    UniqueFd parent;
    std::string leaf; // the partial file's name in parent
    int fd = -1;
};

// Opens the partial file of target (creating it and its folders as needed),
// keeping status.offset bytes of it when it exists (fewer when it is
// shorter) and dropping the rest. False with status failed.
bool openPartial(const ReceiveTarget &target, const TaskKey &key, const std::string &fid, const std::string &subpath,
                 PartialFile *file, TransferFileStatus &status)
{
    file->destination = joinPath(target.folder, target.relative);
    file->name = target.relative;
    const size_t slash = target.relative.rfind('/');
    if (slash != std::string::npos) {
        file->parentRelative = target.relative.substr(0, slash);
        file->name = target.relative.substr(slash + 1);
    }
    if (target.folder.empty() || target.relative.empty()) {
        fail(status, false, "The file has no save path.");
        return false;
    }
    const UniqueFd root(openSaveFolder(target.folder));
    if (!root.valid()) {
        fail(status, false, "Failed to open folder " + target.folder + ". " + errnoText(errno));
        return false;
    }
    // Every folder below the save folder is entered without following a link.
    file->parent = UniqueFd(pathutil::makeFoldersBeneath(root.get(), file->parentRelative));
    if (!file->parent.valid()) {
        fail(status, false, folderFailure(joinPath(target.folder, file->parentRelative), errno));
        return false;
    }
    file->leaf = partialFileName(file->name, key.tid, fid, subpath);
    const std::string partial = joinPath(parentFolder(file->destination), file->leaf);

    struct stat st {};
    // A recorded offset without its partial file is worthless.
    if (status.offset > 0 && ::fstatat(file->parent.get(), file->leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        status.offset = 0;

    // Never write through a link or into a pipe or device planted at the partial file's name.
    const int fd =
        ::openat(file->parent.get(), file->leaf.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(status, false, "Failed to open file " + partial + ". " + errnoText(errno));
        return false;
    }
    int statErr = 0;
    if (::fstat(fd, &st) != 0)
        statErr = errno;
    if (statErr || !S_ISREG(st.st_mode)) {
        const int err = statErr;
        ::close(fd);
        fail(status, false, "Failed to open file " + partial + ". " + (err ? errnoText(err) : "Not a regular file"));
        return false;
    }
    // Bytes beyond the recorded offset were never confirmed: past the end of
    // the partial file there is nothing to resume (the hole would count as
    // received), and a stale tail would survive a shorter final file.
    if (status.offset > st.st_size)
        status.offset = st.st_size;
    if (st.st_size > status.offset && ::ftruncate(fd, status.offset) != 0) {
        const int err = errno;
        ::close(fd);
        fail(status, false, "Failed to initialize the file open,  " + partial + ". " + errnoText(err));
        return false;
    }
    file->fd = fd;
    return true;
}

// Cuts the complete partial file to status.offset bytes (unless it holds
// exactly those: cut false), closes it and gives it its name. False with
// status failed.
bool landPartial(PartialFile &file, TransferFileStatus &status, std::string *landed, bool cut = true)
{
    const int fd = file.fd;
    file.fd = -1;
    if ((cut && ::ftruncate(fd, status.offset) != 0) || ::close(fd) != 0) {
        fail(status, false, "Failed to write file. " + errnoText(errno));
        return false;
    }
    // Whatever holds the name now is never replaced.
    const std::string leaf = landAt(file.parent.get(), file.leaf, file.name, &status);
    if (leaf.empty()) {
        status.error = "File rename failed. file: " + file.destination + ". " + status.error;
        return false;
    }
    if (landed)
        *landed = file.parentRelative.empty() ? leaf : file.parentRelative + "/" + leaf;
    return true;
}

} // namespace

TransferFileStatus receiveFile(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                               const std::string &fid, const std::string &subpath, int64_t offset,
                               const ReceiveTarget &target, const FileStatusCallback &onPiece,
                               const FileStatusCallback &onComplete, std::string *landed)
{
    TransferFileStatus status;
    status.offset = offset > 0 ? offset : 0;

    PartialFile file;
    if (!openPartial(target, key, fid, subpath, &file, status))
        return status;
    const int fd = file.fd;
    // Piece bytes go to the disk as they arrive; offset moves on only when
    // the whole piece is there, and a resume drops whatever lies beyond it.
    Pipeline pipeline(client, peer, key, fid, subpath, fd, std::max<int64_t>(target.total, 0));
    // On failure the partial file keeps exactly the confirmed bytes.
    const auto closeAtOffset = [&] {
        pipeline.cancelAll();
        if (::ftruncate(fd, status.offset) != 0) {
            // Harmless: the next attempt cuts it at its recorded offset.
        }
        ::close(fd);
    };
    int emptyInRow = 0;
    for (;;) {
        const std::unique_ptr<Piece> piece = pipeline.next(status.offset);
        const HttpResponse &res = piece->res;
        if (piece->overflow && !piece->writeError) {
            status.offset += piece->bytes;
            closeAtOffset();
            fail(status, true, kSentTooMuch);
            return status;
        }
        if (piece->writeError) {
            closeAtOffset();
            fail(status, false, "Failed to write file. " + errnoText(piece->writeError));
            return status;
        }
        if (res.status != 200) {
            const TransferFileStatus failure = piece->failure;
            closeAtOffset();
            fail(status, failure.remote, failure.error);
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
        if (piece->bytes > 0) {
            emptyInRow = 0;
            status.offset += piece->bytes;
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
    // Nothing can be in flight after the last piece (none is asked for past
    // an end marker); a piece asked for too early is dropped all the same.
    pipeline.cancelAll();
    if (!landPartial(file, status, landed))
        return status;
    status.status = 1;
    if (onComplete)
        onComplete(status);
    return status;
}

TransferFileStatus landWholeFile(const HttpResponse &answer, bool overflow, const TaskKey &key, const std::string &fid,
                                 const std::string &subpath, const ReceiveTarget &target, std::string *landed)
{
    TransferFileStatus status;
    if (overflow) {
        fail(status, true, kSentTooMuch);
        return status;
    }
    const int64_t size = static_cast<int64_t>(answer.body.size());
    if (answer.status != 200) {
        fail(status, true, (answer.status == 403 || answer.status == 404) ? std::string(kFileGone) : answer.body);
        return status;
    }
    const auto eof = answer.headers.find("X-EOF");
    if (eof == answer.headers.end())
        return status;
    const std::optional<int64_t> last = strictDecimal(eof->second);
    if (!last) {
        fail(status, true, "The other device sent an invalid X-EOF value: " + eof->second + ".");
        return status;
    }
    if (*last <= 0)
        return status;
    PartialFile file;
    if (!openPartial(target, key, fid, subpath, &file, status))
        return status;
    if (size > 0 && !writeAllAt(file.fd, answer.body.data(), answer.body.size(), 0)) {
        const int err = errno ? errno : EIO;
        ::close(file.fd);
        fail(status, false, "Failed to write file. " + errnoText(err));
        return status;
    }
    status.offset = size;
    // Opened empty, written once: it holds exactly the answer.
    if (!landPartial(file, status, landed, false))
        return status;
    status.status = 1;
    return status;
}

TransferFileStatus makeReceiveFolder(const std::string &folder, const std::string &relative)
{
    TransferFileStatus status;
    const UniqueFd root(openSaveFolder(folder));
    if (folder.empty() || !root.valid()) {
        fail(status, false, "Failed to open folder " + folder + ". " + errnoText(folder.empty() ? ENOENT : errno));
        return status;
    }
    if (!UniqueFd(pathutil::makeFoldersBeneath(root.get(), relative)).valid()) {
        fail(status, false, folderFailure(joinPath(folder, relative), errno));
        return status;
    }
    status.status = 1;
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
    // Entry by entry: a folder of 100,000 files must not become one JSON tree.
    std::vector<DirTaskEntry> rows;
    // At most one row per object in the text: no regrowth of a large listing.
    rows.reserve(static_cast<size_t>(std::count(res.body.begin(), res.body.end(), '{')));
    bool unsafeName = false;
    const bool listed = jsonForEachInArray(res.body, [&](json_object *item) {
        const std::string name = jsonString(item, "subpath");
        // The name becomes part of a path below the save folder.
        if (!isSafeListedName(name)) {
            unsafeName = true;
            return false;
        }
        DirTaskEntry row;
        row.subpath = subpath.empty() ? name : subpath + "/" + name;
        row.isdir = jsonBool(item, "isdir");
        row.total = jsonInt64(item, "total");
        rows.push_back(std::move(row));
        return true;
    });
    if (unsafeName) {
        fail(status, true,
             std::string(kBadListing) + " A listed name is empty, \".\" or \"..\", or holds \"/\" or NUL.");
        return status;
    }
    if (!listed) {
        fail(status, true, kBadListing);
        return status;
    }
    if (entries->empty())
        entries->swap(rows);
    else
        entries->insert(entries->end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    status.status = 1;
    return status;
}
