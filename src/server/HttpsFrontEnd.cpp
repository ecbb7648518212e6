#include "HttpsFrontEnd.h"

#include "SendBio.h"
#include "WorkerPool.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace beast = boost::beast;
namespace http = beast::http;
namespace asio = boost::asio;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kIoThreads = 2;
constexpr size_t kQuickThreads = 2;
constexpr size_t kReadStep = 8 * 1024;
// After a last answer that closes, what the peer still sends is read and
// dropped for a moment, so the close does not reset the connection under an
// answer it has not read yet.
constexpr std::chrono::seconds kLingerTime{2};
constexpr size_t kMaxLingerBytes = 4u * 1024 * 1024;
// File pieces from this size on are written straight into the socket.
constexpr size_t kMinDirectBody = 64 * 1024;

void parseQuery(const std::string &query, std::map<std::string, std::string> *params)
{
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(start, end - start);
        if (!pair.empty()) {
            const size_t eq = pair.find('=');
            const std::string key = percentDecode(pair.substr(0, eq), true);
            const std::string value =
                eq == std::string::npos ? std::string() : percentDecode(pair.substr(eq + 1), true);
            params->emplace(key, value);
        }
        start = end + 1;
    }
}

// Where the head ends (just past its empty line), 0 while more is needed, or
// the status that refuses it.
struct HeadScan {
    size_t end = 0;
    int refuse = 0;
};

HeadScan scanHead(const char *data, size_t size)
{
    HeadScan scan;
    size_t pos = 0;
    int lines = 0;
    const auto tooLarge = [&] { scan.refuse = lines == 0 ? 400 : 431; };
    for (;;) {
        const char *found = nullptr;
        for (const char *p = data + pos; p + 1 < data + size; ++p) {
            if (p[0] == '\r' && p[1] == '\n') {
                found = p;
                break;
            }
        }
        if (!found) {
            if (size - pos > HttpsFrontEnd::kMaxLineBytes)
                tooLarge();
            else if (size > HttpsFrontEnd::kMaxHeadBytes)
                scan.refuse = 431;
            return scan;
        }
        const size_t eol = static_cast<size_t>(found - data);
        if (eol - pos > HttpsFrontEnd::kMaxLineBytes) {
            tooLarge();
            return scan;
        }
        if (eol + 2 > HttpsFrontEnd::kMaxHeadBytes) {
            scan.refuse = 431;
            return scan;
        }
        if (eol == pos && lines > 0) {
            scan.end = eol + 2;
            return scan;
        }
        if (eol != pos && ++lines > 1 + HttpsFrontEnd::kMaxHeaders) {
            scan.refuse = 431;
            return scan;
        }
        pos = eol + 2;
    }
}

const char *statusText(int status)
{
    switch (status) {
    case 400:
        return "Bad request.";
    case 431:
        return "Request header fields too large.";
    default:
        return "";
    }
}

} // namespace

class Session;

struct HttpsFrontEnd::Engine {
    explicit Engine(size_t workThreads) : quick(kQuickThreads), work(workThreads) {}

    // False when the address is at its connection limit, or the whole server
    // is and no connection waits for a request that could make room.
    bool admit(const std::string &address);
    // Connections waiting for a request (TLS handshake, idle or head under
    // way): at the server's limit, the one waiting longest makes room.
    void markWaiting(Session *session, const std::shared_ptr<Session> &self, const std::string &address);
    void unmarkWaiting(Session *session)
    {
        std::lock_guard<std::mutex> lock(countMutex);
        waiting.erase(session);
    }
    void release(const std::string &address)
    {
        std::lock_guard<std::mutex> lock(countMutex);
        const auto it = perAddress.find(address);
        if (it != perAddress.end() && --it->second <= 0)
            perAddress.erase(it);
        --total;
    }
    bool reserveBody(const std::string &address, size_t bytes)
    {
        std::lock_guard<std::mutex> lock(countMutex);
        size_t &mine = bodyBytesOf[address];
        if (bodyBytes + bytes > kMaxBodyBytesInFlight || mine + bytes > kMaxBodyBytesPerAddress) {
            if (mine == 0)
                bodyBytesOf.erase(address);
            return false;
        }
        bodyBytes += bytes;
        mine += bytes;
        return true;
    }
    void releaseBody(const std::string &address, size_t bytes)
    {
        if (bytes == 0)
            return;
        std::lock_guard<std::mutex> lock(countMutex);
        bodyBytes -= std::min(bytes, bodyBytes);
        const auto it = bodyBytesOf.find(address);
        if (it != bodyBytesOf.end() && (it->second -= std::min(bytes, it->second)) == 0)
            bodyBytesOf.erase(it);
    }

