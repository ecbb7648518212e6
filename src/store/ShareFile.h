// One entry of the list of files and folders this device shares, and its JSON form.
#pragma once

#include "core/Json.h"

#include <string>

struct ShareFile {
    std::string uid;
    std::string name; // display name
    std::string uri;  // local path of the file or folder
    std::string mime; // empty for folders
    std::string thumb;
    bool folder = false;
};

// A new entry with a fresh uid.
ShareFile newShareFile(const std::string &name, const std::string &uri, const std::string &mime,
                       const std::string &thumb, bool folder);

// "uid", "name", "uri", "mime", "thumb" and "isFolder" (boolean).
JsonPtr shareFileToJson(const ShareFile &file);
// Missing keys read as "" or false.
ShareFile shareFileFromJson(json_object *obj);
