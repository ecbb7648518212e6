// A thin owner of one IPv4 datagram socket. A blocked receive can be woken
// from another thread, because closing a socket does not wake it on Linux.
#pragma once

#include <string>

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;

    // Creates the socket unless one is open.
    bool open();
    // Opens the socket if needed and sets the permission to send to broadcast addresses.
    bool setBroadcast(bool on);
    // Closes any open socket, opens a new one and binds it; an empty address means any local address.
    bool bind(int port, const std::string &address = std::string());
    // Waits for one datagram and answers its length (0 for an empty datagram); data is made maxLength
    // bytes long, zero-filled, and holds the datagram; senderAddress is the sender's dotted IPv4 address.
    // Answers -1 with lastError() and errorNumber() on failure. A datagram longer than maxLength is
    // consumed and reported as EMSGSIZE; after interrupt() the wait ends with ECANCELED.
    int receiveFrom(std::string &data, std::string &senderAddress, int maxLength);
    // Opens the socket if needed and sends data to the dotted IPv4 address; the length sent or -1.
    int sendTo(const std::string &address, int port, const std::string &data);
    void close();

    // Ends a waiting receiveFrom, and every later one until close(). Safe to call from another thread
    // while the socket is open.
    void interrupt();

    bool isOpen() const { return m_fd >= 0; }
    int handle() const { return m_fd; }
    const std::string &lastError() const { return m_lastError; }
    // The system error number of the last failure.
    int errorNumber() const { return m_errno; }

    // Receive failures that concern one datagram (or none); receiving can go on after them.
    static bool isPerDatagramError(int err);

private:
    void fail(const char *prefix, int err);

    int m_fd = -1;
    int m_wakeFd = -1;
    std::string m_lastError;
    int m_errno = 0;
};
