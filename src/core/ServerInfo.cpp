#include "ServerInfo.h"

#include "AtomicFile.h"
#include "DataFolder.h"
#include "Uuid.h"

#include <cerrno>
#include <cstring>

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

ServerInfo loadServerInfo(std::string *error)
{
    const std::string path = dataFile("server");
    ServerInfo info;
    std::string text, readError;
    if (readWholeFile(path, &text, &readError)) {
        if (JsonPtr json = jsonParse(text))
            info = serverInfoFromJson(json.get());
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
