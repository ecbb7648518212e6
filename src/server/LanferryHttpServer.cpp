#include "LanferryHttpServer.h"

#include "BuiltinCertificate.h"
#include "ReadBufferPool.h"

#include "core/Json.h"
#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"

#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <netinet/tcp.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sys/socket.h>

namespace {

constexpr const char *kText = "text/plain";
constexpr const char *kJson = "application/json";
constexpr const char *kSharingDisabled = "The sharing function has been disabled.";

void answer(ServerAnswer &res, int status, const std::string &body, const char *type = kText)
{
    res.status = status;
    res.set_content(body, type);
}

// Loads the built-in certificate and key into the context and sets the protocol floor.
bool setUpTls(SSL_CTX &ctx)
{
    SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(&ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
    BIO *certBio = BIO_new_mem_buf(builtinCertificatePem(), -1);
    BIO *keyBio = BIO_new_mem_buf(builtinPrivateKeyPem(), -1);
    X509 *cert = certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr;
    EVP_PKEY *key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
    const bool ok = cert && key && SSL_CTX_use_certificate(&ctx, cert) == 1 && SSL_CTX_use_PrivateKey(&ctx, key) == 1 &&
                    SSL_CTX_check_private_key(&ctx) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    return ok;
}

// A sub-path inside a folder record, as a peer may send it: relative, and no
// component that is empty, "." or "..". A backslash is an ordinary character.
bool isAcceptableSubPath(const std::string &subpath)
{
    if (subpath.empty())
        return true;
    if (subpath.front() == '/' || subpath.find('\0') != std::string::npos)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = subpath.find('/', start);
        const std::string part = subpath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

JsonPtr parseBody(const IncomingRequest &req)
{
    return jsonParse(req.body); // not JSON: every key reads as empty
}

} // namespace

LanferryHttpServer::LanferryHttpServer()
{
    const size_t workers = std::max<size_t>(8, static_cast<size_t>(std::max(1, QThread::idealThreadCount())) - 1);
    m_readBuffers = std::make_shared<ReadBufferPool>(workers, static_cast<size_t>(kReadBufferSize));
    m_frontEnd = std::make_unique<HttpsFrontEnd>(
        [this](Request &req, HttpsFrontEnd::Route *r) { return route(req, r); }, workers);
}

LanferryHttpServer::~LanferryHttpServer()
{
    stop();
}

bool LanferryHttpServer::route(Request &req, HttpsFrontEnd::Route *route)
{
    using Pool = HttpsFrontEnd::Pool;
    using Handler = void (LanferryHttpServer::*)(const Request &, Response &);
    struct Fixed {
        const char *method;
        const char *path;
        Handler handler;
        bool password;
        size_t maxBody;
        Pool pool;
    };
    static const Fixed fixed[] = {
        {"GET", "/", &LanferryHttpServer::handleIdentity, true, kMaxSmallBodySize, Pool::Quick},
        {"POST", "/file/read", &LanferryHttpServer::handleFileRead, true, kMaxSmallBodySize, Pool::Work},
        {"POST", "/task/recv", &LanferryHttpServer::handleTaskRecv, true, kMaxBodySize, Pool::Work},
        {"POST", "/task/recv/notif", &LanferryHttpServer::handleTaskNotif, true, kMaxSmallBodySize, Pool::Work},
        {"POST", "/task/recv/progress", &LanferryHttpServer::handleTaskProgress, true, kMaxSmallBodySize, Pool::Work},
        {"POST", "/task/recv/start", &LanferryHttpServer::handleTaskStart, true, kMaxSmallBodySize, Pool::Work},
        {"POST", "/task/recv/stop", &LanferryHttpServer::handleTaskStop, true, kMaxSmallBodySize, Pool::Work},
        {"POST", "/share/files", &LanferryHttpServer::handleShareFiles, true, kMaxSmallBodySize, Pool::Work},
        {"POST", "/share/req", &LanferryHttpServer::handleShareReq, true, kMaxSmallBodySize, Pool::Work},
    };
    Handler handler = nullptr;
    bool password = false;
    for (const Fixed &f : fixed) {
        if (req.method == f.method && req.path == f.path) {
            handler = f.handler;
            password = f.password;
            route->maxBody = f.maxBody;
            route->pool = f.pool;
            break;
        }
    }
    if (!handler && req.method == "GET") {
        // "/file/thumb/<tid>/<fid>" and "/share/thumb/<id>": no password, decoded parameters.
        std::vector<std::string> parts;
        size_t start = 1;
        while (start <= req.path.size()) {
            size_t slash = req.path.find('/', start);
            if (slash == std::string::npos)
                slash = req.path.size();
            parts.push_back(req.path.substr(start, slash - start));
            start = slash + 1;
        }
        for (const std::string &p : parts) {
            if (p.empty())
                return false;
        }
        if (parts.size() == 4 && parts[0] == "file" && parts[1] == "thumb")
            handler = &LanferryHttpServer::handleFileThumb;
        else if (parts.size() == 3 && parts[0] == "share" && parts[1] == "thumb")
            handler = &LanferryHttpServer::handleShareThumb;
        if (!handler)
            return false;
        for (size_t i = 2; i < parts.size(); ++i)
            req.matches.push_back(percentDecode(parts[i]));
        route->maxBody = kMaxSmallBodySize;
        route->pool = Pool::Work;
    }
    if (!handler)
        return false;
    if (password)
        route->beforeBody = [this](const Request &q, Response &r) { return checkPassword(q, r); };
    route->handle = [this, handler](Request &q, Response &r) { (this->*handler)(q, r); };
    return true;
}

bool LanferryHttpServer::checkPassword(const Request &req, Response &res)
{
    std::string error;
    const ServerInfo me = loadServerInfo(&error);
    if (me.uid.empty()) {
        // Without the settings the password is unknown: refuse rather than let everyone in.
        answer(res, 500, error);
        return false;
    }
    if (me.pwd.empty())
        return true;
    if (m_limiter.isBlocked(req.remote_addr)) {
        answer(res, 429, "Too many attempts.");
        return false;
    }
    const QByteArray expected = QCryptographicHash::hash(QByteArray::fromStdString(me.pwd), QCryptographicHash::Sha1);
    const QByteArray given =
        QCryptographicHash::hash(QByteArray::fromStdString(req.get_header_value("X-PWD")), QCryptographicHash::Sha1);
    if (CRYPTO_memcmp(expected.constData(), given.constData(), static_cast<size_t>(expected.size())) == 0)
        return true;
    m_limiter.recordFailure(req.remote_addr);
    answer(res, 401, "Invalid password.");
    return false;
}

void LanferryHttpServer::handleIdentity(const Request &, Response &res)
{
    answer(res, 200, jsonText(serverInfoToJson(loadServerInfo(), false).get()), kJson);
}

void LanferryHttpServer::handleFileRead(const Request &req, Response &res)
{
    const JsonPtr body = parseBody(req);
    const std::string tid = jsonString(body.get(), "tid");
    const std::string fid = jsonString(body.get(), "fid");
    const std::string subpath = jsonString(body.get(), "subpath");
    const int64_t offset = jsonInt64(body.get(), "offset");
    TransferFile file;
    if (!findSendFile(tid, fid, true, &file, res))
        return;
    if (!subpath.empty() && (file.mime != kDirectoryMime || !isAcceptableSubPath(subpath)))
        return answer(res, 403, "Invalid File.");

    // Held until the answer is out; a read waits for a buffer when all are lent.
    const std::shared_ptr<char> buffer = m_readBuffers->take();
    const OnReadFileResult r = onReadFile(tid, file, subpath, offset, buffer.get(), kReadBufferSize);
    if (r.failed)
        return answer(res, 500, r.data);
    if (r.isDir) {
        res.set_header("X-EOF", "1");
        return answer(res, 200, r.data, "inode/directory");
    }
    if (r.eof)
        res.set_header("X-EOF", "1");
    res.status = 200;
    res.contentType = "application/octet-stream";
    res.dataSize = static_cast<size_t>(std::clamp(r.size, 0, kReadBufferSize));
    if (res.dataSize > 0)
        res.data = buffer; // sent straight from the buffer
}

bool LanferryHttpServer::findSendFile(const std::string &tid, const std::string &fid, bool needSharingOn,
                                      TransferFile *file, Response &res)
{
    if (!isValidStoreId(tid) || !isValidStoreId(fid)) {
        answer(res, 404, "Invalid File.");
        return false;
    }
    TaskStore store(true);
    const std::string key = tid + "/" + fid;
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(m_sendFilesMutex);
        const auto it = m_sendFiles.find(key);
        if (it != m_sendFiles.end()) {
            *file = it->second;
            known = true;
        }
    }
    // A removed task takes its folder with it.
    struct stat st {};
    if (known && ::stat((store.taskDir(tid) + "/manifest.db").c_str(), &st) != 0) {
        known = false;
        std::lock_guard<std::mutex> lock(m_sendFilesMutex);
        m_sendFiles.erase(key);
    }
    if (!known) {
        const int found = store.readTaskFile(tid, fid, file);
        if (found <= 0) {
            answer(res, found < 0 ? 500 : 404, found < 0 ? store.lastError() : std::string("Invalid File."));
            return false;
        }
        std::lock_guard<std::mutex> lock(m_sendFilesMutex);
        if (m_sendFiles.size() >= kSendFilesKept)
            m_sendFiles.clear();
        m_sendFiles[key] = *file;
    }
    shareTaskStarted(tid);
    if (!file->shareid.empty()) {
        ShareFilesDb &shares = ShareFilesDb::instance();
        if ((needSharingOn && !shares.isEnabled()) || !shares.hasUid(file->shareid)) {
            answer(res, 403, "Invalid Share-File.");
            return false;
        }
    }
    return true;
}

void LanferryHttpServer::answerThumb(const std::string &path, const Request &req, Response &res)
{
    const OnReadThumbResult r = onReadThumb(path, req.get_param_value("mime"));
    if (r.failed)
        return answer(res, 500, r.data);
    answer(res, 200, r.data, r.mime.c_str());
}

void LanferryHttpServer::handleFileThumb(const Request &req, Response &res)
{
    const std::string tid = req.matches[0];
    const std::string fid = req.matches[1];
    TransferFile file;
    if (!findSendFile(tid, fid, false, &file, res))
        return;
    answerThumb(file.thumb, req, res);
}

void LanferryHttpServer::handleTaskRecv(const Request &req, Response &res)
{
    const JsonPtr body = parseBody(req);
    std::vector<TransferFile> files;
    TransferTask task = transferTaskFromJson(body.get(), &files);
    if (task.uid.empty() || !isValidStoreId(task.uid))
        return answer(res, 403, "Invalid Task.");
    for (TransferFile &f : files) {
        if (!isValidStoreId(f.uid))
            return answer(res, 403, "Invalid Task.");
        // Where a file goes and how far it got are this device's business, never the sender's.
        f.save_path.clear();
        f.status = TransferFileStatus();
    }
    if (task.local_uid != loadServerInfo().uid)
        return answer(res, 403, "Invalid Target.");
    task.from_me = 0;
    task.ip = req.remote_addr;
    if (!m_offers.allow(req.remote_addr))
        return answer(res, 429, "Too many offers.");
    const OnTaskRecvResult taken = onTaskRecv(task, files);
    answer(res, taken.status, taken.text);
}

void LanferryHttpServer::handleTaskNotif(const Request &req, Response &res)
{
    const JsonPtr body = parseBody(req);
    const std::string tid = jsonString(body.get(), "tid");
    const bool accept = jsonBool(body.get(), "accept");
    TaskStore store(true);
    TransferTask task;
    const int found = store.readTask(tid, &task);
    if (found < 0)
        return answer(res, 500, store.lastError());
    if (found == 0)
        return answer(res, 403, "Invalid Task.");
    if (task.local_uid != loadServerInfo().uid)
        return answer(res, 403, "Invalid Target.");
    if (!accept)
        store.deleteTask(tid, 200);
    onTaskNotif(task, accept);
    answer(res, 200, std::string());
}

void LanferryHttpServer::handleTaskProgress(const Request &req, Response &res)
{
    const JsonPtr body = parseBody(req);
    const std::string tid = jsonString(body.get(), "tid");
    const std::string fid = jsonString(body.get(), "fid");
    TransferFileStatus status;
    status.status = jsonInt(body.get(), "status");
    status.remote = jsonBool(body.get(), "remote");
    status.offset = jsonInt64(body.get(), "offset");
    status.error = jsonString(body.get(), "err");
    status.desc = jsonString(body.get(), "desc");
    // Only a file this device sends can be reported on.
    TaskStore store(true);
    TransferFile file;
    if (isValidStoreId(tid) && isValidStoreId(fid) && store.readTaskFile(tid, fid, &file) > 0)
        store.writeFileStatus(tid, fid, status);
    onTaskProgress(tid, fid, status);
    answer(res, 200, std::string());
}

void LanferryHttpServer::handleTaskStart(const Request &req, Response &res)
{
    handleTaskStartStop(req, res, true);
}

void LanferryHttpServer::handleTaskStop(const Request &req, Response &res)
{
    handleTaskStartStop(req, res, false);
}

void LanferryHttpServer::handleTaskStartStop(const Request &req, Response &res, bool start)
{
    const JsonPtr body = parseBody(req);
    const std::string tid = jsonString(body.get(), "tid");
    if (start)
        onTaskStart(tid);
    else
        onTaskStop(tid);
    answer(res, 200, std::string());
}

void LanferryHttpServer::handleShareFiles(const Request &, Response &res)
{
    JsonPtr list(json_object_new_array());
    ShareFilesDb &shares = ShareFilesDb::instance();
    if (shares.isEnabled()) {
        std::vector<ShareFile> entries;
        shares.listFiles(ShareFilesDb::All, &entries);
        for (const ShareFile &e : entries)
            json_object_array_add(list.get(), shareFileToJson(e).release());
    }
    answer(res, 200, jsonText(list.get()), kJson);
}

void LanferryHttpServer::handleShareThumb(const Request &req, Response &res)
{
    // Like the other share routes, nothing is shown while sharing is off.
    ShareFilesDb &shares = ShareFilesDb::instance();
    if (!shares.isEnabled())
        return answer(res, 403, kSharingDisabled);
    ShareFile entry;
    if (!shares.getFile(req.matches[0], &entry))
        return answer(res, 404, "Invalid File.");
    answerThumb(entry.thumb, req, res);
}

void LanferryHttpServer::handleShareReq(const Request &req, Response &res)
{
    ShareFilesDb &shares = ShareFilesDb::instance();
    if (!shares.isEnabled())
        return answer(res, 403, kSharingDisabled);
    const JsonPtr body = parseBody(req);
    json_object *server = nullptr;
    json_object *fids = nullptr;
    if (!body || !json_object_object_get_ex(body.get(), "server", &server) ||
        !json_object_is_type(server, json_type_object) || !json_object_object_get_ex(body.get(), "fids", &fids) ||
        !json_object_is_type(fids, json_type_array) || json_object_array_length(fids) == 0)
        return answer(res, 500, "Invalid Request.");

    // Tasks of requesters that never came for them go; one requester's unstarted ones are capped.
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::string> expired;
    int waiting = 0;
    {
        std::lock_guard<std::mutex> lock(m_shareTasksMutex);
        for (auto it = m_shareTasks.begin(); it != m_shareTasks.end();) {
            if (now - it->second.second >= kShareTaskLifetime) {
                expired.push_back(it->first);
                it = m_shareTasks.erase(it);
                continue;
            }
            waiting += it->second.first == req.remote_addr;
            ++it;
        }
    }
    TaskStore store(true);
    for (const std::string &tid : expired)
        store.deleteTask(tid, 200);
    if (waiting >= kMaxShareTasksPerRequester)
        return answer(res, 429, "Too many share requests.");

    const ServerInfo requester = serverInfoFromJson(server);
    TransferTask task = newOutgoingTask(req.remote_addr, requester.port, requester.uid, requester.name, requester.type);
    std::vector<TransferFile> files;
    for (size_t i = 0; i < json_object_array_length(fids); ++i) {
        const char *fid = json_object_get_string(json_object_array_get_idx(fids, i));
        ShareFile entry;
        if (fid && shares.getFile(fid, &entry))
            onShareFile(task.uid, entry, files);
    }
    if (files.empty())
        return answer(res, 500, "Invalid Request(no files).");
    if (!store.createTask(task, files))
        return answer(res, 500, store.lastError());
    {
        std::lock_guard<std::mutex> lock(m_shareTasksMutex);
        m_shareTasks[task.uid] = {req.remote_addr, now};
    }
    answer(res, 200, jsonText(transferTaskToJson(mirrorForPeer(task, loadServerInfo()), files).get()), kJson);
    onShareReq(req.remote_addr, requester);
}

bool LanferryHttpServer::start()
{
    if (!onReadFile || !onReadThumb || !onServerError || !onTaskRecv || !onTaskProgress || !onTaskNotif ||
        !onTaskStart || !onTaskStop || !onShareFile || !onShareReq) {
        setLastError("Every server callback must be set before the server starts.");
        return false;
    }
    stop();
    const int port = loadServerInfo().port;
    const bool started = m_frontEnd->start(port, setUpTls, [this](int error) {
        setLastError("Server start failed, return " + std::to_string(error));
        onServerError("Server start failed, return " + std::to_string(error));
    });
    if (!started) {
        // Nothing can be served without TLS; report it the way a failed bind is reported.
        setLastError("The built-in TLS certificate cannot be used.");
        onServerError("Server start failed, return " + std::to_string(EINVAL));
        return false;
    }
    return true;
}

void LanferryHttpServer::stop()
{
    m_frontEnd->stop();
}

bool LanferryHttpServer::isListening() const
{
    return m_frontEnd->isListening();
}

std::string LanferryHttpServer::lastError() const
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_lastError;
}

void LanferryHttpServer::shareTaskStarted(const std::string &tid)
{
    std::lock_guard<std::mutex> lock(m_shareTasksMutex);
    m_shareTasks.erase(tid);
}

void LanferryHttpServer::setLastError(std::string text)
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_lastError = std::move(text);
}
