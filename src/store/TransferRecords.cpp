#include "TransferRecords.h"

#include "core/Uuid.h"
#include "pathutil/PathUtil.h"

#include <ctime>

JsonPtr transferFileToJson(const TransferFile &file)
{
    JsonPtr o(json_object_new_object());
    jsonAdd(o.get(), "uid", file.uid);
    jsonAdd(o.get(), "tid", file.tid);
    jsonAdd(o.get(), "shareid", file.shareid);
    jsonAddInt64(o.get(), "total", file.total);
    jsonAdd(o.get(), "file_name", file.file_name);
    jsonAdd(o.get(), "mime", file.mime);
    return o;
}

TransferFile transferFileFromJson(json_object *obj)
{
    TransferFile f;
    f.uid = jsonString(obj, "uid");
    f.tid = jsonString(obj, "tid");
    f.shareid = jsonString(obj, "shareid");
    f.status.status = jsonInt(obj, "status");
    f.status.error = jsonString(obj, "error");
    f.root = jsonString(obj, "root");
    f.uri = jsonString(obj, "uri");
    f.thumb = jsonString(obj, "thumb");
    f.status.offset = jsonInt64(obj, "offset");
    f.total = jsonInt64(obj, "total");
    f.save_path = jsonString(obj, "save_path");
    f.file_name = jsonString(obj, "file_name");
    f.mime = jsonString(obj, "mime");
    return f;
}

JsonPtr transferTaskToJson(const TransferTask &task, const std::vector<TransferFile> &files)
{
    JsonPtr o(json_object_new_object());
    jsonAdd(o.get(), "uid", task.uid);
    jsonAdd(o.get(), "ip", task.ip);
    jsonAddInt(o.get(), "port", task.port);
    jsonAdd(o.get(), "pwd", task.pwd);
    jsonAdd(o.get(), "remote_uid", task.remote_uid);
    jsonAdd(o.get(), "remote_name", task.remote_name);
    jsonAdd(o.get(), "remote_type", task.remote_type);
    jsonAdd(o.get(), "local_uid", task.local_uid);
    jsonAddInt(o.get(), "from_me", task.from_me);
    jsonAddInt(o.get(), "started", task.started);
    jsonAdd(o.get(), "root", task.root);
    jsonAddInt64(o.get(), "created", task.created);
    json_object *array = json_object_new_array();
    for (const TransferFile &f : files)
        json_object_array_add(array, transferFileToJson(f).release());
    json_object_object_add(o.get(), "files", array);
    return o;
}

TransferTask transferTaskFromJson(json_object *obj, std::vector<TransferFile> *files)
{
    TransferTask t;
    t.uid = jsonString(obj, "uid");
    t.ip = jsonString(obj, "ip");
    t.port = jsonInt(obj, "port");
    t.pwd = jsonString(obj, "pwd");
    t.remote_uid = jsonString(obj, "remote_uid");
    t.remote_name = jsonString(obj, "remote_name");
    t.remote_type = jsonString(obj, "remote_type");
    t.local_uid = jsonString(obj, "local_uid");
    t.from_me = jsonInt(obj, "from_me");
    t.started = jsonInt(obj, "started");
    t.root = jsonString(obj, "root");
    t.created = jsonInt64(obj, "created");
    if (files) {
        files->clear();
        json_object *array = nullptr;
        if (obj && json_object_is_type(obj, json_type_object) && json_object_object_get_ex(obj, "files", &array) &&
            json_object_is_type(array, json_type_array)) {
            const size_t n = json_object_array_length(array);
            for (size_t i = 0; i < n; ++i)
                files->push_back(transferFileFromJson(json_object_array_get_idx(array, i)));
        }
    }
    return t;
}

JsonPtr fileStatusToJson(const TransferFileStatus &status)
{
    JsonPtr o(json_object_new_object());
    jsonAddInt(o.get(), "status", status.status);
    jsonAddBool(o.get(), "remote", status.remote);
    jsonAddInt64(o.get(), "offset", status.offset);
    jsonAdd(o.get(), "error", status.error);
    if (!status.desc.empty())
        jsonAdd(o.get(), "desc", status.desc);
    return o;
}

