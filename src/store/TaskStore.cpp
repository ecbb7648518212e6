#include "TaskStore.h"

#include "BuildWriteCommand.h"
#include "TaskManifestDb.h"

#include "core/AtomicFile.h"
#include "core/DataFolder.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char *kManifestName = "manifest.db";
constexpr const char *kStatusName = "status";

// next() answers false both at the end of the rows and on an error; the
// connection's code tells them apart.
bool stepFailed(const Sqlite3DB &db)
{
    const int code = db.errorCode();
    return code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE;
}

bool pathExists(const std::string &path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Removes a folder with its content. Removing the folder itself is retried a
// few times: a file being closed elsewhere can keep it briefly non-empty.
bool removeTree(const std::string &path, int *err)
{
    std::error_code ec;
    for (int attempt = 0; attempt < 10; ++attempt) {
        fs::remove_all(path, ec);
        if (!ec)
            return true;
        *err = ec.value();
        if (ec != std::errc::directory_not_empty && ec != std::errc::permission_denied)
            return false;
    }
    return false;
}

// Reads a status file as a JSON object. A missing file is no error; one that
// cannot be read sets error.
JsonPtr readStatusObject(const std::string &path, std::string *error)
{
    if (!pathExists(path))
        return nullptr;
    std::string text, why;
    if (!readWholeFile(path, &text, &why)) {
        *error = "Read file error. " + why;
        return nullptr;
    }
    JsonPtr o = jsonParse(text);
    if (!o || !json_object_is_type(o.get(), json_type_object))
        return nullptr;
    return o;
}

TransferFile fileFromRow(Sqlite3ResultSet &rs)
{
    TransferFile f;
    f.uid = rs.getText("uid");
    f.tid = rs.getText("tid");
    f.shareid = rs.getText("shareid");
    f.status.status = rs.getInt("status");
    f.status.error = rs.getText("error");
    f.uri = rs.getText("uri");
    f.root = rs.getText("root");
    f.thumb = rs.getText("thumb");
    f.status.offset = rs.getInt64("offset");
    f.total = rs.getInt64("total");
    f.save_path = rs.getText("save_path");
    f.file_name = rs.getText("file_name");
    f.mime = rs.getText("mime");
    return f;
}

Sqlite3Row taskRow(const TransferTask &t)
{
    return {
        {"uid", Sqlite3Value::fromText(t.uid)},
        {"ip", Sqlite3Value::fromText(t.ip)},
        {"port", Sqlite3Value::fromInt(t.port)},
        {"pwd", Sqlite3Value::fromText(t.pwd)},
        {"remote_uid", Sqlite3Value::fromText(t.remote_uid)},
        {"remote_name", Sqlite3Value::fromText(t.remote_name)},
        {"remote_type", Sqlite3Value::fromText(t.remote_type)},
        {"local_uid", Sqlite3Value::fromText(t.local_uid)},
        {"from_me", Sqlite3Value::fromInt(t.from_me)},
        {"started", Sqlite3Value::fromInt(t.started)},
        {"root", Sqlite3Value::fromText(t.root)},
        {"created", Sqlite3Value::fromInt64(t.created)},
    };
}

Sqlite3Row fileRow(const TransferFile &f, const std::string &tid)
{
    return {
        {"uid", Sqlite3Value::fromText(f.uid)},
        {"tid", Sqlite3Value::fromText(tid)},
        {"shareid", Sqlite3Value::fromText(f.shareid)},
        {"status", Sqlite3Value::fromInt(f.status.status)},
        {"error", Sqlite3Value::fromText(f.status.error)},
        {"root", Sqlite3Value::fromText(f.root)},
        {"uri", Sqlite3Value::fromText(f.uri)},
        {"thumb", Sqlite3Value::fromText(f.thumb)},
        {"offset", Sqlite3Value::fromInt64(f.status.offset)},
        {"total", Sqlite3Value::fromInt64(f.total)},
        {"save_path", Sqlite3Value::fromText(f.save_path)},
        {"file_name", Sqlite3Value::fromText(f.file_name)},
        {"mime", Sqlite3Value::fromText(f.mime)},
    };
}

} // namespace

TaskStore::TaskStore(bool fromMe) : TaskStore(fromMe, dataFile(fromMe ? "tasks_send" : "tasks_recv"))
{
}

TaskStore::TaskStore(bool fromMe, std::string root) : m_fromMe(fromMe), m_root(std::move(root))
{
    std::error_code ec;
    fs::create_directories(m_root, ec); // a failure shows in the first operation
}

std::string TaskStore::taskDir(const std::string &uid) const
{
    return m_root + "/" + uid;
}

std::string TaskStore::manifestPath(const std::string &uid) const
{
    return taskDir(uid) + "/" + kManifestName;
}

