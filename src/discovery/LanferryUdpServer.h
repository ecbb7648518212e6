// LAN discovery: announces this device once a second by UDP broadcast, answers
// devices that ask, and keeps the table of the devices it hears, keyed by IPv4 address.
#pragma once

#include "UdpSocket.h"
#include "core/ServerInfo.h"

#include <QMetaType>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LanferryUdpServer {
public:
    // One known device.
    struct ServerItem {
        // From a process-wide counter; a new number for every accepted announcement.
        int32_t id = 0;
        // Dotted IPv4 text; the table key.
        std::string ip;
        // The port the device is reached at: ours when it announced, or the one given when added by hand.
        int32_t port = 0;
        // "pwd" is "*" or empty when the identity came from a datagram.
        ServerInfo info;
        // Wall-clock milliseconds of the last announcement; 0 for a device added by hand that has not
        // announced itself since, which never expires.
        int64_t lastSeen = 0;
    };

    enum ServerItemStatus { Online = 1, Offline = 2 };

    using StatusCallback = std::function<void(const ServerItem &, ServerItemStatus)>;
    using ErrorCallback = std::function<void(const std::string &)>;

    // Datagram sizes, and how long an announced device stays without announcing again.
    static constexpr int kReceiveBufferSize = 1472;
    static constexpr int64_t kExpiryMs = 6000;
    // Announced devices kept at most; a new one beyond it replaces the one heard from longest ago.
    static constexpr size_t kMaxDevices = 1024;
    // A query ("client") is answered at most this often per asking address.
    static constexpr int64_t kAnswerIntervalMs = 1000;

    LanferryUdpServer() = default;
    ~LanferryUdpServer();
    LanferryUdpServer(const LanferryUdpServer &) = delete;
    LanferryUdpServer &operator=(const LanferryUdpServer &) = delete;

    // Binds the UDP port equal to the configured service port and starts the receive and announce threads.
    // statusCallback hears of devices coming (Online) and saying goodbye (Offline); errorCallback receives
    // the texts of failed answers and announcements. Both run on the service's threads without the table lock
    // held, so they may read the table but must not start or stop the service; either may be empty.
    // False, with lastError(), when the identity cannot be loaded or the port cannot be bound.
    bool start(StatusCallback statusCallback, ErrorCallback errorCallback);
    // Says goodbye when running, then ends and joins both threads. The table is kept.
    void stop();
    bool isRunning() const { return m_running; }

    // Copies of the table's entries in address order; only those of one device when uid is not empty.
    std::vector<ServerItem> listServers(const std::string &uid = std::string()) const;
    // Puts a device reached by hand into the table; an existing entry only takes the new identity.
    void addServer(const std::string &ip, int port, const ServerInfo &info);

    // Sends text to the broadcast address of every local network at the configured port. True when every
    // send succeeded (also when there is no local network); otherwise error tells the last failure.
    static bool broadcast(std::string &error, const std::string &text);
    // The local IPv4 addresses that discovery works on: those of every interface, whatever its state, that
    // begin with "192.168", "172.16" or "172.31".
    static std::vector<std::string> localAddresses();

    // Whether an address text passes the local address filter.
    static bool isDiscoveryAddress(const std::string &address);
    // Whether address lies in the network of a local interface whose address is private (10/8,
    // 172.16/12, 192.168/16), by that interface's netmask: only such askers are answered.
    static bool isOnLocalPrivateNetwork(const std::string &address);
    // The address with its last decimal group replaced by "255".
    static std::string broadcastAddress(const std::string &address);
    // The datagram text: the identity with the password masked, plus "msg".
    static std::string messageText(const ServerInfo &info, const std::string &msg);

    std::string lastError() const;

private:
    void receiveLoop(StatusCallback statusCallback);
    void handleDatagram(const std::string &text, const std::string &sender, const StatusCallback &statusCallback);
    void announceLoop();
    void expire();
    // Whether a query from sender may be answered now (and, if so, notes the answer).
    bool mayAnswer(const std::string &sender);
    void setLastError(const std::string &text);
    void reportError(const std::string &text) const;
    void setRunning(bool running);

    mutable std::mutex m_errorMutex;
    std::string m_lastError;
    std::thread m_receiveThread;
    std::thread m_announceThread;
    mutable std::mutex m_tableMutex;
    std::map<std::string, ServerItem> m_table;
    std::map<std::string, int64_t> m_lastAnswerMs; // receive thread only
    UdpSocket m_socket;
    std::atomic<bool> m_running{false};
    // Lets stop() end the announce thread's sleep at once.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    ErrorCallback m_errorCallback;
};

Q_DECLARE_METATYPE(LanferryUdpServer::ServerItem)
