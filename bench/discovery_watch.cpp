// Watches the device table of this device's discovery service, as the devices
// screen does, and prints when a device comes online:
//   discovery_watch [--ready FILE] [--timeout SECONDS]
// prints "READY" (and creates FILE) once listening, then for the first device
// that comes online "ONLINE <wall-clock seconds> <ip> <uid>" and exits 0;
// exits 1 when none came within the timeout (default 30 s). Uses the data
// folder that XDG_DATA_HOME points at, so it listens on that identity's port.
#include "discovery/LanferryUdpServer.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

int main(int argc, char **argv)
{
    std::string readyFile;
    double timeoutSeconds = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--ready") == 0)
            readyFile = argv[i + 1];
        else if (std::strcmp(argv[i], "--timeout") == 0)
            timeoutSeconds = std::stod(argv[i + 1]);
    }

    std::mutex mutex;
    std::condition_variable seen;
    bool found = false;
    std::string line;
    LanferryUdpServer udp;
    const bool started = udp.start(
        [&](const LanferryUdpServer::ServerItem &item, LanferryUdpServer::ServerItemStatus status) {
            if (status != LanferryUdpServer::Online)
                return;
            // Taken on the receive thread, the moment the table holds the device.
            const double now =
                std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
            char text[256];
            std::snprintf(text, sizeof text, "ONLINE %.6f %s %s", now, item.ip.c_str(), item.info.uid.c_str());
            std::lock_guard<std::mutex> lock(mutex);
            if (!found) {
                found = true;
                line = text;
                seen.notify_all();
            }
        },
        nullptr);
    if (!started) {
        std::fprintf(stderr, "discovery_watch: %s\n", udp.lastError().c_str());
        return 2;
    }
    std::printf("READY\n");
    std::fflush(stdout);
    if (!readyFile.empty())
        std::ofstream(readyFile) << "READY\n";

    std::unique_lock<std::mutex> lock(mutex);
    const bool ok = seen.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return found; });
    if (ok) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    lock.unlock();
    udp.stop();
    return ok ? 0 : 1;
}
