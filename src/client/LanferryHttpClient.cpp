#include "LanferryHttpClient.h"

#include <curl/curl.h>

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

HttpResponse LanferryHttpClient::request(bool isPost, const PeerEndpoint &peer, const std::string &path,
                                         const std::string &body, const CURLHelper2::Sink *okBodySink)
{
    m_stop = false;
    // "X-PWD:" followed by nothing makes libcurl leave the header out.
    std::vector<std::string> headers{"X-PWD: " + peer.pwd};
    // Every body is JSON; unlabelled, libcurl would call it a form.
    if (!body.empty())
        headers.push_back("Content-Type: application/json");
    HttpResponse res;
    bool ok = false;
    if (m_helper.prepare(url(peer, path), body, headers)) {
        CURL *h = m_helper.handle();
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
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE,
                         okBodySink ? kStreamBufferSize : static_cast<long>(CURL_MAX_WRITE_SIZE));
        // Checked after prepare() cleared the abort flag, so a cancel that
        // came just before is not lost.
        if (m_cancelled && m_cancelled()) {
            res.status = -1;
            m_helper.setStatusCode(-1);
            res.body = std::string("CURL: ") + curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK);
            return res;
        }
        ok = m_helper.perform([&res, h, okBodySink](const char *data, size_t size) {
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
    } else {
        ok = m_helper.perform([](const char *, size_t size) { return size; });
    }
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
