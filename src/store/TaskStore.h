// One store root of transfer tasks ("tasks_send", "tasks_recv" or
// "tasks_tmp"): a folder per task with its "manifest.db", its "status" summary
// and one status file per file. Short-lived value object; each operation opens
// and closes its own connection, so stores may be used from any thread.
#pragma once

#include "TransferRecords.h"

#include <string>
#include <vector>

class TaskStore {
public:
    // Root "tasks_send" (fromMe) or "tasks_recv" in the data folder.
    explicit TaskStore(bool fromMe);
    // An explicit root, e.g. tmpTasksRoot(). Both create the root when missing.
    TaskStore(bool fromMe, std::string root);

    bool fromMe() const { return m_fromMe; }
    const std::string &root() const { return m_root; }
    // Text of the last failure; each failing operation overwrites it.
    const std::string &lastError() const { return m_lastError; }

    // Writes the task row and its file rows in one transaction, replacing rows
    // of the same uids. On failure no task folder is left behind.
    bool createTask(const TransferTask &task, const std::vector<TransferFile> &files);
    // 1 = found, 0 = no task row, negative = error. The summary comes from the
    // "status" file when it holds a JSON object, else from the file rows.
    int readTask(const std::string &uid, TransferTask *task);
    // Every file row with its status file applied. 1 on success, negative on error.
    int readTaskFiles(const std::string &uid, std::vector<TransferFile> *files);
    // 1 when found, 0 when the task or the file does not exist, negative on error.
    int readTaskFile(const std::string &tid, const std::string &fid, TransferFile *file);
    // Appends every task of the root whose folder holds a "manifest.db", with
    // from_me set by the root. A failing directory read ends the listing with
    // what was read so far and answers false.
    bool listTasks(std::vector<TransferTask> *tasks);
    // Removes the task folder, retrying every 50 ms until limitMs has passed.
    bool deleteTask(const std::string &uid, int limitMs);
    // Replace the status files atomically: a reader sees the old or the new content.
    bool writeFileStatus(const std::string &tid, const std::string &fid, const TransferFileStatus &status);
    bool writeTaskStatus(const std::string &tid, const TransferTaskStatus &status);
    bool updateServerInfo(const std::string &tid, const std::string &ip, int32_t port, const std::string &pwd);
    // Records where a received file landed when its name was taken meanwhile.
    bool updateSavePath(const std::string &tid, const std::string &fid, const std::string &savePath);

    std::string taskDir(const std::string &uid) const;

private:
    std::string manifestPath(const std::string &uid) const;
    // Applies the file's status file to file->status when it holds a JSON object.
    void applyFileStatus(const std::string &tid, TransferFile *file);

    bool m_fromMe;
    std::string m_root;
    std::string m_lastError;
};

// "tasks_tmp" in the data folder: incoming tasks waiting for the user's decision.
std::string tmpTasksRoot();
