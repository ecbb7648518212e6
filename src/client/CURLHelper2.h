// One libcurl easy handle: prepares a request, streams the answer's body to a
// sink and parses the answer's status line and headers. Knows nothing of the
// transfer API; one thread at a time uses it, any thread may abort it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

typedef void CURL;
struct curl_slist;

class CURLHelper2 {
public:
    // Gets each body chunk and answers how many bytes it took; any other
    // count than the chunk's length ends the transfer with a write error.
    using Sink = std::function<size_t(const char *data, size_t size)>;

    CURLHelper2();
    ~CURLHelper2();
    CURLHelper2(const CURLHelper2 &) = delete;
    CURLHelper2 &operator=(const CURLHelper2 &) = delete;

    // Clears the last answer and sets url and the header lines on the handle
    // (created on first use; false when libcurl cannot make one). Peer
    // certificates and host names are not verified: every device presents the
    // same built-in certificate.
    bool prepare(const std::string &url, const std::vector<std::string> &headers);
    // As above; a non-empty body is sent as a POST with its Content-Length.
    bool prepare(const std::string &url, const std::string &body, std::vector<std::string> headers);

    // Runs the prepared request. False when the transfer failed (errorString
    // says why); an HTTP error status is not a failure.
    bool perform(const Sink &sink);
    // perform() collecting the body; empty on failure.
    std::string response();
    // perform() in two halves, for a handle that a multi handle runs: attach
    // sets the sink (which must outlive the transfer) and the callbacks;
    // finish takes the transfer's result and parses the answer.
    void attach(const Sink &sink);
    bool finish(int curlCode);

    // Ends the running transfer soon (at the next chunk or progress tick).
    // Cleared by the next prepare().
    void abort() { m_abort = true; }
    bool aborted() const { return m_abort; }

    // The easy handle, for options beyond the ones set here; null before the
    // first successful prepare().
    CURL *handle() const { return m_handle; }

    // From the sink, while the transfer runs: the answer's headers received
    // so far (parsed as parseHeaderText does) and the body length it
    // announced, or -1 when it announced none.
    std::map<std::string, std::string> currentHeaders() const;
    int64_t currentContentLength() const;

    int statusCode() const { return m_statusCode; }
    void setStatusCode(int code) { m_statusCode = code; }
    const std::string &statusText() const { return m_statusText; }
    const std::map<std::string, std::string> &responseHeaders() const { return m_responseHeaders; }
    const std::string &errorString() const { return m_errorString; }
    int64_t receivedBytes() const { return m_receivedBytes; }

    // Parses a raw answer header text (one or more header blocks) into the
    // status, reason and header map: the last status line wins, and only the
    // headers that follow it count; a repeated name keeps its last value; a
    // header without a value is skipped.
    static void parseHeaderText(const std::string &text, int *statusCode, std::string *statusText,
                                std::map<std::string, std::string> *headers);

    // Initialises libcurl for the whole process once (also done at start-up).
    static void globalInit();

private:
    struct Callbacks;
    friend struct Callbacks;

    CURL *m_handle = nullptr;
    std::string m_url;
    std::string m_body;
    std::map<std::string, std::string> m_responseHeaders;
    std::string m_headerText; // of the running transfer
    int m_statusCode = 0;
    std::string m_statusText;
    curl_slist *m_headerList = nullptr;
    std::atomic<bool> m_abort{false};
    std::atomic<int64_t> m_receivedBytes{0};
    const Sink *m_sink = nullptr;
    std::string m_errorString;
};
