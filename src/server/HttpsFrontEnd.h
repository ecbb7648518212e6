// The HTTPS listener in front of the routes: accepts connections, reads and
// checks request heads and bodies under fixed limits, runs route work on
// worker pools and writes the answers. No peer can make it hold more than
// the limits below, nor keep another peer's requests waiting on its own.
#pragma once

#include "HttpExchange.h"

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class HttpsFrontEnd {
public:
    // Longest request line or header line.
    static constexpr size_t kMaxLineBytes = 8 * 1024;
    // Longest request head (request line and all header lines).
    static constexpr size_t kMaxHeadBytes = 64 * 1024;
    static constexpr int kMaxHeaders = 100;
    // The TLS handshake and a request head must be in within this time of the
    // connection's (or, kept alive, the request's) first byte.
    static constexpr std::chrono::seconds kHeadTimeout{10};
    // A kept-alive connection with no new request for this long is closed.
    static constexpr std::chrono::seconds kIdleTimeout{5};
    // A body must keep coming at this pace, after a grace of kHeadTimeout.
    static constexpr size_t kMinBodyBytesPerSecond = 256 * 1024;
    // An answer that moves no byte for this long ends its connection.
    static constexpr std::chrono::seconds kWriteStallTimeout{10};
    // Beyond this, an address's new connections are closed at once.
    static constexpr int kMaxConnectionsPerAddress = 32;
    // Beyond this, a new connection takes the place of one waiting for a
    // request (idle, or its head still coming): the longest waiting of the
    // address with the most connections, when that address holds more than
    // the new one's would. Otherwise it is closed at once.
    static constexpr int kMaxConnections = 512;
    // Request bodies held at once (being read or being handled), from all
    // peers and from one address; a body that does not fit is answered 503.
    // Bodies up to kMaxUncountedBody are not counted: the connection limits
    // bound them, and the small routes must not starve behind large offers.
    static constexpr size_t kMaxBodyBytesInFlight = 256u * 1024 * 1024;
    static constexpr size_t kMaxBodyBytesPerAddress = 64u * 1024 * 1024;
    static constexpr size_t kMaxUncountedBody = 64 * 1024;
    // A refused request's body up to this size is read and dropped so the
    // connection can go on; a larger one ends the connection.
    static constexpr size_t kMaxDrainedBody = 64 * 1024;
    static constexpr int kMaxRequestsPerConnection = 100;

    enum class Pool {
        Quick, // short work that never waits for the owner (password checks, identity)
        Work   // everything else: disk reads, the owner's callbacks
    };
    struct Route {
        size_t maxBody = 0;
        Pool pool = Pool::Work;
        // Runs after the head, before any body larger than kMaxUncountedBody
        // is read (a smaller one is read first); false when it answered.
        std::function<bool(const IncomingRequest &, ServerAnswer &)> beforeBody;
        std::function<void(IncomingRequest &, ServerAnswer &)> handle;
    };
    // Fills the route for a request head (matches included); false when there is none.
    using Router = std::function<bool(IncomingRequest &, Route *)>;

    HttpsFrontEnd(Router router, size_t workThreads);
    ~HttpsFrontEnd();
    HttpsFrontEnd(const HttpsFrontEnd &) = delete;
    HttpsFrontEnd &operator=(const HttpsFrontEnd &) = delete;

    // Listens on all IPv4 interfaces. False when TLS cannot be set up (nothing
    // started). A failure to listen calls onListenError(errno) from an io
    // thread, after start() returned true.
    bool start(int port, const std::function<bool(SSL_CTX &)> &setUpTls, std::function<void(int error)> onListenError);
    // Closes every connection and the listening socket; waits for route work under way.
    void stop();
    bool isListening() const;

    struct Engine;

private:
    Router m_router;
    size_t m_workThreads;
    std::unique_ptr<Engine> m_engine;
};