    void accept();

    Router router;
    std::mutex countMutex;
    std::map<std::string, int> perAddress;
    int total = 0;
    struct Waiting {
        Clock::time_point since;
        std::string address;
        std::weak_ptr<Session> session;
    };
    std::map<Session *, Waiting> waiting;
    size_t bodyBytes = 0;
    std::map<std::string, size_t> bodyBytesOf; // by address
    WorkerPool quick;
    WorkerPool work;
    // Destroyed before what is above: its pending handlers hold the sessions.
    ssl::context tls{ssl::context::tls_server};
    asio::io_context io{kIoThreads};
    tcp::acceptor acceptor{io};
    asio::steady_timer acceptRetry{io};
    std::atomic<bool> listening{false};
    std::vector<std::thread> threads;
};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(HttpsFrontEnd::Engine &engine, tcp::socket socket, std::string address)
        : m_engine(engine), m_socket(std::move(socket)), m_executor(m_socket.get_executor()), m_timer(m_executor),
          m_address(std::move(address))
    {
    }
    ~Session()
    {
        m_engine.unmarkWaiting(this);
        m_engine.releaseBody(m_address, m_bodyReserved);
        m_engine.release(m_address);
    }

    // Ends the connection; on the session's own executor.
    void abort()
    {
        beast::error_code ignored;
        m_socket.close(ignored);
        if (m_stream)
            beast::get_lowest_layer(*m_stream).close();
    }
    tcp::socket::executor_type executor() const { return m_executor; }

    // The TLS state (some 70 KiB) is made when the first byte arrives: a
    // connection that sends nothing costs little more than its socket.
    void start()
    {
        m_engine.markWaiting(this, shared_from_this(), m_address);
        m_headDeadline = Clock::now() + HttpsFrontEnd::kHeadTimeout;
        m_timer.expires_at(m_headDeadline);
        m_timer.async_wait([self = shared_from_this()](beast::error_code ec) {
            beast::error_code ignored;
            if (!ec)
                self->m_socket.close(ignored);
        });
        m_socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
            self->m_timer.cancel();
            if (ec || !self->m_socket.is_open())
                return;
            self->m_stream.emplace(std::move(self->m_socket), self->m_engine.tls);
            beast::get_lowest_layer(*self->m_stream).expires_at(self->m_headDeadline);
            self->m_stream->async_handshake(ssl::stream_base::server, [self](beast::error_code e) {
                if (!e)
                    self->continueHead();
            });
        });
    }

