#include "LanferryHttpClient.h"

#include <curl/curl.h>

#include <algorithm>

namespace {

std::string tidBody(const std::string &tid)
{
    JsonPtr obj(json_object_new_object());
    jsonAdd(obj.get(), "tid", tid);
    return jsonText(obj.get());
}

std::string fileReadBody(const std::string &tid, const std::string &fid, const std::string &subpath, int64_t offset)
{
    JsonPtr obj(json_object_new_object());
    jsonAdd(obj.get(), "tid", tid);
    jsonAdd(obj.get(), "fid", fid);
    jsonAdd(obj.get(), "subpath", subpath);
    jsonAddInt64(obj.get(), "offset", offset);
    return jsonText(obj.get());
}

} // namespace

std::string LanferryHttpClient::url(const PeerEndpoint &peer, const std::string &path)
{
    return "https://" + peer.host + ":" + std::to_string(peer.port) + path;
}

void LanferryHttpClient::abort()
{
    m_stop = true;
    m_helper.abort();
}

bool LanferryHttpClient::setUp(CURLHelper2 &helper, bool isPost, const PeerEndpoint &peer, const std::string &path,
                               const std::string &body, bool streaming, HttpResponse *res)
{
    // "X-PWD:" followed by nothing makes libcurl leave the header out.
    std::vector<std::string> headers{"X-PWD: " + peer.pwd};
    // Every body is JSON; unlabelled, libcurl would call it a form.
    if (!body.empty())
        headers.push_back("Content-Type: application/json");
    if (!helper.prepare(url(peer, path), body, headers)) {
        helper.setStatusCode(-1);
        res->status = -1;
        res->body = std::string("CURL: ") + curl_easy_strerror(CURLE_FAILED_INIT);
        return false;
    }
    CURL *h = helper.handle();
    if (isPost) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        if (body.empty()) {
            // Never let libcurl fall back to reading a body from stdin.
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, "");
        }
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, m_stallSeconds);
    // Pieces arrive in bigger gulps: fewer calls and writes per piece.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, streaming ? kStreamBufferSize : static_cast<long>(CURL_MAX_WRITE_SIZE));
    // Checked after prepare() cleared the abort flag, so a cancel that came
    // just before is not lost.
    if (m_cancelled && m_cancelled()) {
        helper.setStatusCode(-1);
        res->status = -1;
        res->body = std::string("CURL: ") + curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK);
        return false;
    }
    return true;
}

HttpResponse LanferryHttpClient::request(bool isPost, const PeerEndpoint &peer, const std::string &path,
                                         const std::string &body, const CURLHelper2::Sink *okBodySink)
{
    m_stop = false;
    HttpResponse res;
    if (!setUp(m_helper, isPost, peer, path, body, okBodySink != nullptr, &res))
        return res;
    CURL *h = m_helper.handle();
    const bool ok = m_helper.perform([&res, h, okBodySink](const char *data, size_t size) {
        if (okBodySink) {
            // The final answer's headers are in before its first body byte.
            long code = 0;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
            if (code == 200)
                return (*okBodySink)(data, size);
        }
        res.body.append(data, size);
        return size;
    });
    if (!ok) {
        m_helper.setStatusCode(-1);
        res.status = -1;
        res.body = m_helper.errorString();
    } else {
        res.status = m_helper.statusCode();
    }
    res.headers = m_helper.responseHeaders();
    return res;
}

// A multi handle (whose connection cache outlives each call) and one easy
// handle per request in flight.
struct LanferryHttpClient::Multi {
    struct Slot {
        CURLHelper2 helper;
        size_t index = 0;
        int64_t limit = 0;
        bool overflow = false;
        HttpResponse answer;
        CURLHelper2::Sink sink;
    };
    CURLM *handle = curl_multi_init();
    std::vector<std::unique_ptr<Slot>> slots;

    ~Multi()
    {
        for (const auto &slot : slots) {
            if (slot->helper.handle())
                curl_multi_remove_handle(handle, slot->helper.handle());
        }
        slots.clear();
        if (handle)
            curl_multi_cleanup(handle);
    }
};

