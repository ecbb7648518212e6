#include "LanferryHttpServer.h"

#include "BuiltinCertificate.h"

#include "core/Json.h"
#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"

#include <httplib.h>
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

void answer(httplib::Response &res, int status, const std::string &body, const char *type = kText)
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

// The buffer this worker thread reads chunks into; made once per thread.
// Left uninitialised (only the bytes read are sent): clearing it cost tens of
// milliseconds on a worker's first read and made all of it resident, even on
// workers that only ever serve small files.
char *threadReadBuffer()
{
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer)
        buffer.reset(new char[LanferryHttpServer::kReadBufferSize]);
    return buffer.get();
}

JsonPtr parseBody(const httplib::Request &req)
{
    return jsonParse(req.body); // not JSON: every key reads as empty
}

} // namespace

LanferryHttpServer::LanferryHttpServer()
{
    m_server = std::make_unique<httplib::SSLServer>([](SSL_CTX &ctx) { return setUpTls(ctx); });
    const size_t workers = std::max<size_t>(8, static_cast<size_t>(std::max(1, QThread::idealThreadCount())) - 1);
    m_server->new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    m_server->set_keep_alive_max_count(100);
    m_server->set_keep_alive_timeout(5);
    m_server->set_read_timeout(5, 0);
    m_server->set_write_timeout(5, 0);
    m_server->set_payload_max_length(kMaxBodySize);
    // Only SO_REUSEADDR: a port held by another program must make our bind fail.
    // TCP_NODELAY (taken over by every accepted connection): an answer's last
    // short segment must not wait for the peer's delayed acknowledgement,
    // which cost 40 ms per piece and per small file.
    m_server->set_tcp_nodelay(true);
    m_server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    setUpRoutes();
}

LanferryHttpServer::~LanferryHttpServer()
{
    stop();
}