private:
    using Stream = beast::ssl_stream<beast::tcp_stream>;

    void waitForRequest()
    {
        m_engine.markWaiting(this, shared_from_this(), m_address);
        if (m_buffer.size() > 0) {
            m_headDeadline = Clock::now() + HttpsFrontEnd::kHeadTimeout;
            return continueHead();
        }
        beast::get_lowest_layer(*m_stream).expires_after(HttpsFrontEnd::kIdleTimeout);
        m_stream->async_read_some(m_buffer.prepare(kReadStep),
                                  [self = shared_from_this()](beast::error_code ec, size_t n) {
                                      if (ec)
                                          return;
                                      self->m_buffer.commit(n);
                                      self->m_headDeadline = Clock::now() + HttpsFrontEnd::kHeadTimeout;
                                      self->continueHead();
                                  });
    }

    void continueHead()
    {
        const auto data = m_buffer.data();
        const HeadScan scan = scanHead(static_cast<const char *>(data.data()), data.size());
        if (scan.refuse)
            return refuse(scan.refuse, statusText(scan.refuse));
        if (scan.end)
            return parseHead(scan.end);
        beast::get_lowest_layer(*m_stream).expires_at(m_headDeadline);
        m_stream->async_read_some(m_buffer.prepare(kReadStep),
                                  [self = shared_from_this()](beast::error_code ec, size_t n) {
                                      if (ec)
                                          return;
                                      self->m_buffer.commit(n);
                                      self->continueHead();
                                  });
    }

    void parseHead(size_t headBytes)
    {
        m_engine.unmarkWaiting(this);
        m_parser.emplace();
        m_parser->eager(false);
        m_parser->header_limit(static_cast<std::uint32_t>(HttpsFrontEnd::kMaxHeadBytes + 2));
        m_parser->body_limit(boost::none); // the route's limit applies, once the route is known
        beast::error_code ec;
        const size_t used = m_parser->put(asio::buffer(m_buffer.data().data(), headBytes), ec);
        if (ec || !m_parser->is_header_done())
            return refuse(400, statusText(400));
        m_buffer.consume(used);

        const auto &head = m_parser->get();
        m_req = IncomingRequest();
        m_res = ServerAnswer();
        m_req.method = std::string(head.method_string());
        const std::string target(head.target());
        const size_t question = target.find('?');
        m_req.path = target.substr(0, question);
        if (question != std::string::npos)
            parseQuery(target.substr(question + 1), &m_req.params);
        for (const auto &field : head) {
            std::string name(field.name_string());
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            m_req.headers.emplace(std::move(name), std::string(field.value()));
        }
        m_req.remote_addr = m_address;
        m_pendingBody = m_parser->content_length().value_or(0);
        m_keepAlive = head.keep_alive();

        // Bodies are read only when their length is known up front, so the size limit always holds.
        if (m_req.headers.count("transfer-encoding"))
            return refuse(411, "Chunked request bodies are not accepted.");
        // Nothing inflates bodies here, and no peer of ours compresses.
        const std::string encoding = m_req.get_header_value("content-encoding");
        if (!encoding.empty() && encoding != "identity")
            return refuse(415, "Compressed request bodies are not accepted.");
        m_route = HttpsFrontEnd::Route();
        if (!m_engine.router(m_req, &m_route)) {
            m_res.status = 404;
            return dropBodyThenAnswer();
        }
        if (m_pendingBody > m_route.maxBody)
            return refuse(413, "Request body too large.");
        if (m_pendingBody > HttpsFrontEnd::kMaxUncountedBody) {
            if (!m_engine.reserveBody(m_address, m_pendingBody))
                return refuse(503, "Server busy.");
            m_bodyReserved = m_pendingBody;
        }
        // A small body costs less to read than a trip to another thread:
        // its check runs with the route, in one job.
        if (!m_route.beforeBody || m_pendingBody <= HttpsFrontEnd::kMaxUncountedBody)
            return readBody();
        m_engine.quick.post([self = shared_from_this()] {
            const bool pass = self->m_route.beforeBody(self->m_req, self->m_res);
            asio::post(self->m_executor, [self, pass] {
                if (pass)
                    self->readBody();
                else
                    self->dropBodyThenAnswer();
            });
        });
    }

    // Answers m_res without handling the request: a small body is read and
    // dropped first so the connection can go on; a larger one closes it.
    void dropBodyThenAnswer()
    {
        if (m_pendingBody > HttpsFrontEnd::kMaxDrainedBody) {
            m_res.close = true;
            return writeAnswer();
        }
        m_answerOnly = true;
        readBody();
    }

    void readBody()
    {
        if (m_parser->is_done())
            return onBody();
        m_parser->body_limit(std::max<std::uint64_t>(m_pendingBody, 1));
        const auto allowed =
            HttpsFrontEnd::kHeadTimeout + std::chrono::seconds(m_pendingBody / HttpsFrontEnd::kMinBodyBytesPerSecond);
        beast::get_lowest_layer(*m_stream).expires_after(allowed);
        http::async_read(*m_stream, m_buffer, *m_parser, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (!ec)
                self->onBody();
        });
    }

    void onBody()
    {
        if (m_answerOnly) {
            m_answerOnly = false;
            return writeAnswer();
        }
        m_req.body = std::move(m_parser->get().body());
        WorkerPool &pool = m_route.pool == HttpsFrontEnd::Pool::Quick ? m_engine.quick : m_engine.work;
        pool.post([self = shared_from_this()] {
            const bool checked = self->m_pendingBody > HttpsFrontEnd::kMaxUncountedBody;
            if (checked || !self->m_route.beforeBody || self->m_route.beforeBody(self->m_req, self->m_res))
                self->m_route.handle(self->m_req, self->m_res);
            self->m_req = IncomingRequest(); // the body goes before the answer waits for its peer
            asio::post(self->m_executor, [self] {
                self->m_engine.releaseBody(self->m_address, self->m_bodyReserved);
                self->m_bodyReserved = 0;
                self->writeAnswer();
            });
        });
    }

    void refuse(int status, const char *text)
    {
        m_res = ServerAnswer();
        m_res.status = status;
        m_res.set_content(text, "text/plain");
        m_res.close = true;
        writeAnswer();
    }

    template <class Body> void fillHead(http::response<Body> &msg)
    {
        msg.result(static_cast<unsigned>(m_res.status));
        msg.version(11);
        if (!m_res.contentType.empty())
            msg.set(http::field::content_type, m_res.contentType);
        for (const auto &h : m_res.headers)
            msg.insert(h.first, h.second);
        const bool keep = !m_res.close && m_keepAlive && ++m_served < HttpsFrontEnd::kMaxRequestsPerConnection;
        msg.keep_alive(keep);
        m_closeAfter = !keep;
        msg.prepare_payload();
    }

    void writeAnswer()
    {
        if (m_res.data) {
            auto msg = std::make_shared<http::response<http::span_body<const char>>>();
            msg->body() = beast::span<const char>(m_res.data.get(), m_res.dataSize);
            fillHead(*msg);
            auto sr = std::make_shared<http::serializer<false, http::span_body<const char>>>(*msg);
            if (m_res.dataSize < kMinDirectBody)
                return writeSome(msg, sr);
            sr->split(true);
            beast::get_lowest_layer(*m_stream).expires_after(HttpsFrontEnd::kWriteStallTimeout);
            http::async_write_header(*m_stream, *sr,
                                     [self = shared_from_this(), msg, sr](beast::error_code ec, size_t) {
                                         if (ec)
                                             return;
                                         if (!self->m_sendBio)
                                             self->m_sendBio.reset(newSendBio(-1));
                                         if (!self->m_sendBio)
                                             return self->writeSome(msg, sr);
                                         self->m_directSent = 0;
                                         self->writeDirect();
                                     });
        } else {
            auto msg = std::make_shared<http::response<http::string_body>>();
            msg->body() = std::move(m_res.body);
            fillHead(*msg);
            auto sr = std::make_shared<http::serializer<false, http::string_body>>(*msg);
            writeSome(msg, sr);
        }
    }

    // Writes in steps, each with its own stall deadline: a large answer to a
    // slow but moving peer is fine, a peer that stops reading is not.
    template <class Msg, class Serializer> void writeSome(std::shared_ptr<Msg> msg, std::shared_ptr<Serializer> sr)
    {
        beast::get_lowest_layer(*m_stream).expires_after(HttpsFrontEnd::kWriteStallTimeout);
        http::async_write_some(*m_stream, *sr, [self = shared_from_this(), msg, sr](beast::error_code ec, size_t) {
            if (ec)
                return;
            if (!sr->is_done())
                return self->writeSome(msg, sr);
            self->m_res = ServerAnswer(); // lets go of the bytes it sent
            self->afterAnswer();
        });
    }

    // Encrypts the body of m_res straight into the socket (see SendBio.h),
    // waiting for room whenever the socket is full; a peer that reads nothing
    // for the stall limit loses the connection, as with any other answer.
    void writeDirect()
    {
        tcp::socket &socket = beast::get_lowest_layer(*m_stream).socket();
        if (!socket.is_open())
            return;
        SSL *ssl = m_stream->native_handle();
        BIO *own = SSL_get_wbio(ssl);
        BIO_set_data(m_sendBio.get(), reinterpret_cast<void *>(static_cast<intptr_t>(socket.native_handle())));
        BIO_up_ref(own);
        BIO_up_ref(m_sendBio.get());
        SSL_set0_wbio(ssl, m_sendBio.get());
        const char *data = m_res.data.get();
        int result = 1;
        while (m_directSent < m_res.dataSize) {
            const size_t step = std::min<size_t>(m_res.dataSize - m_directSent, 1u << 30);
            result = SSL_write(ssl, data + m_directSent, static_cast<int>(step));
            if (result <= 0)
                break;
            m_directSent += static_cast<size_t>(result);
        }
        const int error = result <= 0 ? SSL_get_error(ssl, result) : SSL_ERROR_NONE;
        SSL_set0_wbio(ssl, own); // back to the stream's own pair, for what follows
        if (m_directSent == m_res.dataSize) {
            m_res = ServerAnswer();
            return afterAnswer();
        }
        if (error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return abort();
        }
        m_timer.expires_after(HttpsFrontEnd::kWriteStallTimeout);
        m_timer.async_wait([self = shared_from_this()](beast::error_code ec) {
            // A wait that ended in time re-arms the timer before a stale expiry runs.
            if (!ec && self->m_timer.expiry() <= Clock::now())
                self->abort();
        });
        socket.async_wait(tcp::socket::wait_write, [self = shared_from_this()](beast::error_code ec) {
            self->m_timer.cancel();
            if (!ec)
                self->writeDirect();
        });
    }

    void afterAnswer()
    {
        if (!m_closeAfter) {
            m_parser.reset();
            return waitForRequest();
        }
        beast::error_code ignored;
        beast::get_lowest_layer(*m_stream).socket().shutdown(tcp::socket::shutdown_send, ignored);
        beast::get_lowest_layer(*m_stream).expires_after(kLingerTime);
        linger();
    }

    void linger()
    {
        m_buffer.clear();
        beast::get_lowest_layer(*m_stream).async_read_some(m_buffer.prepare(64 * 1024),
                                                           [self = shared_from_this()](beast::error_code ec, size_t n) {
                                                               self->m_lingered += n;
                                                               if (!ec && self->m_lingered < kMaxLingerBytes)
                                                                   self->linger();
                                                           });
    }

    HttpsFrontEnd::Engine &m_engine;
    tcp::socket m_socket; // until the first byte, then in m_stream
    tcp::socket::executor_type m_executor;
    asio::steady_timer m_timer; // the first byte's deadline, then a direct body's stall limit
    std::optional<Stream> m_stream;
    std::string m_address;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    Clock::time_point m_headDeadline;
    IncomingRequest m_req;
    ServerAnswer m_res;
    HttpsFrontEnd::Route m_route;
    size_t m_pendingBody = 0;
    size_t m_bodyReserved = 0;
    size_t m_lingered = 0;
    std::unique_ptr<BIO, decltype(&BIO_free)> m_sendBio{nullptr, &BIO_free};
    size_t m_directSent = 0;
    int m_served = 0;
    bool m_keepAlive = true;
    bool m_closeAfter = false;
    bool m_answerOnly = false;
};

