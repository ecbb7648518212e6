// A port for a test's server to listen on, free for TCP and UDP on every
// address at the time of asking.
//
// It is taken below the kernel's range of ports for outgoing connections
// (32768 and up by default): a port the kernel handed out for listening could
// be handed out again as the local port of some other test's outgoing
// connection before our server binds it, and a connection's port (or one left
// in TIME_WAIT) makes that bind fail. Tests run in parallel and some open
// thousands of connections, so that happened.
#pragma once

#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace testport {

inline bool canBind(int type, int port)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<uint16_t>(port));
    // No SO_REUSEADDR: a port any socket still holds, even in TIME_WAIT, is not free.
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

} // namespace testport

// 0 when none was found (the test then fails on its own listen).
inline int freePort()
{
    // Not the program's default port, and clear of the privileged ones.
    constexpr int kFirst = 21000, kLast = 32000;
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(kFirst, kLast);
    for (int tries = 0; tries < 200; ++tries) {
        const int port = pick(random);
        if (testport::canBind(SOCK_STREAM, port) && testport::canBind(SOCK_DGRAM, port))
            return port;
    }
    return 0;
}
