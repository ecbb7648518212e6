// A misbehaving sender for the end-to-end tests: it speaks the protocol with
// the real client and server libraries but offers tasks that try to place files
// outside the receiver's save folder: a task whose "root" climbs out ("../../x")
// and a folder whose listing names "../evil" and "/tmp/evil". It prints one
// line per thing the receiver does:
//   ready UID            offered TID accepted|refused STATUS
//   read TID SUBPATH     progress FID STATUS
//   notif TID 0|1
// and ends on "quit" or end of standard input.
//
//   evil_peer HOST PORT PASSWORD
#include "client/LanferryHttpClient.h"
#include "core/Json.h"
#include "core/ServerInfo.h"
#include "server/LanferryHttpServer.h"
#include "store/TaskStore.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>

namespace {

std::mutex printMutex;

void say(const std::string &line)
{
    std::lock_guard<std::mutex> lock(printMutex);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// What every file read answers: a few bytes, then the end.
OnReadFileResult payload(int64_t offset, char *buffer, int32_t size)
{
    static const char kBytes[] = "pwned\n";
    OnReadFileResult r;
    const int64_t total = sizeof kBytes - 1;
    r.size = static_cast<int32_t>(std::min<int64_t>(size, std::max<int64_t>(0, total - offset)));
    std::memcpy(buffer, kBytes + std::min(offset, total), static_cast<size_t>(r.size));
    r.eof = true;
    return r;
}

std::string listing()
{
    JsonPtr list(json_object_new_array());
    for (const char *name : {"../evil", "/tmp/evil", "inner/../../evil", "fine.txt"}) {
        json_object *entry = json_object_new_object();
        json_object_object_add(entry, "subpath", json_object_new_string(name));
        json_object_object_add(entry, "isdir", json_object_new_boolean(0));
        json_object_object_add(entry, "total", json_object_new_int64(6));
        json_object_array_add(list.get(), entry);
    }
    json_object *dir = json_object_new_object();
    json_object_object_add(dir, "subpath", json_object_new_string(".."));
    json_object_object_add(dir, "isdir", json_object_new_boolean(1));
    json_object_object_add(dir, "total", json_object_new_int64(0));
    json_object_array_add(list.get(), dir);
    return jsonText(list.get());
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: evil_peer HOST PORT PASSWORD\n");
        return 2;
    }
    const PeerEndpoint receiver{argv[1], std::atoi(argv[2]), argv[3]};
    const ServerInfo me = loadServerInfo();

    LanferryHttpServer server;
    server.onReadFile = [](const std::string &tid, const TransferFile &file, const std::string &subpath, int64_t offset,
                           char *buffer, int32_t size) {
        say("read " + tid + " " + (subpath.empty() ? std::string("-") : subpath));
        if (file.mime == kDirectoryMime && subpath.empty()) {
            OnReadFileResult r;
            r.isDir = true;
            r.data = listing();
            return r;
        }
        return payload(offset, buffer, size);
    };
    server.onReadThumb = [](const std::string &, const std::string &) { return OnReadThumbResult{true, {}, {}}; };
    server.onServerError = [](const std::string &message) { say("server-error " + message); };
    server.onTaskRecv = [](const TransferTask &, const std::vector<TransferFile> &) { return OnTaskRecvResult(); };
    server.onTaskProgress = [](const std::string &, const std::string &fid, const TransferFileStatus &status) {
        say("progress " + fid + " " + std::to_string(status.status));
    };
    server.onTaskNotif = [](const TransferTask &task, bool accepted) {
        say("notif " + task.uid + " " + (accepted ? "1" : "0"));
    };
    server.onTaskStart = [](const std::string &tid) { say("start " + tid); };
    server.onTaskStop = [](const std::string &tid) { say("stop " + tid); };
    server.onShareFile = [](const std::string &, const ShareFile &, std::vector<TransferFile> &) {};
    server.onShareReq = [](const std::string &, const ServerInfo &) {};
    if (!server.start()) {
        std::fprintf(stderr, "evil_peer: %s\n", server.lastError().c_str());
        return 1;
    }

    LanferryHttpClient client;
    ServerInfo peer;
    const HttpResponse info = client.getInfo(receiver, &peer);
    if (info.status != 200) {
        std::fprintf(stderr, "evil_peer: the receiver answered %d %s\n", info.status, info.body.c_str());
        return 1;
    }
    say("ready " + me.uid);

    TaskStore store(true);
    auto offer = [&](const std::string &root, const std::string &name, const std::string &mime) {
        TransferTask task = newOutgoingTask(receiver.host, receiver.port, peer.uid, peer.name, peer.type);
        task.pwd = receiver.pwd;
        task.root = root;
        std::vector<TransferFile> files{newTransferFile(task.uid, root, "/nonexistent/" + name, "", name, mime, 6)};
        if (!store.createTask(task, files)) {
            std::fprintf(stderr, "evil_peer: %s\n", store.lastError().c_str());
            return;
        }
        const HttpResponse r = client.taskRecv(receiver, mirrorForPeer(task, me), files);
        say("offered " + task.uid + " " + files.front().uid + " " + std::to_string(r.status));
    };
    // A task whose save folder climbs out of the receiver's.
    offer("../../x", "payload.bin", "application/octet-stream");
    // A folder whose listing names places outside it.
    offer("", "trap", kDirectoryMime);

    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
    }
    server.stop();
    return 0;
}
