// Two halves of the loopback transfer benchmark, run as separate processes so
// that the receiver's memory is measured alone:
//   serve <file> <port> <ready-file>   offers <file> in a send task and serves it
//                                      until stdin closes; writes "tid fid" to
//                                      <ready-file> once listening
//   receive <port> <tid> <fid> <dest>  pulls the file with receiveFile and prints
//                                      "bytes seconds peak-rss-kib"
// Both use the data folder that XDG_DATA_HOME points at.
#include "client/FileReceive.h"
#include "server/FileWork.h"
#include "server/LanferryHttpServer.h"
#include "store/TaskStore.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <string>
#include <thread>

namespace {

int serve(const std::string &file, int port, const std::string &readyFile)
{
    ServerInfo me = loadServerInfo();
    me.port = port;
    me.pwd.clear();
    if (!saveServerInfo(me)) {
        std::cerr << "cannot save the settings\n";
        return 1;
    }
    TransferTask task = newOutgoingTask("127.0.0.1", port, "bench-peer", "Bench", "win");
    std::vector<TransferFile> files;
    addLocalPath(task.uid, files, file, std::string(), std::string());
    TaskStore store(true);
    if (files.size() != 1 || !store.createTask(task, files)) {
        std::cerr << "cannot create the send task: " << store.lastError() << "\n";
        return 1;
    }

    LanferryHttpServer server;
    server.onReadFile = readFileForPeer;
    server.onReadThumb = makeThumbnail;
    server.onServerError = [](const std::string &m) { std::cerr << m << "\n"; };
    server.onTaskRecv = [](const TransferTask &, const std::vector<TransferFile> &) { return OnTaskRecvResult(); };
    server.onTaskProgress = [](const std::string &, const std::string &, const TransferFileStatus &) {};
    server.onTaskNotif = [](const TransferTask &, bool) {};
    server.onTaskStart = [](const std::string &) {};
    server.onTaskStop = [](const std::string &) {};
    server.onShareFile = [](const std::string &, const ShareFile &, std::vector<TransferFile> &) {};
    server.onShareReq = [](const std::string &, const ServerInfo &) {};
    if (!server.start()) {
        std::cerr << server.lastError() << "\n";
        return 1;
    }
    for (int i = 0; i < 500 && !server.isListening(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ofstream(readyFile) << task.uid << " " << files[0].uid << "\n";
    // Serve until the script closes our stdin.
    std::string ignored;
    while (std::getline(std::cin, ignored)) {
    }
    server.stop();
    return 0;
}

int receive(int port, const std::string &tid, const std::string &fid, const std::string &dest)
{
    LanferryHttpClient client;
    const auto start = std::chrono::steady_clock::now();
    const size_t slash = dest.rfind('/');
    const ReceiveTarget target{slash == std::string::npos ? std::string(".") : dest.substr(0, slash),
                               slash == std::string::npos ? dest : dest.substr(slash + 1),
                               std::numeric_limits<int64_t>::max()};
    const TransferFileStatus st = receiveFile(client, PeerEndpoint{"127.0.0.1", port, ""}, TaskKey{tid, false}, fid,
                                              std::string(), 0, target, nullptr, nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (st.status != 1) {
        std::cerr << "receive failed: " << st.error << "\n";
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%lld %.3f %ld\n", static_cast<long long>(st.offset), seconds, usage.ru_maxrss);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "serve" && argc == 5)
        return serve(argv[2], std::stoi(argv[3]), argv[4]);
    if (mode == "receive" && argc == 6)
        return receive(std::stoi(argv[2]), argv[3], argv[4], argv[5]);
    std::cerr << "usage: " << argv[0] << " serve <file> <port> <ready-file>\n"
              << "       " << argv[0] << " receive <port> <tid> <fid> <dest>\n";
    return 2;
}
