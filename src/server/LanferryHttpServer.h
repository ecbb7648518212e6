// The HTTPS service peers call: task offers and their answers, progress
// reports, start/stop notices, chunked file reads, thumbnails and the share
// routes. It validates requests and reads the stores; everything that needs
// the user or the engine goes to the owner through the ten callbacks, which
// must all be set before start().
#pragma once

#include "PasswordAttemptLimiter.h"
#include "RequestRateLimiter.h"
#include "ReadResults.h"

#include "core/ServerInfo.h"
#include "store/ShareFile.h"
#include "store/TransferRecords.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class SSLServer;
struct Request;
struct Response;
} // namespace httplib

class LanferryHttpServer {
public:
    // Chunk size of the protocol and size of each worker's read buffer.
    static constexpr int32_t kReadBufferSize = 10485760;
    // Offers taken from one address per minute; more are answered 429.
    static constexpr int kMaxOffersPerMinute = 16;
    // Send file records remembered between requests (all dropped when full).
    static constexpr size_t kSendFilesKept = 4096;
    // Larger request bodies are refused with 413.
    static constexpr size_t kMaxBodySize = 64u * 1024 * 1024;

    std::function<OnReadFileResult(const std::string &tid, const TransferFile &file, const std::string &subpath,
                                   int64_t offset, char *buffer, int32_t size)>
        onReadFile;
    std::function<OnReadThumbResult(const std::string &path, const std::string &mime)> onReadThumb;
    std::function<void(const std::string &message)> onServerError;
    std::function<OnTaskRecvResult(const TransferTask &task, const std::vector<TransferFile> &files)> onTaskRecv;
    std::function<void(const std::string &tid, const std::string &fid, const TransferFileStatus &status)>
        onTaskProgress;
    std::function<void(const TransferTask &task, bool accepted)> onTaskNotif;
    std::function<void(const std::string &tid)> onTaskStart;
    std::function<void(const std::string &tid)> onTaskStop;
    std::function<void(const std::string &tid, const ShareFile &entry, std::vector<TransferFile> &files)> onShareFile;
    std::function<void(const std::string &address, const ServerInfo &requester)> onShareReq;

    LanferryHttpServer();
    ~LanferryHttpServer();
    LanferryHttpServer(const LanferryHttpServer &) = delete;
    LanferryHttpServer &operator=(const LanferryHttpServer &) = delete;

    // Stops, then listens on all IPv4 interfaces at the port now in the
    // settings, on a thread of its own. A failure to listen is reported later
    // through onServerError. Answers false at once (and does nothing) when a
    // callback is missing or the TLS material is unusable; lastError says why.
    bool start();
    // Closes the listening socket and joins the listening thread. Safe when stopped.
    void stop();
    // True while the accept loop runs.
    bool isListening() const;
    std::string lastError() const;

private:
    using Request = httplib::Request;
    using Response = httplib::Response;

    void setUpRoutes();
    // False (with the answer set) when the request may not pass.
    bool checkPassword(const Request &req, Response &res);

    void handleIdentity(const Request &req, Response &res);
    void handleFileRead(const Request &req, Response &res);
    void handleFileThumb(const Request &req, Response &res);
    void handleTaskRecv(const Request &req, Response &res);
    void handleTaskNotif(const Request &req, Response &res);
    void handleTaskProgress(const Request &req, Response &res);
    void handleTaskStartStop(const Request &req, Response &res, bool start);
    void handleShareFiles(const Request &req, Response &res);
    void handleShareThumb(const Request &req, Response &res);
    void handleShareReq(const Request &req, Response &res);
    void answerThumb(const std::string &path, const Request &req, Response &res);
    // The record of a file this device sends, or false with the answer set: 404 for an
    // unknown id, 500 for a store error, 403 for a shared entry that is gone (or, with
    // needSharingOn, while sharing is off).
    bool findSendFile(const std::string &tid, const std::string &fid, bool needSharingOn, TransferFile *file,
                      Response &res);

    void listen(int port);
    void setLastError(std::string text);

    std::unique_ptr<httplib::SSLServer> m_server;
    std::unique_ptr<std::thread> m_thread;
    std::atomic<bool> m_threadDone{true};
    std::atomic<bool> m_stopping{false};
    PasswordAttemptLimiter m_limiter;
    // Offers (each a prompt and a task folder) from one address in a minute.
    RequestRateLimiter m_offers{kMaxOffersPerMinute, std::chrono::minutes(1)};
    // Send file records by "tid/fid": a record never changes while its task
    // exists, and a piece or a small file would otherwise open the task's
    // database once per request.
    std::mutex m_sendFilesMutex;
    std::map<std::string, TransferFile> m_sendFiles;
    mutable std::mutex m_errorMutex;
    std::string m_lastError;
};