bool HttpsFrontEnd::Engine::admit(const std::string &address)
{
    std::shared_ptr<Session> victim;
    {
        std::lock_guard<std::mutex> lock(countMutex);
        const auto mine = perAddress.find(address);
        if (mine != perAddress.end() && mine->second >= kMaxConnectionsPerAddress)
            return false;
        if (total >= kMaxConnections) {
            // The victim comes from the address holding the most connections
            // that has one waiting: a flood pushes out its own connections
            // before anyone else's.
            auto oldest = waiting.end();
            int oldestCount = 0;
            for (auto it = waiting.begin(); it != waiting.end(); ++it) {
                const int count = perAddress[it->second.address];
                if (oldest == waiting.end() || count > oldestCount ||
                    (count == oldestCount && it->second.since < oldest->second.since)) {
                    oldest = it;
                    oldestCount = count;
                }
            }
            // Only for an address holding fewer: a flood from many addresses
            // must not churn through its own connections at our expense.
            const auto theirs = perAddress.find(address);
            const int mineNow = theirs == perAddress.end() ? 0 : theirs->second;
            if (oldest == waiting.end() || mineNow + 1 >= oldestCount)
                return false;
            victim = oldest->second.session.lock();
            waiting.erase(oldest);
        }
        ++perAddress[address];
        ++total;
    }
    if (victim)
        asio::post(victim->executor(), [victim] { victim->abort(); });
    return true;
}

