// The calls this device makes to other devices' HTTPS service, one method per
// route, each answering an HttpResponse. Owns one CURLHelper2, so a client is
// used by one thread at a time and reuses its connection between calls.
#pragma once

#include "CURLHelper2.h"
#include "PeerEndpoint.h"

#include "core/ServerInfo.h"
#include "store/TransferRecords.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class LanferryHttpClient {
public:
    LanferryHttpClient();
    ~LanferryHttpClient();
    LanferryHttpClient(const LanferryHttpClient &) = delete;
    LanferryHttpClient &operator=(const LanferryHttpClient &) = delete;

    static constexpr long kConnectTimeoutSeconds = 5;
    // A peer that sends nothing for this long while a request runs ends it.
    static constexpr long kDefaultStallSeconds = 30;
    // libcurl's receive buffer while a body streams to a sink.
    static constexpr long kStreamBufferSize = 256 * 1024;

    // GET "/". On 200 the body is read into *info; otherwise *info is untouched.
    HttpResponse getInfo(const PeerEndpoint &peer, ServerInfo *info);
    // One piece of a file (from offset) or a folder listing.
    HttpResponse fileRead(const PeerEndpoint &peer, const std::string &tid, const std::string &fid,
                          const std::string &subpath, int64_t offset);
    // fileRead handing the body of a 200 answer to sink as it arrives instead
    // of keeping it (the answer's body is then empty); any other answer's body
    // is kept as usual. A sink that takes fewer bytes than given ends the request.
    HttpResponse fileRead(const PeerEndpoint &peer, const std::string &tid, const std::string &fid,
                          const std::string &subpath, int64_t offset, const CURLHelper2::Sink &sink);
    // One file of fileReadWhole: its first piece, kept in memory up to limit
    // bytes (the size the sender offered).
    struct WholeRead {
        std::string fid;
        std::string subpath;
        int64_t limit = 0;
    };
    // The most requests fileReadWhole runs at once.
    static constexpr size_t kWholeInFlight = 4;
    // "/file/read" from offset 0 for several files of a task, up to inFlight
    // (at most kWholeInFlight) at once, each request on a connection of its own that is kept for the next call, so
    // that the round trips of small files overlap. Each answer is handed to
    // done(index, answer) on the calling thread as soon as it is complete,
    // while the others go on; a 200 answer that goes past limit bytes ends
    // there, with overflow set (and status -1); any other answer's body is
    // kept up to 64 KiB. When done answers false, or on abort() or cancel,
    // no further request starts and those running are dropped: reads never
    // handed to done were not received.
    void fileReadWhole(const PeerEndpoint &peer, const std::string &tid, const std::vector<WholeRead> &reads,
                       size_t inFlight,
                       const std::function<bool(size_t index, HttpResponse &answer, bool overflow)> &done);
    // Offers a task; pass the peer-side copy (mirrorForPeer) and its files.
    HttpResponse taskRecv(const PeerEndpoint &peer, const TransferTask &task, const std::vector<TransferFile> &files);
    HttpResponse taskRecvNotif(const PeerEndpoint &peer, const std::string &tid, bool accept);
    // Sends the status as given; the caller decides whose side "remote" names.
    HttpResponse taskRecvProgress(const PeerEndpoint &peer, const std::string &tid, const std::string &fid,
                                  const TransferFileStatus &status);
    HttpResponse taskRecvStart(const PeerEndpoint &peer, const std::string &tid);
    HttpResponse taskRecvStop(const PeerEndpoint &peer, const std::string &tid);
    HttpResponse shareFiles(const PeerEndpoint &peer);
    // Sends this device's identity (password masked) with the wanted share ids.
    HttpResponse shareReq(const PeerEndpoint &peer, const std::vector<std::string> &fids);

    // Any thread: sets the stop flag and ends the running request with status
    // -1. Both are cleared when the next request starts.
    void abort();
    // Set by abort() since the current request started; operations made of
    // several requests check it between them.
    bool isStopped() const { return m_stop; }

    // Asked when a request starts: while it answers true, requests fail at
    // once with status -1 instead of reaching the network. Lets the owner of a
    // job cancel it even between two requests, where abort() alone would be
    // cleared by the next request.
    void setCancelCheck(std::function<bool()> cancelled) { m_cancelled = std::move(cancelled); }
    const std::function<bool()> &cancelCheck() const { return m_cancelled; }
    void setStallTimeout(long seconds) { m_stallSeconds = seconds; }
    long stallTimeout() const { return m_stallSeconds; }

    CURLHelper2 &helper() { return m_helper; }

    // "https://host:port/path".
    static std::string url(const PeerEndpoint &peer, const std::string &path);

private:
    HttpResponse request(bool isPost, const PeerEndpoint &peer, const std::string &path, const std::string &body,
                         const CURLHelper2::Sink *okBodySink = nullptr);
    // Prepares helper for a request; false when it cannot run (no handle, or
    // cancelled: res then tells why).
    bool setUp(CURLHelper2 &helper, bool isPost, const PeerEndpoint &peer, const std::string &path,
               const std::string &body, bool streaming, HttpResponse *res);
    bool cancelled() const { return m_stop || (m_cancelled && m_cancelled()); }

    CURLHelper2 m_helper;
    // fileReadWhole's connections: a multi handle and its easy handles.
    struct Multi;
    std::unique_ptr<Multi> m_multi;
    std::atomic<bool> m_stop{false};
    std::function<bool()> m_cancelled;
    long m_stallSeconds = kDefaultStallSeconds;
};
