// The HTTPS service peers call: task offers and their answers, progress
// reports, start/stop notices, chunked file reads, thumbnails and the share
// routes. It validates requests and reads the stores; everything that needs
// the user or the engine goes to the owner through the ten callbacks, which
// must all be set before start().
#pragma once

#include "HttpExchange.h"
#include "HttpsFrontEnd.h"
#include "PasswordAttemptLimiter.h"
#include "ReadResults.h"
#include "RequestRateLimiter.h"

#include "core/ServerInfo.h"
#include "store/ShareFile.h"
#include "store/TransferRecords.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ReadBufferPool;

class LanferryHttpServer {
public:
    // Chunk size of the protocol and size of each worker's read buffer.
    static constexpr int32_t kReadBufferSize = 10485760;
    // Offers taken from one address per minute; more are answered 429.
    static constexpr int kMaxOffersPerMinute = 16;
    // Send file records remembered between requests (all dropped when full).
    static constexpr size_t kSendFilesKept = 4096;
    // Larger offers (/task/recv) are refused with 413, before any of them is read.
    static constexpr size_t kMaxBodySize = 64u * 1024 * 1024;
    // The same for every other route's body.
    static constexpr size_t kMaxSmallBodySize = 1024 * 1024;
    // Send tasks made for one requester's share requests that it has not
    // started; more requests are answered 429.
    static constexpr int kMaxShareTasksPerRequester = 64;
    // A share request's send task that its requester has not started by then is removed.
    static constexpr std::chrono::seconds kShareTaskLifetime{3600};

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
    // settings, served by threads of its own. A failure to listen is reported later
    // through onServerError. Answers false at once (and does nothing) when a
    // callback is missing or the TLS material is unusable; lastError says why.
    bool start();
    // Closes the listening socket and every connection, and waits for the
    // requests under way. Safe when stopped.
    void stop();
    // True while the accept loop runs.
    bool isListening() const;
    std::string lastError() const;

private:
    using Request = IncomingRequest;
    using Response = ServerAnswer;

    // The route for a request head; false when there is none.
    bool route(Request &req, HttpsFrontEnd::Route *route);
    // False (with the answer set) when the request may not pass.
    bool checkPassword(const Request &req, Response &res);

    void handleIdentity(const Request &req, Response &res);
    void handleFileRead(const Request &req, Response &res);
    void handleFileThumb(const Request &req, Response &res);
    void handleTaskRecv(const Request &req, Response &res);
    void handleTaskNotif(const Request &req, Response &res);
    void handleTaskProgress(const Request &req, Response &res);
    void handleTaskStart(const Request &req, Response &res);
    void handleTaskStop(const Request &req, Response &res);
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

    void setLastError(std::string text);
    // The requester of a share request's task began to read it.
    void shareTaskStarted(const std::string &tid);

    std::unique_ptr<HttpsFrontEnd> m_frontEnd;
    std::shared_ptr<ReadBufferPool> m_readBuffers;
    PasswordAttemptLimiter m_limiter;
    // Offers (each a prompt and a task folder) from one address in a minute.
    RequestRateLimiter m_offers{kMaxOffersPerMinute, std::chrono::minutes(1)};
    // Send file records by "tid/fid": a record never changes while its task
    // exists, and a piece or a small file would otherwise open the task's
    // database once per request.
    std::mutex m_sendFilesMutex;
    std::map<std::string, TransferFile> m_sendFiles;
    // Share requests' send tasks not started yet, by task id: the requester's
    // address and when the task was made.
    std::mutex m_shareTasksMutex;
    std::map<std::string, std::pair<std::string, std::chrono::steady_clock::time_point>> m_shareTasks;
    mutable std::mutex m_errorMutex;
    std::string m_lastError;
};