LanferryHttpClient::LanferryHttpClient() = default;
LanferryHttpClient::~LanferryHttpClient() = default;

void LanferryHttpClient::fileReadWhole(
    const PeerEndpoint &peer, const std::string &tid, const std::vector<WholeRead> &reads, size_t inFlight,
    const std::function<bool(size_t index, HttpResponse &answer, bool overflow)> &done)
{
    constexpr size_t kMaxErrorBody = 64 * 1024;
    m_stop = false;
    if (!m_multi)
        m_multi = std::make_unique<Multi>();
    Multi &multi = *m_multi;
    if (!multi.handle)
        return;
    const size_t slots = std::max<size_t>(1, std::min({inFlight, kWholeInFlight, reads.size()}));
    while (multi.slots.size() < slots)
        multi.slots.push_back(std::make_unique<Multi::Slot>());

    std::vector<Multi::Slot *> idle;
    for (size_t i = 0; i < slots; ++i)
        idle.push_back(multi.slots[i].get());
    size_t next = 0;
    size_t running = 0;
    bool stopped = false;
    // Starts reads[next] on an idle slot; false when it could not start (its
    // answer then tells why and is handed over like any other).
    const auto start = [&](Multi::Slot *slot) {
        slot->index = next;
        slot->limit = std::max<int64_t>(reads[next].limit, 0);
        // The body's buffer is kept from the last file: no growing it again.
        slot->answer.status = -1;
        slot->answer.body.clear();
        slot->answer.headers.clear();
        slot->overflow = false;
        const WholeRead &read = reads[next++];
        if (!setUp(slot->helper, true, peer, "/file/read", fileReadBody(tid, read.fid, read.subpath, 0),
                   slot->limit > kStreamBufferSize / 4, &slot->answer))
            return false;
        CURL *h = slot->helper.handle();
        slot->sink = [slot, h](const char *data, size_t size) -> size_t {
            long code = 0;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
            std::string &body = slot->answer.body;
            const size_t cap = code == 200 ? static_cast<size_t>(slot->limit) : kMaxErrorBody;
            const size_t take = std::min(size, cap - std::min(cap, body.size()));
            if (body.capacity() < cap && code == 200)
                body.reserve(cap);
            body.append(data, take);
            slot->overflow = code == 200 && take < size;
            return take;
        };
        slot->helper.attach(slot->sink);
        if (curl_multi_add_handle(multi.handle, h) != CURLM_OK) {
            slot->answer.status = -1;
            slot->answer.body = std::string("CURL: ") + curl_easy_strerror(CURLE_FAILED_INIT);
            return false;
        }
        ++running;
        return true;
    };
    const auto hand = [&](Multi::Slot *slot) {
        idle.push_back(slot);
        if (!stopped && !done(slot->index, slot->answer, slot->overflow))
            stopped = true;
    };

    while (!stopped) {
        if (cancelled())
            break;
        while (!stopped && !idle.empty() && next < reads.size()) {
            Multi::Slot *slot = idle.back();
            idle.pop_back();
            if (!start(slot))
                hand(slot);
        }
        if (running == 0)
            break;
        int active = 0;
        curl_multi_perform(multi.handle, &active);
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(multi.handle, &queued)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            CURL *h = msg->easy_handle;
            const CURLcode code = msg->data.result;
            curl_multi_remove_handle(multi.handle, h);
            --running;
            const auto it = std::find_if(multi.slots.begin(), multi.slots.end(),
                                         [h](const auto &slot) { return slot->helper.handle() == h; });
            Multi::Slot *slot = it->get();
            HttpResponse &answer = slot->answer;
            if (!slot->helper.finish(code)) {
                slot->helper.setStatusCode(-1);
                answer.status = -1;
                answer.body = slot->helper.errorString();
            } else {
                answer.status = slot->helper.statusCode();
            }
            answer.headers = slot->helper.responseHeaders();
            hand(slot);
        }
        if (running > 0 && !stopped)
            curl_multi_poll(multi.handle, nullptr, 0, 50, nullptr);
    }
    // Whatever still runs is dropped; its connection closes with it.
    for (size_t i = 0; i < slots; ++i) {
        CURLHelper2 &helper = multi.slots[i]->helper;
        if (std::find(idle.begin(), idle.end(), multi.slots[i].get()) == idle.end() && helper.handle())
            curl_multi_remove_handle(multi.handle, helper.handle());
    }
}