bool TaskStore::createTask(const TransferTask &task, const std::vector<TransferFile> &files)
{
    if (!isValidStoreId(task.uid)) {
        m_lastError = "Invalid Task ID.";
        return false;
    }
    for (const TransferFile &f : files) {
        if (!isValidStoreId(f.uid)) {
            m_lastError = "Create task failed. Invalid file ID.";
            return false;
        }
    }
    const std::string dir = taskDir(task.uid);
    std::error_code ec;
    fs::create_directories(dir, ec);

    std::string dbError;
    bool ok = false;
    {
        TaskManifestDb db(manifestPath(task.uid));
        if (db.ensureOpen()) {
            db.beginTransaction(); // the writes go on without one if it failed
            ok = db.exec(buildWriteCommand(taskRow(task), "task", {}, "REPLACE INTO"));
            for (size_t i = 0; ok && i < files.size(); ++i)
                ok = db.exec(buildWriteCommand(fileRow(files[i], task.uid), "file", {}, "REPLACE INTO"));
            if (ok)
                ok = db.commit();
            if (!ok) {
                db.setLastError(db.errorMessage());
                db.rollback();
            }
        }
        dbError = db.lastError();
    }
    if (ok)
        return true;
    m_lastError = "Create task failed. " + dbError;
    int err = 0;
    removeTree(dir, &err);
    return false;
}

int TaskStore::readTask(const std::string &uid, TransferTask *task)
{
    if (!isValidStoreId(uid)) {
        m_lastError = "Read task failed. Invalid task ID.";
        return -1;
    }
    TaskManifestDb db(manifestPath(uid));
    auto fail = [&](const std::string &text) {
        db.setLastError(text);
        m_lastError = "Read task failed. " + db.lastError();
        return -1;
    };
    if (!db.ensureOpen())
        return fail(db.lastError());
    Sqlite3ResultSet rs;
    if (!db.query("select * from task limit 1", rs))
        return fail(db.errorMessage());
    if (!rs.next())
        return stepFailed(db) ? fail(db.errorMessage()) : 0;

    TransferTask t;
    t.uid = rs.getText("uid");
    t.ip = rs.getText("ip");
    t.port = rs.getInt("port");
    t.pwd = rs.getText("pwd");
    t.remote_uid = rs.getText("remote_uid");
    t.remote_name = rs.getText("remote_name");
    t.remote_type = rs.getText("remote_type");
    t.local_uid = rs.getText("local_uid");
    t.from_me = rs.getInt("from_me");
    t.started = rs.getInt("started");
    t.root = rs.getText("root");
    t.created = rs.getInt64("created");

    Sqlite3ResultSet counts;
    if (!db.query("select status, count(*) as total from file group by status", counts))
        return fail(db.errorMessage());
    while (counts.next()) {
        const int32_t status = counts.getInt("status");
        const int32_t n = counts.getInt("total");
        t.status.total += n;
        if (status < 0)
            t.status.failed += n;
        else if (status > 0)
            t.status.successes += n;
    }
    if (stepFailed(db))
        return fail(db.errorMessage());

    std::string readError;
    if (JsonPtr o = readStatusObject(taskDir(uid) + "/" + kStatusName, &readError))
        t.status = taskStatusFromJson(o.get());
    else if (!readError.empty())
        m_lastError = readError;
    *task = std::move(t);
    return 1;
}

void TaskStore::applyFileStatus(const std::string &tid, TransferFile *file)
{
    if (!isValidStoreId(file->uid))
        return; // rows are written by createTask, which refuses such ids
    std::string readError;
    if (JsonPtr o = readStatusObject(taskDir(tid) + "/" + file->uid, &readError))
        file->status = fileStatusFromJson(o.get());
    else if (!readError.empty())
        m_lastError = readError;
}

int TaskStore::readTaskFiles(const std::string &uid, std::vector<TransferFile> *files)
{
    if (!isValidStoreId(uid)) {
        m_lastError = "Read task files failed. Invalid task ID.";
        return -1;
    }
    TaskManifestDb db(manifestPath(uid));
    auto fail = [&](const std::string &text) {
        db.setLastError(text);
        m_lastError = "Read task files failed. " + db.lastError();
        return -1;
    };
    if (!db.ensureOpen())
        return fail(db.lastError());
    Sqlite3ResultSet rs;
    if (!db.query("select * from file", rs))
        return fail(db.errorMessage());
    files->clear();
    while (rs.next())
        files->push_back(fileFromRow(rs));
    if (stepFailed(db))
        return fail(db.errorMessage());
    for (TransferFile &f : *files)
        applyFileStatus(uid, &f);
    return 1;
}

