#include "Sqlite3DB.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

Sqlite3DB::~Sqlite3DB()
{
    close();
}

void Sqlite3DB::finalizeKept()
{
    std::lock_guard<std::mutex> lock(m_keptMutex);
    for (auto &entry : m_kept)
        sqlite3_finalize(entry.second);
    m_kept.clear();
}

void Sqlite3DB::close()
{
    finalizeKept(); // a statement left over would keep the file open
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    m_depth = 0;
}

bool Sqlite3DB::open(const std::string &path, const std::string &key, int flags)
{
    if (path != m_path)
        m_path = path;
    m_openError.clear();
    close();
    if (!key.empty()) {
        m_openError = "Database keys need an encrypting SQLite build; this build has none.";
        return false;
    }
    // One connection may be shared by threads (the share store), so serialise inside SQLite.
    if (sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        if (!m_db)
            m_openError = "out of memory";
        return false;
    }
    sqlite3_busy_timeout(m_db, m_busyTimeout);
    return true;
}

bool Sqlite3DB::openOrCreate(const std::string &path, const char *schema, OpenFailure *failure, std::string *message,
                             int *code)
{
    auto report = [&](OpenFailure f, std::string text, int c) {
        if (failure)
            *failure = f;
        if (message)
            *message = std::move(text);
        if (code)
            *code = c;
        close();
        return false;
    };
    if (failure)
        *failure = OpenFailure::None;
    if (m_db)
        return true;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) {
        if (!open(path, std::string(), SQLITE_OPEN_READWRITE))
            return report(OpenFailure::OpenExisting, errorMessage(), errorCode());
        return true;
    }
    if (!open(path, std::string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE))
        return report(OpenFailure::Create, errorMessage(), errorCode());
    char *err = nullptr;
    if (sqlite3_exec(m_db, schema, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string text = err ? err : errorMessage();
        const int c = errorCode();
        sqlite3_free(err);
        report(OpenFailure::Script, std::move(text), c);
        ::unlink(path.c_str());
        ::unlink((path + "-wal").c_str());
        ::unlink((path + "-shm").c_str());
        return false;
    }
    return true;
}

bool Sqlite3DB::exec(const std::string &sql)
{
    return exec(Sqlite3Command(sql));
}

bool Sqlite3DB::exec(const Sqlite3Command &cmd)
{
    if (!m_db)
        return false;
    // A folder's thousands of row updates differ only in their parameters:
    // compiling each one again cost more than running it.
    std::lock_guard<std::mutex> lock(m_keptMutex);
    auto it = m_kept.find(cmd.sql());
    if (it == m_kept.end()) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v3(m_db, cmd.sql().c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK ||
            !stmt) {
            sqlite3_finalize(stmt);
            return false;
        }
        if (m_kept.size() >= kMaxKeptStatements) {
            for (auto &entry : m_kept)
                sqlite3_finalize(entry.second);
            m_kept.clear();
        }
        it = m_kept.emplace(cmd.sql(), stmt).first;
    }
    sqlite3_stmt *stmt = it->second;
    const bool ok = cmd.bindAll(stmt) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_DONE;
    // The error stays readable through errorMessage() after the reset.
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return ok;
}

int Sqlite3DB::changes() const
{
    return m_db ? sqlite3_changes(m_db) : 0;
}

bool Sqlite3DB::query(const std::string &sql, Sqlite3ResultSet &rs)
{
    return query(Sqlite3Command(sql), rs);
}

bool Sqlite3DB::query(Sqlite3Command cmd, Sqlite3ResultSet &rs)
{
    rs.reset();
    if (!m_db)
        return false;
    rs.m_command = std::move(cmd);
    if (sqlite3_prepare_v2(m_db, rs.m_command.sql().c_str(), -1, &rs.m_stmt, nullptr) != SQLITE_OK || !rs.m_stmt) {
        rs.reset();
        return false;
    }
    return rs.m_command.bindAll(rs.m_stmt) == SQLITE_OK;
}

bool Sqlite3DB::beginTransaction()
{
    if (m_depth > 0) {
        ++m_depth;
        return true;
    }
    if (!exec("BEGIN TRANSACTION"))
        return false;
    m_depth = 1;
    return true;
}

bool Sqlite3DB::commit()
{
    if (m_depth > 1) {
        --m_depth;
        return true;
    }
    if (m_depth == 0)
        return true;
    if (!exec("COMMIT TRANSACTION"))
        return false;
    m_depth = 0;
    return true;
}

bool Sqlite3DB::rollback()
{
    if (m_depth == 0)
        return true;
    const bool rolledBack = exec("ROLLBACK TRANSACTION");
    // A transaction SQLite ended by itself (a failed COMMIT may) has nothing
    // left to roll back; keeping its level would make every later one a
    // nested level that never begins or commits.
    if (rolledBack || (m_db && sqlite3_get_autocommit(m_db)))
        m_depth = 0;
    return rolledBack;
}

std::string Sqlite3DB::errorMessage() const
{
    if (!m_db)
        return m_openError;
    const char *m = sqlite3_errmsg(m_db);
    return m ? m : "";
}

int Sqlite3DB::errorCode() const
{
    return m_db ? sqlite3_errcode(m_db) : 0;
}
