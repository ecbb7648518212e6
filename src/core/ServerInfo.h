// The device identity (id, name, password, platform type, service port), its
// JSON form, and the settings file "server" in the data folder that holds it.
#pragma once

#include "Json.h"

#include <string>

struct ServerInfo {
    std::string uid;
    std::string name;
    std::string pwd;
    std::string type;
    int32_t port = 0;
};

constexpr int32_t kDefaultPort = 20168;

// "win": the platform type peers know this program by.
std::string platformType();

// The members "uid", "name", "type", "pwd" (only when set; "*" when masked), "port".
JsonPtr serverInfoToJson(const ServerInfo &info, bool maskPassword);
ServerInfo serverInfoFromJson(json_object *value);

// The local identity. A missing file, one that is not JSON or one without an
// id gets a fresh identity, saved at once. A file that exists but cannot be
// read (a folder, no permission, an I/O error) is never replaced: the result
// then has an empty uid and error says why; likewise when a fresh identity
// cannot be saved. A port outside 1..65535 reads as the default.
ServerInfo loadServerInfo(std::string *error = nullptr);
// Replaces the settings file atomically. False (and error) when it could not.
bool saveServerInfo(const ServerInfo &info, std::string *error = nullptr);
