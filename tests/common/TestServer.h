// The real HTTPS service on 127.0.0.1 at a free port, with the real file work
// installed and every other callback recorded, for tests of the server and of
// its clients. Create it inside a TempDataHome.
#pragma once

#include "FreePort.h"
#include "server/FileWork.h"
#include "server/LanferryHttpServer.h"

#include "core/ServerInfo.h"

#include <QTest>

#include <mutex>
#include <string>
#include <vector>

class TestServer {
public:
    struct Calls {
        std::vector<std::pair<TransferTask, std::vector<TransferFile>>> recv;
        std::vector<std::pair<TransferTask, bool>> notif;
        std::vector<std::tuple<std::string, std::string, TransferFileStatus>> progress;
        std::vector<std::string> starts, stops, errors;
        std::vector<std::pair<std::string, ServerInfo>> shareReqs;
    };

    TestServer()
    {
        server.onReadFile = readFileForPeer;
        server.onReadThumb = makeThumbnail;
        server.onShareFile = [](const std::string &tid, const ShareFile &e, std::vector<TransferFile> &files) {
            addLocalPath(tid, files, e.uri, std::string(), e.uid);
        };
        server.onServerError = [this](const std::string &m) { record([&](Calls &c) { c.errors.push_back(m); }); };
        server.onTaskRecv = [this](const TransferTask &t, const std::vector<TransferFile> &f) {
            record([&](Calls &c) { c.recv.emplace_back(t, f); });
            return OnTaskRecvResult();
        };
        server.onTaskProgress = [this](const std::string &tid, const std::string &fid, const TransferFileStatus &s) {
            record([&](Calls &c) { c.progress.emplace_back(tid, fid, s); });
        };
        server.onTaskNotif = [this](const TransferTask &t, bool a) {
            if (onNotif)
                onNotif(t, a);
            record([&](Calls &c) { c.notif.emplace_back(t, a); });
        };
        server.onTaskStart = [this](const std::string &t) { record([&](Calls &c) { c.starts.push_back(t); }); };
        server.onTaskStop = [this](const std::string &t) { record([&](Calls &c) { c.stops.push_back(t); }); };
        server.onShareReq = [this](const std::string &a, const ServerInfo &s) {
            record([&](Calls &c) { c.shareReqs.emplace_back(a, s); });
        };
    }

    // Writes a free port (and the password) into the settings and starts listening.
    bool start(const std::string &password = std::string())
    {
        port = freePort();
        ServerInfo me = loadServerInfo();
        me.port = port;
        me.pwd = password;
        if (!saveServerInfo(me) || !server.start())
            return false;
        return QTest::qWaitFor([this] { return server.isListening(); }, 5000);
    }

    Calls calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

    LanferryHttpServer server;
    int port = 0;
    // Runs inside onTaskNotif, on the worker thread, before the call is recorded.
    std::function<void(const TransferTask &, bool)> onNotif;

private:
    template <typename F> void record(F f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        f(m_calls);
    }
    std::mutex m_mutex;
    Calls m_calls;
};