void LanferryHttpServer::setUpRoutes()
{
    httplib::SSLServer &s = *m_server;
    // Runs before the frame reads the body.
    s.set_pre_routing_handler([](const Request &req, Response &res) {
        // Bodies are read only when their length is known up front, so the size limit always holds.
        if (req.has_header("Transfer-Encoding")) {
            answer(res, 411, "Chunked request bodies are not accepted.");
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        // The frame would inflate a compressed body with no limit on what comes
        // out; no peer of ours compresses.
        const std::string encoding = req.get_header_value("Content-Encoding");
        if (!encoding.empty() && encoding != "identity") {
            answer(res, 415, "Compressed request bodies are not accepted.");
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        // Every body is JSON, whatever its label says. Labelled as a form, the
        // frame would refuse it above 8 KiB and parse it into fields; labelled
        // as multipart, it would split it into parts. Without the label it
        // reads every body whole and raw, up to the size limit. The handler
        // gets a const view, but the request is the frame's own modifiable
        // object for this one exchange.
        const_cast<Request &>(req).headers.erase("Content-Type");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_exception_handler([](const Request &, Response &res, std::exception_ptr ep) {
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "lanferry: request failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "lanferry: request failed\n");
        }
        answer(res, 500, "Internal error.");
    });
    s.set_error_handler([](const Request &, Response &res) {
        if (res.status == 413 && res.body.empty())
            res.set_content("Request body too large.", kText);
    });

    s.Get("/", [this](const Request &q, Response &r) { handleIdentity(q, r); });
    s.Post("/file/read", [this](const Request &q, Response &r) { handleFileRead(q, r); });
    s.Get("/file/thumb/([^/]+)/([^/]+)", [this](const Request &q, Response &r) { handleFileThumb(q, r); });
    s.Post("/task/recv", [this](const Request &q, Response &r) { handleTaskRecv(q, r); });
    s.Post("/task/recv/notif", [this](const Request &q, Response &r) { handleTaskNotif(q, r); });
    s.Post("/task/recv/progress", [this](const Request &q, Response &r) { handleTaskProgress(q, r); });
    s.Post("/task/recv/start", [this](const Request &q, Response &r) { handleTaskStartStop(q, r, true); });
    s.Post("/task/recv/stop", [this](const Request &q, Response &r) { handleTaskStartStop(q, r, false); });
    s.Post("/share/files", [this](const Request &q, Response &r) { handleShareFiles(q, r); });
    s.Post("/share/req", [this](const Request &q, Response &r) { handleShareReq(q, r); });
    s.Get("/share/thumb/([^/]+)", [this](const Request &q, Response &r) { handleShareThumb(q, r); });
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

void LanferryHttpServer::handleIdentity(const Request &req, Response &res)
{
    if (!checkPassword(req, res))
        return;
    answer(res, 200, jsonText(serverInfoToJson(loadServerInfo(), false).get()), kJson);
}

void LanferryHttpServer::handleFileRead(const Request &req, Response &res)
{
    if (!checkPassword(req, res))
        return;
    char *buffer = threadReadBuffer();
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

    const OnReadFileResult r = onReadFile(tid, file, subpath, offset, buffer, kReadBufferSize);
    if (r.failed)
        return answer(res, 500, r.data);
    if (r.isDir) {
        res.set_header("X-EOF", "1");
        return answer(res, 200, r.data, "inode/directory");
    }
    if (r.eof)
        res.set_header("X-EOF", "1");
    res.status = 200;
    const size_t size = static_cast<size_t>(std::clamp(r.size, 0, kReadBufferSize));
    if (size == 0) {
        res.set_content(std::string(), "application/octet-stream");
        return;
    }
    // Sent straight from this worker's buffer, which it does not touch again before the answer is out.
    res.set_content_provider(
        size, "application/octet-stream",
        [buffer](size_t from, size_t length, httplib::DataSink &sink) { return sink.write(buffer + from, length); });
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
    const std::string tid = req.matches[1];
    const std::string fid = req.matches[2];
    TransferFile file;
    if (!findSendFile(tid, fid, false, &file, res))
        return;
    answerThumb(file.thumb, req, res);
}

void LanferryHttpServer::handleTaskRecv(const Request &req, Response &res)
{
    if (!checkPassword(req, res))
        return;
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
    if (!checkPassword(req, res))
        return;
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
    if (!checkPassword(req, res))
        return;
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

void LanferryHttpServer::handleTaskStartStop(const Request &req, Response &res, bool start)
{
    if (!checkPassword(req, res))
        return;
    const JsonPtr body = parseBody(req);
    const std::string tid = jsonString(body.get(), "tid");
    if (start)
        onTaskStart(tid);
    else
        onTaskStop(tid);
    answer(res, 200, std::string());
}

void LanferryHttpServer::handleShareFiles(const Request &req, Response &res)
{
    if (!checkPassword(req, res))
        return;
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
    if (!shares.getFile(req.matches[1], &entry))
        return answer(res, 404, "Invalid File.");
    answerThumb(entry.thumb, req, res);
}

void LanferryHttpServer::handleShareReq(const Request &req, Response &res)
{
    if (!checkPassword(req, res))
        return;
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
    TaskStore store(true);
    if (!store.createTask(task, files))
        return answer(res, 500, store.lastError());
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
    if (!m_server->is_valid()) {
        // The frame cannot serve without TLS; report it the way a failed bind is reported.
        setLastError("The built-in TLS certificate cannot be used.");
        onServerError("Server start failed, return " + std::to_string(EINVAL));
        return false;
    }
    const int port = loadServerInfo().port;
    m_stopping = false;
    m_threadDone = false;
    m_thread = std::make_unique<std::thread>([this, port] { listen(port); });
    return true;
}

void LanferryHttpServer::listen(int port)
{
    errno = 0;
    bool ok = m_server->bind_to_port("0.0.0.0", port);
    int err = errno;
    if (ok) {
        ok = m_server->listen_after_bind();
        err = errno;
    }
    if (!ok && !m_stopping) {
        setLastError("Server start failed, return " + std::to_string(err));
        onServerError("Server start failed, return " + std::to_string(err));
    }
    m_threadDone = true;
}

void LanferryHttpServer::stop()
{
    if (!m_thread)
        return;
    m_stopping = true;
    // The accept loop may not have begun yet; keep closing until the thread is out of it.
    while (!m_threadDone) {
        m_server->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_thread->join();
    m_thread.reset();
}

bool LanferryHttpServer::isListening() const
{
    return m_thread && !m_threadDone && m_server->is_running();
}

std::string LanferryHttpServer::lastError() const
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_lastError;
}

void LanferryHttpServer::setLastError(std::string text)
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_lastError = std::move(text);
}
