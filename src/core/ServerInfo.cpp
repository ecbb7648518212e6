#include "ServerInfo.h"

#include "AtomicFile.h"
#include "DataFolder.h"
#include "Uuid.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

std::string platformType()
{
    return "win";
}

JsonPtr serverInfoToJson(const ServerInfo &info, bool maskPassword)
{
    JsonPtr o(json_object_new_object());
    jsonAdd(o.get(), "uid", info.uid);
    jsonAdd(o.get(), "name", info.name);
    jsonAdd(o.get(), "type", info.type);
    if (!info.pwd.empty())
        jsonAdd(o.get(), "pwd", maskPassword ? std::string("*") : info.pwd);
    jsonAddInt(o.get(), "port", info.port);
    return o;
}

ServerInfo serverInfoFromJson(json_object *value)
{
    ServerInfo info;
    info.uid = jsonString(value, "uid");
    info.name = jsonString(value, "name");
    info.pwd = jsonString(value, "pwd");
    info.type = jsonString(value, "type");
    info.port = jsonInt(value, "port");
    return info;
}

namespace {

// The settings are read for every request served and sent: the last reading
// is kept with the file's identity, and a stat tells whether it still holds.
// Saves replace the file (a new inode), so a changed password counts at the
// next request.
struct SettingsCache {
    std::mutex mutex;
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec ctime{}; // changes with the content and with the permissions
    ServerInfo info;
};

SettingsCache &settingsCache()
{
    static SettingsCache cache;
    return cache;
}

bool sameFile(const SettingsCache &c, const std::string &path, const struct stat &st)
{
    return c.size >= 0 && c.path == path && c.dev == st.st_dev && c.ino == st.st_ino && c.size == st.st_size &&
           c.ctime.tv_sec == st.st_ctim.tv_sec && c.ctime.tv_nsec == st.st_ctim.tv_nsec;
}

} // namespace

ServerInfo loadServerInfo(std::string *error)
{
    const std::string path = dataFile("server");
    SettingsCache &cache = settingsCache();
    struct stat before {};
    const bool known = ::stat(path.c_str(), &before) == 0 && S_ISREG(before.st_mode);
    if (known) {
        std::lock_guard<std::mutex> lock(cache.mutex);
        if (sameFile(cache, path, before))
            return cache.info;
    }
    ServerInfo info;
    std::string text, readError;
    if (readWholeFile(path, &text, &readError)) {
        if (JsonPtr json = jsonParse(text))
            info = serverInfoFromJson(json.get());
        // Kept only when the file did not change while it was read, and
        // not in the second it changed: file times tick coarsely, so a second
        // write of the same size within the same tick would look unchanged.
        struct stat after {};
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        if (known && !info.uid.empty() && now.tv_sec - before.st_ctim.tv_sec > 1 && ::stat(path.c_str(), &after) == 0 &&
            after.st_ino == before.st_ino && after.st_size == before.st_size &&
            after.st_ctim.tv_sec == before.st_ctim.tv_sec && after.st_ctim.tv_nsec == before.st_ctim.tv_nsec) {
            ServerInfo kept = info;
            if (kept.port < 1 || kept.port > 65535)
                kept.port = kDefaultPort;
            std::lock_guard<std::mutex> lock(cache.mutex);
            cache.path = path;
            cache.dev = before.st_dev;
            cache.ino = before.st_ino;
            cache.size = before.st_size;
            cache.ctime = before.st_ctim;
            cache.info = kept;
        }
    } else if (errno != ENOENT) {
        if (error)
            *error = "Cannot read the settings file " + path + ": " + readError;
        return {};
    }
    if (info.uid.empty()) {
        info = ServerInfo{newUuid(), homeFolderName(), std::string(), platformType(), kDefaultPort};
        std::string saveError;
        if (!saveServerInfo(info, &saveError)) {
            if (error)
                *error = "Cannot write the settings file " + path + ": " + saveError;
            return {};
        }
    }
    if (info.port < 1 || info.port > 65535)
        info.port = kDefaultPort;
    return info;
}

bool saveServerInfo(const ServerInfo &info, std::string *error)
{
    return writeFileAtomic(dataFile("server"), jsonText(serverInfoToJson(info, false).get()), error, true);
}
