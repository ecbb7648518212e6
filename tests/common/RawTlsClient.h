// A bare TLS client for tests: sends exactly the bytes it is given (malformed
// requests included) from a chosen local address, and reads one HTTP answer.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <string>

class RawTlsClient {
public:
    struct Answer {
        int status = -1;                                 // -1: no answer (connection closed or timed out)
        std::multimap<std::string, std::string> headers; // names lower-cased
        std::string body;
        std::string header(const std::string &name) const
        {
            const auto it = headers.find(name);
            return it == headers.end() ? std::string() : it->second;
        }
    };

    RawTlsClient() = default;
    ~RawTlsClient() { close(); }
    RawTlsClient(const RawTlsClient &) = delete;
    RawTlsClient &operator=(const RawTlsClient &) = delete;

    bool connect(int port, const char *sourceAddress = "127.0.0.1", const char *host = "127.0.0.1")
    {
        close();
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{15, 0}; // a silent server must not hang the test
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, sourceAddress, &local.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            return false;
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host, &remote.sin_addr);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0)
            return false;
        m_ctx = SSL_CTX_new(TLS_client_method());
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, m_fd);
        return SSL_connect(m_ssl) == 1;
    }

    void close()
    {
        if (m_ssl) {
            SSL_shutdown(m_ssl);
            SSL_free(m_ssl);
            m_ssl = nullptr;
        }
        if (m_ctx) {
            SSL_CTX_free(m_ctx);
            m_ctx = nullptr;
        }
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        m_pending.clear();
    }

    SSL *ssl() const { return m_ssl; }

    // False when the peer stopped taking bytes (closed, reset).
    bool send(const std::string &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const int n =
                SSL_write(m_ssl, bytes.data() + done, static_cast<int>(std::min<size_t>(bytes.size() - done, 1 << 20)));
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads one answer (its body by Content-Length, or up to the close).
    Answer readAnswer(int timeoutMs = 10000)
    {
        Answer a;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t end;
        while ((end = m_pending.find("\r\n\r\n")) == std::string::npos) {
            if (!readMore(deadline))
                return a;
        }
        const std::string head = m_pending.substr(0, end);
        m_pending.erase(0, end + 4);
        size_t lineEnd = head.find("\r\n");
        const std::string statusLine = head.substr(0, lineEnd);
        if (statusLine.size() < 12)
            return a;
        a.status = std::stoi(statusLine.substr(9, 3));
        while (lineEnd != std::string::npos) {
            const size_t start = lineEnd + 2;
            lineEnd = head.find("\r\n", start);
            const std::string line =
                head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
            const size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            std::string name = line.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return char(std::tolower(c)); });
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            a.headers.emplace(name, value);
        }
        const std::string length = a.header("content-length");
        if (!length.empty()) {
            const size_t want = std::stoull(length);
            while (m_pending.size() < want) {
                if (!readMore(deadline))
                    break;
            }
            a.body = m_pending.substr(0, std::min(want, m_pending.size()));
            m_pending.erase(0, a.body.size());
        }
        return a;
    }

    // A whole request with a body, as our peers send it.
    static std::string post(const std::string &path, const std::string &body, const std::string &extraHeaders = {})
    {
        return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
    }
    static std::string get(const std::string &path, const std::string &extraHeaders = {})
    {
        return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
    }

private:
    bool readMore(std::chrono::steady_clock::time_point deadline)
    {
        char buf[65536];
        for (;;) {
            const int n = SSL_read(m_ssl, buf, sizeof buf);
            if (n > 0) {
                m_pending.append(buf, static_cast<size_t>(n));
                return true;
            }
            if (SSL_get_error(m_ssl, n) != SSL_ERROR_WANT_READ)
                return false;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
        }
    }

    int m_fd = -1;
    SSL_CTX *m_ctx = nullptr;
    SSL *m_ssl = nullptr;
    std::string m_pending;
};