HttpResponse LanferryHttpClient::getInfo(const PeerEndpoint &peer, ServerInfo *info)
{
    HttpResponse res = request(false, peer, "/", std::string());
    if (res.status == 200 && info) {
        JsonPtr obj = jsonParse(res.body);
        *info = serverInfoFromJson(obj.get());
    }
    return res;
}

HttpResponse LanferryHttpClient::fileRead(const PeerEndpoint &peer, const std::string &tid, const std::string &fid,
                                          const std::string &subpath, int64_t offset)
{
    return request(true, peer, "/file/read", fileReadBody(tid, fid, subpath, offset));
}

HttpResponse LanferryHttpClient::fileRead(const PeerEndpoint &peer, const std::string &tid, const std::string &fid,
                                          const std::string &subpath, int64_t offset, const CURLHelper2::Sink &sink)
{
    return request(true, peer, "/file/read", fileReadBody(tid, fid, subpath, offset), &sink);
}

HttpResponse LanferryHttpClient::taskRecv(const PeerEndpoint &peer, const TransferTask &task,
                                          const std::vector<TransferFile> &files)
{
    JsonPtr obj = transferTaskToJson(task, files);
    return request(true, peer, "/task/recv", jsonText(obj.get()));
}

HttpResponse LanferryHttpClient::taskRecvNotif(const PeerEndpoint &peer, const std::string &tid, bool accept)
{
    JsonPtr obj(json_object_new_object());
    jsonAdd(obj.get(), "tid", tid);
    jsonAddBool(obj.get(), "accept", accept);
    return request(true, peer, "/task/recv/notif", jsonText(obj.get()));
}

HttpResponse LanferryHttpClient::taskRecvProgress(const PeerEndpoint &peer, const std::string &tid,
                                                  const std::string &fid, const TransferFileStatus &status)
{
    JsonPtr obj(json_object_new_object());
    jsonAdd(obj.get(), "tid", tid);
    jsonAdd(obj.get(), "fid", fid);
    jsonAddInt(obj.get(), "status", status.status);
    jsonAddBool(obj.get(), "remote", status.remote);
    jsonAddInt64(obj.get(), "offset", status.offset);
    jsonAdd(obj.get(), "err", status.error);
    jsonAdd(obj.get(), "desc", status.desc);
    return request(true, peer, "/task/recv/progress", jsonText(obj.get()));
}

HttpResponse LanferryHttpClient::taskRecvStart(const PeerEndpoint &peer, const std::string &tid)
{
    return request(true, peer, "/task/recv/start", tidBody(tid));
}

HttpResponse LanferryHttpClient::taskRecvStop(const PeerEndpoint &peer, const std::string &tid)
{
    return request(true, peer, "/task/recv/stop", tidBody(tid));
}

HttpResponse LanferryHttpClient::shareFiles(const PeerEndpoint &peer)
{
    return request(true, peer, "/share/files", "{}");
}

HttpResponse LanferryHttpClient::shareReq(const PeerEndpoint &peer, const std::vector<std::string> &fids)
{
    JsonPtr obj(json_object_new_object());
    json_object_object_add(obj.get(), "server", serverInfoToJson(loadServerInfo(), true).release());
    json_object *list = json_object_new_array();
    for (const std::string &fid : fids)
        json_object_array_add(list, json_object_new_string_len(fid.data(), static_cast<int>(fid.size())));
    json_object_object_add(obj.get(), "fids", list);
    return request(true, peer, "/share/req", jsonText(obj.get()));
}