int TaskStore::readTaskFile(const std::string &tid, const std::string &fid, TransferFile *file)
{
    if (!isValidStoreId(tid) || !isValidStoreId(fid)) {
        m_lastError = "Read task file failed. Invalid task or file ID.";
        return -1;
    }
    if (!pathExists(manifestPath(tid)))
        return 0;
    TaskManifestDb db(manifestPath(tid));
    auto fail = [&](const std::string &text) {
        db.setLastError(text);
        m_lastError = "Read task file failed. " + db.lastError();
        return -1;
    };
    if (!db.ensureOpen())
        return fail(db.lastError());
    Sqlite3ResultSet rs;
    if (!db.query(std::move(Sqlite3Command("select * from file where uid=?").addText(fid)), rs))
        return fail(db.errorMessage());
    if (!rs.next())
        return stepFailed(db) ? fail(db.errorMessage()) : 0;
    TransferFile f = fileFromRow(rs);
    applyFileStatus(tid, &f);
    *file = std::move(f);
    return 1;
}

bool TaskStore::listTasks(std::vector<TransferTask> *tasks)
{
    std::error_code ec;
    fs::directory_iterator it(m_root, ec);
    const fs::directory_iterator end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string uid = it->path().filename().string();
        if (!isValidStoreId(uid) || !pathExists(manifestPath(uid)))
            continue;
        TransferTask t;
        if (readTask(uid, &t) > 0 && !t.uid.empty()) {
            t.from_me = m_fromMe ? 1 : 0;
            tasks->push_back(std::move(t));
        }
    }
    if (ec) {
        m_lastError = "directory_iterator::operator++: " + ec.message();
        return false;
    }
    return true;
}

bool TaskStore::deleteTask(const std::string &uid, int limitMs)
{
    if (!isValidStoreId(uid)) {
        m_lastError = "Remove task failed. Invalid task ID.";
        return false;
    }
    const std::string dir = taskDir(uid);
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::milliseconds(limitMs);
    int err = errno;
    while (std::chrono::steady_clock::now() - start < limit) {
        if (removeTree(dir, &err) && !pathExists(dir))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_lastError = std::string("Remove task failed. ") + std::strerror(err);
    return false;
}

bool TaskStore::writeFileStatus(const std::string &tid, const std::string &fid, const TransferFileStatus &status)
{
    if (!isValidStoreId(tid) || !isValidStoreId(fid)) {
        m_lastError = "Invalid task or file ID.";
        return false;
    }
    std::string why;
    if (!writeFileAtomic(taskDir(tid) + "/" + fid, jsonText(fileStatusToJson(status).get()), &why)) {
        m_lastError = "Write file status failed. Write file error. " + why;
        return false;
    }
    return true;
}

bool TaskStore::writeTaskStatus(const std::string &tid, const TransferTaskStatus &status)
{
    if (!isValidStoreId(tid)) {
        m_lastError = "Invalid task ID.";
        return false;
    }
    std::string why;
    if (!writeFileAtomic(taskDir(tid) + "/" + kStatusName, jsonText(taskStatusToJson(status).get()), &why)) {
        m_lastError = "Write task status failed. Write file error. " + why;
        return false;
    }
    return true;
}

bool TaskStore::updateServerInfo(const std::string &tid, const std::string &ip, int32_t port, const std::string &pwd)
{
    if (!isValidStoreId(tid)) {
        m_lastError = "Invalid task ID.";
        return false;
    }
    TaskManifestDb db(manifestPath(tid));
    if (!db.ensureOpen()) {
        m_lastError = db.lastError();
        return false;
    }
    Sqlite3Command cmd("update task set ip=?, port=?, pwd=?");
    cmd.addText(ip).addInt(port).addText(pwd);
    if (!db.exec(cmd)) {
        db.setLastError("Update task server information failed. " + db.errorMessage());
        m_lastError = db.lastError();
        return false;
    }
    return true;
}

bool TaskStore::updateSavePath(const std::string &tid, const std::string &fid, const std::string &savePath)
{
    if (!isValidStoreId(tid) || !isValidStoreId(fid)) {
        m_lastError = "Invalid task or file ID.";
        return false;
    }
    TaskManifestDb db(manifestPath(tid));
    if (!db.ensureOpen()) {
        m_lastError = db.lastError();
        return false;
    }
    Sqlite3Command cmd("update file set save_path=? where uid=?");
    cmd.addText(savePath).addText(fid);
    if (!db.exec(cmd)) {
        db.setLastError("Update file save path failed. " + db.errorMessage());
        m_lastError = db.lastError();
        return false;
    }
    return true;
}

std::string tmpTasksRoot()
{
    return dataFile("tasks_tmp");
}
