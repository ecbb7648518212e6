#include "UdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

UdpSocket::~UdpSocket()
{
    close();
}

void UdpSocket::fail(const char *prefix, int err)
{
    m_errno = err;
    m_lastError = std::string(prefix) + std::to_string(err) + ".";
}

static bool parseAddress(const std::string &text, in_addr *out)
{
    return inet_pton(AF_INET, text.c_str(), out) == 1;
}

bool UdpSocket::open()
{
    if (m_fd >= 0)
        return true;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail("socket creation failed, err:", errno);
        return false;
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        const int err = errno;
        ::close(fd);
        fail("socket creation failed, err:", err);
        return false;
    }
    m_fd = fd;
    m_wakeFd = wake;
    return true;
}

bool UdpSocket::setBroadcast(bool on)
{
    if (!open())
        return false;
    const int value = on ? 1 : 0;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
        m_errno = errno;
        m_lastError = "socket(SO_BROADCAST) failed";
        return false;
    }
    return true;
}

bool UdpSocket::bind(int port, const std::string &address)
{
    close();
    if (!open())
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (port < 0 || port > 65535 || (!address.empty() && !parseAddress(address, &addr.sin_addr))) {
        fail("socket bind failed, err:", EINVAL);
        return false;
    }
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        fail("socket bind failed, err:", errno);
        return false;
    }
    return true;
}

int UdpSocket::receiveFrom(std::string &data, std::string &senderAddress, int maxLength)
{
    if (m_fd < 0) {
        m_errno = EBADF;
        m_lastError = "invalid socket.";
        return -1;
    }
    data.assign(static_cast<size_t>(maxLength > 0 ? maxLength : 0), '\0');
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
        fail("recvfrom failed, err:", errno);
        return -1;
    }
    if (fds[1].revents) {
        fail("recvfrom failed, err:", ECANCELED);
        return -1;
    }
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // Non-blocking: a datagram that poll announced may have been dropped since (a bad checksum).
    // MSG_TRUNC answers the datagram's real length, so an oversized one is recognised.
    const ssize_t n = ::recvfrom(m_fd, data.data(), data.size(), MSG_DONTWAIT | MSG_TRUNC,
                                 reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n < 0) {
        fail("recvfrom failed, err:", errno);
        return -1;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    senderAddress = text;
    if (static_cast<size_t>(n) > data.size()) {
        fail("recvfrom failed, err:", EMSGSIZE);
        return -1;
    }
    return static_cast<int>(n);
}

int UdpSocket::sendTo(const std::string &address, int port, const std::string &data)
{
    if (!open()) {
        fail("sentto failed, err:", m_errno);
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (port < 0 || port > 65535 || !parseAddress(address, &addr.sin_addr)) {
        fail("sentto failed, err:", EINVAL);
        return -1;
    }
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const ssize_t n = ::sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    if (n < 0) {
        fail("sentto failed, err:", errno);
        return -1;
    }
    return static_cast<int>(n);
}

void UdpSocket::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_fd = -1;
    m_wakeFd = -1;
}

void UdpSocket::interrupt()
{
    if (m_wakeFd < 0)
        return;
    const uint64_t one = 1;
    // The counter only grows, so the socket stays interrupted until it is closed.
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

bool UdpSocket::isPerDatagramError(int err)
{
    switch (err) {
    case EINTR:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EMSGSIZE:
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENOMEM:
    case ENOBUFS:
        return true;
    default:
        return false;
    }
}
