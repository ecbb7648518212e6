// A scripted TLS server on 127.0.0.1 for client tests: records every request
// and answers with exactly the bytes a test chooses (odd headers, interim
// answers, broken bodies), or goes silent without closing.
#pragma once

#include "server/BuiltinCertificate.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RawTlsServer {
public:
    struct Request {
        std::string head; // request line and header lines, CRLF kept
        std::string body;
        std::string requestLine() const { return head.substr(0, head.find("\r\n")); }
        bool hasHeader(const std::string &name) const { return head.find("\r\n" + name + ":") != std::string::npos; }
    };
    struct Reply {
        std::string bytes;  // sent as they are
        bool stall = false; // then keep the connection open and silent
    };
    using Handler = std::function<Reply(const Request &request, int index)>;

    // An answer with Content-Length and "Connection: close"; extra lines end in CRLF.
    static std::string answer(const std::string &statusLine, const std::string &body,
                              const std::string &extraHeaders = std::string())
    {
        return statusLine + "\r\n" + extraHeaders + "Content-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

    explicit RawTlsServer(Handler handler) : m_handler(std::move(handler))
    {
        ::signal(SIGPIPE, SIG_IGN);
        m_ctx = SSL_CTX_new(TLS_server_method());
        BIO *certBio = BIO_new_mem_buf(builtinCertificatePem(), -1);
        BIO *keyBio = BIO_new_mem_buf(builtinPrivateKeyPem(), -1);
        X509 *cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        EVP_PKEY *key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
        SSL_CTX_use_certificate(m_ctx, cert);
        SSL_CTX_use_PrivateKey(m_ctx, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        BIO_free(certBio);
        BIO_free(keyBio);

        m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(m_listenFd, 16);
        socklen_t len = sizeof addr;
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_acceptThread = std::thread([this] { acceptLoop(); });
    }

    ~RawTlsServer()
    {
        m_stop = true;
        m_acceptThread.join();
        for (std::thread &t : m_connections)
            t.join();
        ::close(m_listenFd);
        SSL_CTX_free(m_ctx);
    }

    int port() const { return m_port; }

    std::vector<Request> requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

    // Waits until count requests have arrived.
    bool waitForRequests(size_t count, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_requests.size() >= count; });
    }

private:
    void acceptLoop()
    {
        while (!m_stop) {
            pollfd p{m_listenFd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                m_connections.emplace_back([this, fd] { serve(fd); });
        }
    }

    // Waits for readable data without blocking past a stop request.
    int readSome(SSL *ssl, int fd, char *buf, int size)
    {
        while (!m_stop) {
            if (SSL_pending(ssl) == 0) {
                pollfd p{fd, POLLIN, 0};
                const int r = ::poll(&p, 1, 50);
                if (r == 0)
                    continue;
                if (r < 0)
                    return -1;
            }
            const int n = SSL_read(ssl, buf, size);
            if (n > 0)
                return n;
            if (SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ)
                return -1;
        }
        return -1;
    }

    void serve(int fd)
    {
        SSL *ssl = SSL_new(m_ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            std::string data;
            char buf[16384];
            size_t headEnd = std::string::npos;
            while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
                const int n = readSome(ssl, fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                data.append(buf, static_cast<size_t>(n));
            }
            if (headEnd != std::string::npos) {
                Request req;
                req.head = data.substr(0, headEnd + 2);
                size_t length = 0;
                const size_t cl = req.head.find("Content-Length: ");
                if (cl != std::string::npos)
                    length = std::stoul(req.head.substr(cl + 16));
                req.body = data.substr(headEnd + 4);
                while (req.body.size() < length) {
                    const int n = readSome(ssl, fd, buf, sizeof buf);
                    if (n <= 0)
                        break;
                    req.body.append(buf, static_cast<size_t>(n));
                }
                int index = 0;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    index = static_cast<int>(m_requests.size());
                    m_requests.push_back(req);
                }
                m_arrived.notify_all();
                const Reply reply = m_handler(req, index);
                if (!reply.bytes.empty())
                    SSL_write(ssl, reply.bytes.data(), static_cast<int>(reply.bytes.size()));
                if (reply.stall) {
                    // Silent until the client gives up or the test ends.
                    while (readSome(ssl, fd, buf, sizeof buf) > 0) {
                    }
                }
                SSL_shutdown(ssl);
            }
        }
        SSL_free(ssl);
        ::close(fd);
    }

    Handler m_handler;
    SSL_CTX *m_ctx = nullptr;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptThread;
    std::vector<std::thread> m_connections; // touched by the accept thread only until it is joined
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Request> m_requests;
};
