// The records passed around for transfer tasks (a task, its files, a file's
// progress, a task's summary, the key that selects its store) and their JSON forms.
#pragma once

#include "core/Json.h"
#include "core/ServerInfo.h"

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

// Progress of one file. status: 0 = waiting or running, positive = done,
// negative = failed.
struct TransferFileStatus {
    int32_t status = 0;
    bool remote = false; // reported by the peer device
    int64_t offset = 0;  // bytes transferred so far
    std::string error;
    std::string desc; // free progress description
};

// Summary of a task.
struct TransferTaskStatus {
    int32_t total = 0;
    int32_t failed = 0;
    bool remote = false;
    int32_t successes = 0;
    std::string error;
};

// One file (or folder, mime "inode/directory") of a task.
struct TransferFile {
    std::string uid; // unique within the task; names the file's status file
    std::string tid;
    std::string shareid;
    std::string root; // sub-folder relative to the task's root, "/" separated; empty at the top
    std::string uri;
    std::string thumb;
    std::string save_path;
    std::string file_name;
    std::string mime;
    int64_t total = 0;
    TransferFileStatus status;
};

struct TransferTask {
    std::string uid; // also the task's folder name
    std::string ip;
    int32_t port = 0;
    std::string pwd;
    std::string remote_uid;
    std::string remote_name;
    std::string remote_type;
    std::string local_uid;
    int32_t from_me = 1;
    int32_t started = 0;
    std::string root;    // save folder chosen for a received task; may be empty
    int64_t created = 0; // seconds since 1970-01-01 UTC
    TransferTaskStatus status;
};

// A task across the stores: fromMe selects "tasks_send", otherwise "tasks_recv".
struct TaskKey {
    std::string tid;
    bool fromMe = false;

    bool operator<(const TaskKey &o) const { return std::tie(tid, fromMe) < std::tie(o.tid, o.fromMe); }
    bool operator==(const TaskKey &o) const { return tid == o.tid && fromMe == o.fromMe; }
    bool operator!=(const TaskKey &o) const { return !(*this == o); }
};

constexpr const char *kDirectoryMime = "inode/directory";

// The form sent to the peer: "uid", "tid", "shareid", "total", "file_name",
// "mime". Paths and progress stay local.
JsonPtr transferFileToJson(const TransferFile &file);
// Reads the sent keys and the store's own columns ("status", "error", "root",
// "uri", "thumb", "offset", "save_path"); missing keys read as 0 or "".
TransferFile transferFileFromJson(json_object *obj);
// Every task column plus "files", one object per file.
JsonPtr transferTaskToJson(const TransferTask &task, const std::vector<TransferFile> &files);
// files (when not null) is replaced by the elements of "files".
TransferTask transferTaskFromJson(json_object *obj, std::vector<TransferFile> *files);

// A file's status file: "status", "remote", "offset", "error", and "desc" only when not empty.
JsonPtr fileStatusToJson(const TransferFileStatus &status);
TransferFileStatus fileStatusFromJson(json_object *obj);
// A task's "status" file: "total", "failed", "remote", "successes", "error".
JsonPtr taskStatusToJson(const TransferTaskStatus &status);
TransferTaskStatus taskStatusFromJson(json_object *obj);

// The task as the peer must store it: ip empty; port, pwd, remote_uid,
// remote_name, remote_type from the local identity; local_uid the task's
// remote_uid; from_me inverted. The file list is sent unchanged.
TransferTask mirrorForPeer(const TransferTask &task, const ServerInfo &local);

// A fresh send task for a peer: new uid, local_uid from the local identity,
// from_me 1, created now. The caller fills pwd, root and the files.
TransferTask newOutgoingTask(const std::string &ip, int32_t port, const std::string &peerUid,
                             const std::string &peerName, const std::string &peerType);

// A fresh file record with a new uid and a zero status.
TransferFile newTransferFile(const std::string &tid, const std::string &root, const std::string &uri,
                             const std::string &thumb, const std::string &fileName, const std::string &mime,
                             int64_t total);

// The path of a received file relative to the chosen save folder: root + "/" +
// the escaped file name, or the escaped name alone when root is empty.
// A record that could place a file outside the save folder is refused: false,
// with error saying why, when root is absolute or has a component that is
// empty, "." or "..", holds a control character or is longer than 255 bytes,
// or when the escaped name is empty, holds a NUL or is longer than 255 bytes.
// Callers refuse the file (or the whole task) on false.
bool relativeSavePath(const TransferFile &file, std::string *out, std::string *error = nullptr);
// saveFolder joined with relativeSavePath(file); false (and error) as above.
bool savePathIn(const std::string &saveFolder, const TransferFile &file, std::string *out,
                std::string *error = nullptr);

// Task and file ids name folders and files in the task store, so only plain
// names are accepted: 1 to 64 ASCII letters, digits, "-" or "_", and not
// "status" (the task's summary file).
bool isValidStoreId(const std::string &id);
