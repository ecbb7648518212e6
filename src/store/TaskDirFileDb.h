// The database of one folder being transferred ("<file uid>.dirdb" in the task
// folder): every entry found below the folder with its status and offset, and
// running totals kept by a trigger, so that the walk can resume and the
// folder's progress reads as one file status.
#pragma once

#include "Sqlite3DB.h"
#include "TransferRecords.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One entry below the folder. status: 0 = pending, 1 = done, negative = failed.
struct DirTaskEntry {
    std::string subpath; // relative to the folder, "/" separated, no leading "/"
    bool isdir = false;
    int32_t status = 0;
    int64_t total = 0;
    int64_t offset = 0;
    std::string error;
};

struct DirTaskContext {
    bool done = false;    // no entry is pending
    int64_t finished = 0; // bytes received below the folder
    int32_t failed = 0;   // entries failed since the last reset
    int64_t dt = 0;       // time of the last progress report, seconds since 1970
    std::string error;    // text of the latest failure
    std::string desc;     // the sub-path being listed
};

class TaskDirFileDb : public Sqlite3DB {
public:
    explicit TaskDirFileDb(std::string filePath) : m_filePath(std::move(filePath)) {}

    const std::string &filePath() const { return m_filePath; }
    const std::string &lastError() const { return m_lastError; }

    // Opens the file, creating it with the schema when it does not exist.
    // Every operation below does this first.
    bool ensureOpen();

    // A database that cannot be opened reads as failed (failed 1, error = lastError).
    DirTaskContext readContext();
    // Entries failed so far; negative when the database cannot be read.
    int failedCount();
    // 1 = exists, 0 = not, negative = error.
    int hasEntry(const std::string &subpath);
    // Inserts the entries that are not there yet; existing rows keep their
    // status and offset. Entries whose subpath is not a plain relative path
    // (empty, absolute, "." or ".." components, control characters) refuse
    // the whole list before anything is written.
    // With inserted, it tells for each entry whether it got a new row (a
    // subpath listed twice gets one, for its first entry).
    bool insertEntries(const std::vector<DirTaskEntry> &entries, std::vector<bool> *inserted = nullptr);
    // The pending entries in ascending subpath order.
    bool pendingEntries(std::vector<DirTaskEntry> *entries);
    // A subpath without a row changes nothing and still succeeds.
    bool updateEntry(const std::string &subpath, int32_t status, std::optional<int64_t> offset,
                     const std::string &error);
    bool setDesc(const std::string &desc);
    bool setDt(int64_t dt);
    // Failed entries become pending again and the failure count is cleared;
    // finished is left alone.
    bool resetFailed();

    static const char *schema();

private:
    bool execOrRecord(const Sqlite3Command &cmd);

    std::string m_filePath;
    std::string m_lastError;
};

// The folder entry's database in its task's folder (store chosen by key.fromMe).
// Opens lazily; ids that cannot name a file make every operation fail.
std::shared_ptr<TaskDirFileDb> openDirDb(const TaskKey &key, const TransferFile &folder);

// The folder as one file status: 0 while entries are pending and none failed,
// else -1 when any failed, else 1; offset = finished.
TransferFileStatus toFileStatus(const DirTaskContext &context);
