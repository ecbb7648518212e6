#include "TaskDirFileDb.h"

#include "BuildWriteCommand.h"
#include "TaskManifestDb.h"
#include "TaskStore.h"

#include "pathutil/PathUtil.h"

namespace {

bool stepFailed(const Sqlite3DB &db)
{
    const int code = db.errorCode();
    return code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE;
}

DirTaskEntry entryFromRow(Sqlite3ResultSet &rs)
{
    DirTaskEntry e;
    e.subpath = rs.getText("subpath");
    e.isdir = rs.getInt("isdir") != 0;
    e.status = rs.getInt("status");
    e.total = rs.getInt64("total");
    e.offset = rs.getInt64("offset");
    e.error = rs.getText("error");
    return e;
}

} // namespace

const char *TaskDirFileDb::schema()
{
    return "CREATE TABLE context("
           "finished INTEGER NOT NULL DEFAULT 0, "
           "failed INTEGER NOT NULL DEFAULT 0, "
           "error VARCHAR, "
           "desc VARCHAR, "
           "dt INTEGER);\n"
           "insert into context(finished) values(0);\n"
           "CREATE TABLE dirtask("
           "subpath VARCHAR PRIMARY KEY, "
           "isdir INTEGER, "
           "status INTEGER, "
           "total INTEGER, "
           "offset INTEGER, "
           "error VARCHAR);\n"
           "create index idx_dirtask_status on dirtask(status);\n"
           "CREATE TRIGGER IF NOT EXISTS dirtask_update_trigger AFTER UPDATE OF status,offset ON dirtask\n"
           "BEGIN\n"
           "UPDATE context SET finished = finished + (NEW.offset - OLD.offset);\n"
           "UPDATE context SET failed = failed + 1, error = NEW.error where NEW.status < 0 and OLD.status >= 0;\n"
           "END;\n"
           "PRAGMA journal_mode=WAL;\n";
}

bool TaskDirFileDb::ensureOpen()
{
    if (m_filePath.empty()) {
        m_lastError = "Invalid task or file ID.";
        return false;
    }
    return openTaskDatabase(*this, m_filePath, schema(), &m_lastError);
}

bool TaskDirFileDb::execOrRecord(const Sqlite3Command &cmd)
{
    if (!ensureOpen())
        return false;
    if (exec(cmd))
        return true;
    m_lastError = errorMessage();
    return false;
}

DirTaskContext TaskDirFileDb::readContext()
{
    DirTaskContext ctx;
    auto failed = [&](const std::string &text) {
        m_lastError = text;
        DirTaskContext f;
        f.failed = 1;
        f.error = text;
        return f;
    };
    if (!ensureOpen())
        return failed(m_lastError);
    {
        Sqlite3ResultSet rs;
        if (!query("select 1 from dirtask where status=0 limit 1", rs))
            return failed(errorMessage());
        ctx.done = !rs.next();
        if (ctx.done && stepFailed(*this))
            return failed(errorMessage());
    }
    Sqlite3ResultSet rs;
    if (!query("select * from context limit 1", rs))
        return failed(errorMessage());
    if (!rs.next())
        return stepFailed(*this) ? failed(errorMessage()) : ctx;
    ctx.finished = rs.getInt64("finished");
    ctx.failed = rs.getInt("failed");
    ctx.error = rs.getText("error");
    ctx.desc = rs.getText("desc");
    ctx.dt = rs.getInt64("dt");
    return ctx;
}

int TaskDirFileDb::failedCount()
{
    if (!ensureOpen())
        return -1;
    Sqlite3ResultSet rs;
    if (!query("select failed from context limit 1", rs)) {
        m_lastError = errorMessage();
        return -1;
    }
    if (rs.next())
        return rs.getInt("failed");
    if (!stepFailed(*this))
        return 0;
    m_lastError = errorMessage();
    return -1;
}

int TaskDirFileDb::hasEntry(const std::string &subpath)
{
    if (!ensureOpen())
        return -1;
    Sqlite3ResultSet rs;
    Sqlite3Command cmd("select 1 from dirtask where subpath=?");
    cmd.addText(subpath);
    if (!query(std::move(cmd), rs)) {
        m_lastError = errorMessage();
        return -1;
    }
    if (rs.next())
        return 1;
    if (stepFailed(*this)) {
        m_lastError = errorMessage();
        return -1;
    }
    return 0;
}

