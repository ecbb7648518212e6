#include "CURLHelper2.h"

#include <curl/curl.h>

#include <cctype>
#include <csignal>
#include <climits>
#include <mutex>

namespace {

std::once_flag g_curlInitOnce;

// Initialises libcurl before main() runs and cleans it up after main() returns.
struct CurlGlobal {
    CurlGlobal() { CURLHelper2::globalInit(); }
    ~CurlGlobal() { curl_global_cleanup(); }
} g_curlGlobal;

bool startsWithHttp(const std::string &line)
{
    static const char kHttp[] = "http";
    if (line.size() < 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != kHttp[i])
            return false;
    }
    return true;
}

// A status line is "HTTP", at least one more character up to a blank, the
// blank, the decimal code, an optional blank and the reason phrase.
bool parseStatusLine(const std::string &line, int *code, std::string *reason)
{
    if (!startsWithHttp(line))
        return false;
    size_t i = 4;
    const size_t versionStart = i;
    while (i < line.size() && line[i] != ' ')
        ++i;
    if (i == versionStart || i >= line.size())
        return false;
    ++i; // the blank
    const size_t digitsStart = i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
        ++i;
    if (i == digitsStart)
        return false;
    long long value = 0;
    bool overflow = false;
    for (size_t d = digitsStart; d < i && !overflow; ++d) {
        value = value * 10 + (line[d] - '0');
        overflow = value > INT_MAX;
    }
    if (i < line.size() && line[i] == ' ')
        ++i;
    // A code that does not fit is no answer we can act on.
    *code = overflow ? -1 : static_cast<int>(value);
    *reason = line.substr(i);
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

struct CURLHelper2::Callbacks {
    static size_t write(char *data, size_t size, size_t count, void *userdata)
    {
        auto *self = static_cast<CURLHelper2 *>(userdata);
        const size_t n = size * count;
        if (self->m_abort || !self->m_sink)
            return CURL_WRITEFUNC_ERROR;
        const size_t taken = (*self->m_sink)(data, n);
        self->m_receivedBytes += static_cast<int64_t>(taken);
        return taken;
    }

    static size_t header(char *data, size_t size, size_t count, void *userdata)
    {
        const size_t n = size * count;
        static_cast<std::string *>(userdata)->append(data, n);
        return n;
    }

    // Lets an abort take effect while no body bytes arrive (a silent peer).
    static int progress(void *userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        return static_cast<CURLHelper2 *>(userdata)->m_abort ? 1 : 0;
    }
};

void CURLHelper2::globalInit()
{
    std::call_once(g_curlInitOnce, [] {
        // A peer that closes a connection must not end the program by
        // SIGPIPE. Ignoring it once here lets every request run with
        // CURLOPT_NOSIGNAL, instead of libcurl installing and restoring its
        // own handler around each transfer (several system calls a file).
        std::signal(SIGPIPE, SIG_IGN);
        curl_global_init(CURL_GLOBAL_ALL);
    });
}

CURLHelper2::CURLHelper2()
{
    globalInit();
}

CURLHelper2::~CURLHelper2()
{
    if (m_headerList)
        curl_slist_free_all(m_headerList);
    if (m_handle)
        curl_easy_cleanup(m_handle);
}

bool CURLHelper2::prepare(const std::string &url, const std::vector<std::string> &headers)
{
    m_responseHeaders.clear();
    m_statusCode = 0;
    m_statusText.clear();
    m_abort = false;
    m_receivedBytes = 0;
    if (m_headerList) {
        curl_slist_free_all(m_headerList);
        m_headerList = nullptr;
    }
    m_errorString.clear();
    m_url = url;
    m_body.clear();

    if (!m_handle) {
        m_handle = curl_easy_init();
        if (!m_handle)
            return false;
    }
    curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(m_handle, CURLOPT_URL, m_url.c_str());
    // The peers speak HTTP/1.1 only; never offer anything else on TLS.
    curl_easy_setopt(m_handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // An earlier POST on this handle must not turn this request into one.
    curl_easy_setopt(m_handle, CURLOPT_HTTPGET, 1L);
    for (const std::string &line : headers)
        m_headerList = curl_slist_append(m_headerList, line.c_str());
    curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, m_headerList);
    return true;
}

bool CURLHelper2::prepare(const std::string &url, const std::string &body, std::vector<std::string> headers)
{
    if (!body.empty())
        headers.push_back("Content-Length: " + std::to_string(body.size()));
    if (!prepare(url, headers))
        return false;
    m_body = body;
    if (!m_body.empty()) {
        curl_easy_setopt(m_handle, CURLOPT_POST, 1L);
        curl_easy_setopt(m_handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_body.size()));
        curl_easy_setopt(m_handle, CURLOPT_POSTFIELDS, m_body.data());
    }
    return true;
}

