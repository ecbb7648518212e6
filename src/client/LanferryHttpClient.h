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
#include <string>
#include <vector>

class LanferryHttpClient {
public:
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

    CURLHelper2 m_helper;
    std::atomic<bool> m_stop{false};
    std::function<bool()> m_cancelled;
    long m_stallSeconds = kDefaultStallSeconds;
};
