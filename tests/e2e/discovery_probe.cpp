// Test tool for the end-to-end discovery tests: runs a discovery service and
// reports its table and events, or sends and receives raw datagrams.
//
//   discovery_probe serve [--port P] [--pwd TEXT] [--name TEXT]
//       Saves the options into the identity, starts the service and prints
//       "ready <uid> <port>" (or "start-failed <text>"), then "event online|offline
//       <item>" and "error <text>" as they happen. Commands on standard input:
//       "list [uid]" prints "table <now ms> <count>", one "entry <item>" per entry
//       and "end"; "add <ip> <port> <uid> [name]"; "stop"; "start"; "quit".
//   discovery_probe send [--bind ADDRESS:PORT] [--broadcast] [--repeat N] [--wait MS] IP PORT PAYLOAD
//       Sends one datagram (or N in a row), then prints "recv <ip> <length> <text>" for every
//       datagram that arrives within MS. PAYLOAD is text:TEXT, hex:HEX or fill:N.
//   discovery_probe listen PORT MS
//       Prints every datagram that arrives at PORT within MS.
//   discovery_probe addresses
//       Prints the local addresses discovery works on, one a line.
#include "discovery/LanferryUdpServer.h"

#include <algorithm>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

namespace {

std::mutex g_outputMutex;

void say(const std::string &line)
{
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string itemJson(const LanferryUdpServer::ServerItem &item)
{
    JsonPtr o(json_object_new_object());
    jsonAddInt(o.get(), "id", item.id);
    jsonAdd(o.get(), "ip", item.ip);
    jsonAddInt(o.get(), "port", item.port);
    jsonAddInt64(o.get(), "lastSeen", item.lastSeen);
    json_object_object_add(o.get(), "info", serverInfoToJson(item.info, false).release());
    return json_object_to_json_string_ext(o.get(), JSON_C_TO_STRING_PLAIN);
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int usage()
{
    std::fputs("usage: discovery_probe serve|send|listen|addresses ... (see the source)\n", stderr);
    return 2;
}

bool startService(LanferryUdpServer &server)
{
    const bool ok = server.start(
        [](const LanferryUdpServer::ServerItem &item, LanferryUdpServer::ServerItemStatus status) {
            say(std::string("event ") + (status == LanferryUdpServer::Online ? "online " : "offline ") +
                itemJson(item));
        },
        [](const std::string &text) { say("error " + text); });
    if (!ok)
        say("start-failed " + server.lastError());
    return ok;
}

int serve(int argc, char **argv)
{
    std::string error;
    ServerInfo me = loadServerInfo(&error);
    if (me.uid.empty()) {
        say("start-failed " + error);
        return 1;
    }
    me.port = kDefaultPort;
    me.pwd.clear();
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--port")
            me.port = std::atoi(argv[i + 1]);
        else if (option == "--pwd")
            me.pwd = argv[i + 1];
        else if (option == "--name")
            me.name = argv[i + 1];
        else
            return usage();
    }
    if (!saveServerInfo(me, &error)) {
        say("start-failed " + error);
        return 1;
    }

    LanferryUdpServer server;
    if (!startService(server))
        return 1;
    say("ready " + me.uid + " " + std::to_string(me.port));

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "list") {
            std::string uid;
            in >> uid;
            const auto items = server.listServers(uid);
            say("table " + std::to_string(nowMs()) + " " + std::to_string(items.size()));
            for (const auto &item : items)
                say("entry " + itemJson(item));
            say("end");
        } else if (command == "add") {
            std::string ip, uid, name;
            int port = 0;
            in >> ip >> port >> uid >> name;
            server.addServer(ip, port, ServerInfo{uid, name, std::string(), "win", port});
            say("added");
        } else if (command == "stop") {
            server.stop();
            say("stopped");
        } else if (command == "start") {
            if (startService(server))
                say("started");
        } else if (command == "quit") {
            break;
        } else if (!command.empty()) {
            say("unknown " + command);
        }
    }
    server.stop();
    return 0;
}

bool hexDecode(const std::string &hex, std::string &out)
{
    if (hex.size() % 2)
        return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1)
            return false;
        out.push_back(static_cast<char>(value));
    }
    return true;
}

// Prints what arrives at socket until ms have passed.
void receiveFor(UdpSocket &socket, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::string data, from;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return;
        pollfd fd{socket.handle(), POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
            continue;
        const int n = socket.receiveFrom(data, from, 65536);
        if (n < 0) {
            say("recv-error " + socket.lastError());
            continue;
        }
        say("recv " + from + " " + std::to_string(n) + " " + std::string(data.c_str()));
    }
}

int send(int argc, char **argv)
{
    std::string bindAddress;
    int bindPort = 0, waitMs = 0, repeat = 1;
    bool broadcast = false;
    int i = 2;
    for (; i < argc && std::string(argv[i]).rfind("--", 0) == 0; ++i) {
        const std::string option = argv[i];
        if (option == "--broadcast") {
            broadcast = true;
        } else if (option == "--bind" && i + 1 < argc) {
            const std::string value = argv[++i];
            const size_t colon = value.find(':');
            bindAddress = value.substr(0, colon);
            bindPort = colon == std::string::npos ? 0 : std::atoi(value.c_str() + colon + 1);
        } else if (option == "--wait" && i + 1 < argc) {
            waitMs = std::atoi(argv[++i]);
        } else if (option == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else {
            return usage();
        }
    }
    if (argc - i != 3)
        return usage();
    const std::string ip = argv[i], payloadArg = argv[i + 2];
    const int port = std::atoi(argv[i + 1]);
    std::string payload;
    if (payloadArg.rfind("text:", 0) == 0)
        payload = payloadArg.substr(5);
    else if (payloadArg.rfind("fill:", 0) == 0)
        payload.assign(static_cast<size_t>(std::atoi(payloadArg.c_str() + 5)), 'x');
    else if (payloadArg.rfind("hex:", 0) != 0 || !hexDecode(payloadArg.substr(4), payload))
        return usage();

    UdpSocket socket;
    if (!socket.bind(bindPort, bindAddress) || (broadcast && !socket.setBroadcast(true))) {
        say("send-failed " + socket.lastError());
        return 1;
    }
    for (int n = 0; n < repeat; ++n) {
        if (socket.sendTo(ip, port, payload) < 0) {
            say("send-failed " + socket.lastError());
            return 1;
        }
        say("sent " + std::to_string(payload.size()));
    }
    receiveFor(socket, waitMs);
    return 0;
}

int listen(int argc, char **argv)
{
    if (argc != 4)
        return usage();
    UdpSocket socket;
    if (!socket.bind(std::atoi(argv[2]))) {
        say("listen-failed " + socket.lastError());
        return 1;
    }
    say("listening");
    receiveFor(socket, std::atoi(argv[3]));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "serve")
        return serve(argc, argv);
    if (mode == "send")
        return send(argc, argv);
    if (mode == "listen")
        return listen(argc, argv);
    if (mode == "addresses") {
        for (const std::string &address : LanferryUdpServer::localAddresses())
            say(address);
        return 0;
    }
    return usage();
}