std::map<std::string, std::string> CURLHelper2::currentHeaders() const
{
    int code = 0;
    std::string reason;
    std::map<std::string, std::string> headers;
    parseHeaderText(m_headerText, &code, &reason, &headers);
    return headers;
}

int64_t CURLHelper2::currentContentLength() const
{
    curl_off_t length = -1;
    if (!m_handle || curl_easy_getinfo(m_handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
        return -1;
    return static_cast<int64_t>(length);
}

void CURLHelper2::attach(const Sink &sink)
{
    m_headerText.clear();
    if (!m_handle)
        return;
    m_sink = &sink;
    curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, &Callbacks::write);
    curl_easy_setopt(m_handle, CURLOPT_HEADERDATA, &m_headerText);
    curl_easy_setopt(m_handle, CURLOPT_HEADERFUNCTION, &Callbacks::header);
    curl_easy_setopt(m_handle, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(m_handle, CURLOPT_XFERINFOFUNCTION, &Callbacks::progress);
    curl_easy_setopt(m_handle, CURLOPT_NOPROGRESS, 0L);
}

bool CURLHelper2::finish(int curlCode)
{
    m_sink = nullptr;
    const auto rc = static_cast<CURLcode>(curlCode);
    parseHeaderText(m_headerText, &m_statusCode, &m_statusText, &m_responseHeaders);
    if (rc != CURLE_OK) {
        m_errorString = std::string("CURL: ") + curl_easy_strerror(rc);
        return false;
    }
    return true;
}

bool CURLHelper2::perform(const Sink &sink)
{
    attach(sink);
    return finish(m_handle ? curl_easy_perform(m_handle) : CURLE_FAILED_INIT);
}

std::string CURLHelper2::response()
{
    std::string body;
    const bool ok = perform([&body](const char *data, size_t size) {
        body.append(data, size);
        return size;
    });
    return ok ? body : std::string();
}

void CURLHelper2::parseHeaderText(const std::string &text, int *statusCode, std::string *statusText,
                                  std::map<std::string, std::string> *headers)
{
    headers->clear();
    *statusCode = 0;
    statusText->clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line;
        line.reserve(end - pos);
        for (size_t i = pos; i < end; ++i) {
            if (text[i] != '\r')
                line += text[i];
        }
        pos = end + 1;

        int code = 0;
        std::string reason;
        if (parseStatusLine(line, &code, &reason)) {
            // A new header block begins (after an interim answer such as 100):
            // its headers replace those of the block before.
            *statusCode = code;
            *statusText = reason;
            headers->clear();
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            continue;
        size_t valueStart = colon + 1;
        while (valueStart < line.size() && isBlank(line[valueStart]))
            ++valueStart;
        size_t valueEnd = line.size();
        while (valueEnd > valueStart && isBlank(line[valueEnd - 1]))
            --valueEnd;
        if (valueEnd == valueStart)
            continue;
        (*headers)[line.substr(0, colon)] = line.substr(valueStart, valueEnd - valueStart);
    }
}