TransferFileStatus fileStatusFromJson(json_object *obj)
{
    TransferFileStatus s;
    s.status = jsonInt(obj, "status");
    s.remote = jsonBool(obj, "remote");
    s.offset = jsonInt64(obj, "offset");
    s.error = jsonString(obj, "error");
    s.desc = jsonString(obj, "desc");
    return s;
}

JsonPtr taskStatusToJson(const TransferTaskStatus &status)
{
    JsonPtr o(json_object_new_object());
    jsonAddInt(o.get(), "total", status.total);
    jsonAddInt(o.get(), "failed", status.failed);
    jsonAddBool(o.get(), "remote", status.remote);
    jsonAddInt(o.get(), "successes", status.successes);
    jsonAdd(o.get(), "error", status.error);
    return o;
}

TransferTaskStatus taskStatusFromJson(json_object *obj)
{
    TransferTaskStatus s;
    s.total = jsonInt(obj, "total");
    s.failed = jsonInt(obj, "failed");
    s.remote = jsonBool(obj, "remote");
    s.successes = jsonInt(obj, "successes");
    s.error = jsonString(obj, "error");
    return s;
}

TransferTask mirrorForPeer(const TransferTask &task, const ServerInfo &local)
{
    TransferTask m = task;
    m.ip.clear();
    m.port = local.port;
    m.pwd = local.pwd;
    m.remote_uid = local.uid;
    m.remote_name = local.name;
    m.remote_type = local.type;
    m.local_uid = task.remote_uid;
    m.from_me = task.from_me ? 0 : 1;
    return m;
}

TransferTask newOutgoingTask(const std::string &ip, int32_t port, const std::string &peerUid,
                             const std::string &peerName, const std::string &peerType)
{
    TransferTask t;
    t.uid = newUuid();
    t.ip = ip;
    t.port = port;
    t.remote_uid = peerUid;
    t.remote_name = peerName;
    t.remote_type = peerType;
    t.local_uid = loadServerInfo().uid;
    t.from_me = 1;
    t.started = 0;
    t.created = static_cast<int64_t>(std::time(nullptr));
    return t;
}

TransferFile newTransferFile(const std::string &tid, const std::string &root, const std::string &uri,
                             const std::string &thumb, const std::string &fileName, const std::string &mime,
                             int64_t total)
{
    TransferFile f;
    f.uid = newUuid();
    f.tid = tid;
    f.root = root;
    f.uri = uri;
    f.thumb = thumb;
    f.file_name = fileName;
    f.mime = mime;
    f.total = total;
    return f;
}

bool relativeSavePath(const TransferFile &file, std::string *out, std::string *error)
{
    if (!pathutil::isSafeRelativePath(file.root)) {
        if (error)
            *error = "Unsafe folder in received file: " + file.root;
        return false;
    }
    const std::string name = pathutil::encodeFileNameWin(file.file_name);
    if (!pathutil::isSafeEncodedName(name)) {
        if (error)
            *error = file.file_name.empty() ? "Received file has no name." : "Unsafe received file name.";
        return false;
    }
    *out = file.root.empty() ? name : file.root + "/" + name;
    return true;
}

bool savePathIn(const std::string &saveFolder, const TransferFile &file, std::string *out, std::string *error)
{
    if (saveFolder.empty()) {
        if (error)
            *error = "No save folder.";
        return false;
    }
    std::string relative;
    if (!relativeSavePath(file, &relative, error))
        return false;
    if (saveFolder.back() == '/')
        *out = saveFolder + relative;
    else
        *out = saveFolder + "/" + relative;
    return true;
}

bool isValidStoreId(const std::string &id)
{
    if (id.empty() || id.size() > 64 || id == "status")
        return false;
    for (unsigned char c : id) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}
