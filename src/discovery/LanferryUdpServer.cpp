#include "LanferryUdpServer.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

std::atomic<int32_t> g_nextItemId{1};

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

LanferryUdpServer::~LanferryUdpServer()
{
    stop();
}

std::string LanferryUdpServer::lastError() const
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_lastError;
}

void LanferryUdpServer::setLastError(const std::string &text)
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_lastError = text;
}

void LanferryUdpServer::reportError(const std::string &text) const
{
    if (m_errorCallback)
        m_errorCallback(text);
}

void LanferryUdpServer::setRunning(bool running)
{
    // Under the wake mutex, so the announce thread cannot miss the change between its test and its wait.
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    m_running = running;
    m_wake.notify_all();
}

bool LanferryUdpServer::start(StatusCallback statusCallback, ErrorCallback errorCallback)
{
    stop();
    m_errorCallback = std::move(errorCallback);
    std::string error;
    const ServerInfo me = loadServerInfo(&error);
    if (me.uid.empty()) {
        setLastError(error);
        return false;
    }
    if (!m_socket.bind(me.port)) {
        setLastError(m_socket.lastError());
        return false;
    }
    // Set before the receive thread starts, so that a receive thread that ends at once leaves it cleared.
    setRunning(true);
    m_receiveThread = std::thread(&LanferryUdpServer::receiveLoop, this, std::move(statusCallback));
    m_announceThread = std::thread(&LanferryUdpServer::announceLoop, this);
    return true;
}

void LanferryUdpServer::stop()
{
    if (m_running) {
        const ServerInfo me = loadServerInfo();
        if (!me.uid.empty()) {
            std::string ignored;
            broadcast(ignored, messageText(me, "bye"));
        }
    }
    m_socket.interrupt();
    if (m_receiveThread.joinable())
        m_receiveThread.join();
    // Closed only now: closing a descriptor that another thread still waits on could hand its number to a
    // socket opened meanwhile.
    m_socket.close();
    setRunning(false);
    if (m_announceThread.joinable())
        m_announceThread.join();
}

std::vector<LanferryUdpServer::ServerItem> LanferryUdpServer::listServers(const std::string &uid) const
{
    std::vector<ServerItem> items;
    std::lock_guard<std::mutex> lock(m_tableMutex);
    for (const auto &entry : m_table) {
        if (uid.empty() || entry.second.info.uid == uid)
            items.push_back(entry.second);
    }
    return items;
}

void LanferryUdpServer::addServer(const std::string &ip, int port, const ServerInfo &info)
{
    std::lock_guard<std::mutex> lock(m_tableMutex);
    auto it = m_table.find(ip);
    if (it != m_table.end()) {
        it->second.info = info;
        return;
    }
    ServerItem item;
    item.id = g_nextItemId.fetch_add(1);
    item.ip = ip;
    item.port = port;
    item.info = info;
    item.lastSeen = 0;
    m_table.emplace(ip, std::move(item));
}

void LanferryUdpServer::receiveLoop(StatusCallback statusCallback)
{
    std::string data, sender;
    for (;;) {
        const int n = m_socket.receiveFrom(data, sender, kReceiveBufferSize);
        if (n < 0) {
            // A bad datagram, a signal or an error queued for an earlier send must not end discovery.
            if (UdpSocket::isPerDatagramError(m_socket.errorNumber()))
                continue;
            break;
        }
        // An empty datagram is a datagram like any other (and is ignored below), not the end of the loop.
        const size_t length = ::strnlen(data.data(), static_cast<size_t>(n));
        handleDatagram(std::string(data.data(), length), sender, statusCallback);
    }
    setRunning(false);
}

void LanferryUdpServer::handleDatagram(const std::string &text, const std::string &sender,
                                       const StatusCallback &statusCallback)
{
    // Our own broadcasts come back to us.
    const std::vector<std::string> mine = localAddresses();
    if (std::find(mine.begin(), mine.end(), sender) != mine.end())
        return;

    const JsonPtr json = jsonParse(text);
    const std::string msg = jsonString(json.get(), "msg");
    const ServerInfo info = serverInfoFromJson(json.get());
    if (info.uid.empty())
        return;

    if (msg == "client") {
        // Answers go only to askers on our own networks, and not faster than one a
        // second each: the answer must not become a reflector for forged senders.
        if (!mayAnswer(sender))
            return;
        std::string error;
        const ServerInfo me = loadServerInfo(&error);
        if (me.uid.empty()) {
            reportError("send server msg to remote failed. " + error);
            return;
        }
        if (m_socket.sendTo(sender, me.port, messageText(me, "server")) < 0)
            reportError("send server msg to remote failed. " + m_socket.lastError());
        return;
    }
    if (msg != "server" && msg != "bye")
        return;

    ServerItem item;
    item.ip = sender;
    item.port = loadServerInfo().port;
    item.info = info;

    if (msg == "server") {
        item.id = g_nextItemId.fetch_add(1);
        item.lastSeen = nowMs();
        bool isNew;
        {
            std::lock_guard<std::mutex> lock(m_tableMutex);
            if (!m_table.count(sender)) {
                // Full: the announced device heard from longest ago makes room (hand-added ones stay).
                size_t announced = 0;
                auto stalest = m_table.end();
                for (auto it = m_table.begin(); it != m_table.end(); ++it) {
                    if (it->second.lastSeen == 0)
                        continue;
                    ++announced;
                    if (stalest == m_table.end() || it->second.lastSeen < stalest->second.lastSeen)
                        stalest = it;
                }
                if (announced >= kMaxDevices && stalest != m_table.end())
                    m_table.erase(stalest);
            }
            auto result = m_table.insert_or_assign(sender, item);
            isNew = result.second;
        }
        if (isNew && statusCallback)
            statusCallback(item, Online);
        return;
    }

    item.lastSeen = 0;
    {
        std::lock_guard<std::mutex> lock(m_tableMutex);
        m_table.erase(sender);
    }
    if (statusCallback)
        statusCallback(item, Offline);
}