bool TaskDirFileDb::insertEntries(const std::vector<DirTaskEntry> &entries, std::vector<bool> *inserted)
{
    for (const DirTaskEntry &e : entries) {
        if (e.subpath.empty() || !pathutil::isSafeRelativePath(e.subpath)) {
            m_lastError = "Unsafe entry path in folder listing: " + e.subpath;
            return false;
        }
    }
    if (!ensureOpen())
        return false;
    // One transaction: a listing of thousands is one commit, and all or nothing.
    if (!beginTransaction()) {
        m_lastError = errorMessage();
        return false;
    }
    std::vector<bool> added(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirTaskEntry &e = entries[i];
        const Sqlite3Row row = {
            {"subpath", Sqlite3Value::fromText(e.subpath)}, {"isdir", Sqlite3Value::fromInt(e.isdir ? 1 : 0)},
            {"status", Sqlite3Value::fromInt(e.status)},    {"total", Sqlite3Value::fromInt64(e.total)},
            {"offset", Sqlite3Value::fromInt64(e.offset)},  {"error", Sqlite3Value::fromText(e.error)},
        };
        // A row already there (its subpath is the key) keeps its state.
        if (!execOrRecord(buildWriteCommand(row, "dirtask", {}, "INSERT OR IGNORE INTO"))) {
            rollback();
            return false;
        }
        added[i] = changes() > 0;
    }
    if (!commit()) {
        m_lastError = errorMessage();
        rollback();
        return false;
    }
    if (inserted)
        inserted->swap(added);
    return true;
}

bool TaskDirFileDb::pendingEntries(std::vector<DirTaskEntry> *entries)
{
    if (!ensureOpen())
        return false;
    entries->clear();
    Sqlite3ResultSet rs;
    if (!query("select * from dirtask where status=0 order by subpath asc", rs)) {
        m_lastError = errorMessage();
        return false;
    }
    while (rs.next())
        entries->push_back(entryFromRow(rs));
    if (stepFailed(*this)) {
        m_lastError = errorMessage();
        return false;
    }
    return true;
}

bool TaskDirFileDb::updateEntry(const std::string &subpath, int32_t status, std::optional<int64_t> offset,
                                const std::string &error)
{
    Sqlite3Command cmd(std::string("update dirtask set status=?, error=?") + (offset ? ", offset=?" : "") +
                       " where subpath=?");
    cmd.addInt(status).addText(error);
    if (offset)
        cmd.addInt64(*offset);
    cmd.addText(subpath);
    return execOrRecord(cmd);
}

bool TaskDirFileDb::setDesc(const std::string &desc)
{
    Sqlite3Command cmd("update context set desc=?");
    cmd.addText(desc);
    return execOrRecord(cmd);
}

bool TaskDirFileDb::setDt(int64_t dt)
{
    Sqlite3Command cmd("update context set dt=?");
    cmd.addInt64(dt);
    return execOrRecord(cmd);
}

bool TaskDirFileDb::resetFailed()
{
    return execOrRecord(Sqlite3Command("update dirtask set status=0, error='' where status < 0")) &&
           execOrRecord(Sqlite3Command("update context set failed=0, error=''"));
}

std::shared_ptr<TaskDirFileDb> openDirDb(const TaskKey &key, const TransferFile &folder)
{
    if (!isValidStoreId(key.tid) || !isValidStoreId(folder.uid))
        return std::make_shared<TaskDirFileDb>(std::string());
    return std::make_shared<TaskDirFileDb>(TaskStore(key.fromMe).taskDir(key.tid) + "/" + folder.uid + ".dirdb");
}

TransferFileStatus toFileStatus(const DirTaskContext &context)
{
    TransferFileStatus s;
    if (!context.done && context.failed == 0)
        s.status = 0;
    else
        s.status = context.failed != 0 ? -1 : 1;
    if (s.status < 0)
        s.error = context.error;
    s.offset = context.finished;
    s.desc = context.desc;
    s.remote = false;
    return s;
}