void HttpsFrontEnd::Engine::markWaiting(Session *session, const std::shared_ptr<Session> &self,
                                        const std::string &address)
{
    std::lock_guard<std::mutex> lock(countMutex);
    waiting[session] = {Clock::now(), address, self};
}

void HttpsFrontEnd::Engine::accept()
{
    acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors, most likely: wait instead of spinning on the error.
            acceptRetry.expires_after(std::chrono::milliseconds(100));
            acceptRetry.async_wait([this](beast::error_code e) {
                if (!e)
                    accept();
            });
            return;
        }
        beast::error_code peerError;
        const tcp::endpoint peer = socket.remote_endpoint(peerError);
        if (!peerError) {
            const std::string address = peer.address().to_string();
            if (admit(address)) {
                socket.set_option(tcp::no_delay(true), peerError);
                std::make_shared<Session>(*this, std::move(socket), address)->start();
            }
        }
        accept(); // a refused socket closes here, as it goes out of scope
    });
}

HttpsFrontEnd::HttpsFrontEnd(Router router, size_t workThreads)
    : m_router(std::move(router)), m_workThreads(workThreads)
{
}

HttpsFrontEnd::~HttpsFrontEnd()
{
    stop();
}

bool HttpsFrontEnd::start(int port, const std::function<bool(SSL_CTX &)> &setUpTls,
                          std::function<void(int error)> onListenError)
{
    stop();
    auto engine = std::make_unique<Engine>(m_workThreads);
    if (!setUpTls(*engine->tls.native_handle()))
        return false;
    engine->router = m_router;

    beast::error_code ec;
    const tcp::endpoint endpoint(asio::ip::address_v4::any(), static_cast<unsigned short>(port));
    engine->acceptor.open(endpoint.protocol(), ec);
    // Only SO_REUSEADDR: a port held by another program must make the bind fail.
    if (!ec)
        engine->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        engine->acceptor.bind(endpoint, ec);
    if (!ec)
        engine->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        engine->acceptor.close();
        const int error = ec.value();
        asio::post(engine->io, [onListenError, error] { onListenError(error); });
    } else {
        engine->listening = true;
        engine->accept();
    }
    Engine *raw = engine.get();
    for (int i = 0; i < kIoThreads; ++i)
        engine->threads.emplace_back([raw] {
            // Runs until stop(), even with nothing to do.
            auto guard = asio::make_work_guard(raw->io);
            raw->io.run();
        });
    m_engine = std::move(engine);
    return true;
}

void HttpsFrontEnd::stop()
{
    if (!m_engine)
        return;
    m_engine->listening = false;
    asio::post(m_engine->io, [e = m_engine.get()] {
        beast::error_code ignored;
        e->acceptor.close(ignored);
        e->acceptRetry.cancel();
    });
    m_engine->io.stop();
    for (std::thread &t : m_engine->threads)
        t.join();
    m_engine->threads.clear();
    beast::error_code ignored;
    m_engine->acceptor.close(ignored);
    // Route work under way finishes; what it posts back is dropped with the io context.
    m_engine->quick.waitIdle();
    m_engine->work.waitIdle();
    m_engine.reset();
}

bool HttpsFrontEnd::isListening() const
{
    return m_engine && m_engine->listening;
}