bool LanferryUdpServer::mayAnswer(const std::string &sender)
{
    const int64_t now = nowMs();
    auto it = m_lastAnswerMs.find(sender);
    if (it != m_lastAnswerMs.end() && now - it->second < kAnswerIntervalMs && now >= it->second)
        return false;
    if (!isOnLocalPrivateNetwork(sender))
        return false;
    if (m_lastAnswerMs.size() >= kMaxDevices) {
        // Only the last second matters: forget the rest.
        for (auto old = m_lastAnswerMs.begin(); old != m_lastAnswerMs.end();) {
            if (now - old->second >= kAnswerIntervalMs || now < old->second)
                old = m_lastAnswerMs.erase(old);
            else
                ++old;
        }
        if (m_lastAnswerMs.size() >= kMaxDevices)
            return false;
    }
    m_lastAnswerMs[sender] = now;
    return true;
}

void LanferryUdpServer::expire()
{
    const int64_t now = nowMs();
    std::lock_guard<std::mutex> lock(m_tableMutex);
    for (auto it = m_table.begin(); it != m_table.end();) {
        if (it->second.lastSeen != 0 && now - it->second.lastSeen >= kExpiryMs)
            it = m_table.erase(it);
        else
            ++it;
    }
}

void LanferryUdpServer::announceLoop()
{
    while (m_running) {
        expire();

        std::string error;
        const ServerInfo me = loadServerInfo(&error);
        if (me.uid.empty()) {
            setLastError(error);
            reportError("broadcast(server) failed. " + error);
        } else if (!broadcast(error, messageText(me, "server"))) {
            setLastError(error);
            reportError("broadcast(server) failed. " + error);
        }

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        m_wake.wait_until(lock, deadline, [this] { return !m_running; });
    }
}

bool LanferryUdpServer::broadcast(std::string &error, const std::string &text)
{
    UdpSocket socket;
    if (!socket.setBroadcast(true)) {
        error = "LanferryUdpServer::broadcast failed. " + socket.lastError();
        return false;
    }
    error.clear();
    bool ok = true;
    for (const std::string &address : localAddresses()) {
        const std::string target = broadcastAddress(address);
        const int port = loadServerInfo().port;
        if (socket.sendTo(target, port, text) < 0) {
            error = "LanferryUdpServer::broadcast(" + target + ") failed. " + socket.lastError();
            ok = false;
        }
    }
    socket.close();
    return ok;
}

std::vector<std::string> LanferryUdpServer::localAddresses()
{
    std::vector<std::string> addresses;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (ifaddrs *ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto *in = reinterpret_cast<const sockaddr_in *>(ifa->ifa_addr);
        if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            continue;
        if (isDiscoveryAddress(text))
            addresses.emplace_back(text);
    }
    ::freeifaddrs(list);
    return addresses;
}

bool LanferryUdpServer::isOnLocalPrivateNetwork(const std::string &address)
{
    in_addr asker{};
    if (::inet_pton(AF_INET, address.c_str(), &asker) != 1)
        return false;
    const auto isPrivate = [](uint32_t a) {
        return (a >> 24) == 10 || (a >> 20) == ((172u << 4) | 1u) || (a >> 16) == ((192u << 8) | 168u);
    };
    const uint32_t who = ntohl(asker.s_addr);
    bool found = false;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    for (ifaddrs *ifa = list; ifa && !found; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || !ifa->ifa_netmask || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        const uint32_t mine = ntohl(reinterpret_cast<const sockaddr_in *>(ifa->ifa_addr)->sin_addr.s_addr);
        const uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in *>(ifa->ifa_netmask)->sin_addr.s_addr);
        found = isPrivate(mine) && mask != 0 && (mine & mask) == (who & mask) && who != mine;
    }
    ::freeifaddrs(list);
    return found;
}

bool LanferryUdpServer::isDiscoveryAddress(const std::string &address)
{
    // A test on the text, not on the network: 172.160.1.2 passes, 172.17.0.1 does not.
    for (const char *prefix : {"192.168", "172.16", "172.31"}) {
        if (address.compare(0, std::strlen(prefix), prefix) == 0)
            return true;
    }
    return false;
}

std::string LanferryUdpServer::broadcastAddress(const std::string &address)
{
    // The network mask is not consulted: every local network is taken to be a /24.
    const size_t dot = address.rfind('.');
    if (dot == std::string::npos || dot + 1 == address.size())
        return address;
    for (size_t i = dot + 1; i < address.size(); ++i) {
        if (address[i] < '0' || address[i] > '9')
            return address;
    }
    return address.substr(0, dot) + ".255";
}

std::string LanferryUdpServer::messageText(const ServerInfo &info, const std::string &msg)
{
    JsonPtr json = serverInfoToJson(info, true);
    jsonAdd(json.get(), "msg", msg);
    return jsonText(json.get());
}
