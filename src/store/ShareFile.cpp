#include "ShareFile.h"

#include "core/Uuid.h"

ShareFile newShareFile(const std::string &name, const std::string &uri, const std::string &mime,
                       const std::string &thumb, bool folder)
{
    return ShareFile{newUuid(), name, uri, mime, thumb, folder};
}

JsonPtr shareFileToJson(const ShareFile &file)
{
    JsonPtr o(json_object_new_object());
    jsonAdd(o.get(), "uid", file.uid);
    jsonAdd(o.get(), "name", file.name);
    jsonAdd(o.get(), "uri", file.uri);
    jsonAdd(o.get(), "mime", file.mime);
    jsonAdd(o.get(), "thumb", file.thumb);
    jsonAddBool(o.get(), "isFolder", file.folder);
    return o;
}

ShareFile shareFileFromJson(json_object *obj)
{
    ShareFile f;
    f.uid = jsonString(obj, "uid");
    f.name = jsonString(obj, "name");
    f.uri = jsonString(obj, "uri");
    f.mime = jsonString(obj, "mime");
    f.thumb = jsonString(obj, "thumb");
    f.folder = jsonBool(obj, "isFolder");
    return f;
}
