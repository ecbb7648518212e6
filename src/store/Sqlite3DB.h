// One SQLite connection: statements with typed parameters, queries read by
// column name, counted nested transactions, and opening an existing database or
// creating a new one with a schema script. Never throws: operations answer a
// flag and errorMessage()/errorCode() tell why.
#pragma once

#include "Sqlite3Command.h"
#include "Sqlite3ResultSet.h"

#include <sqlite3.h>

#include <map>
#include <mutex>
#include <string>

class Sqlite3DB {
public:
    // What went wrong in openOrCreate.
    enum class OpenFailure { None, OpenExisting, Script, Create };

    Sqlite3DB() = default;
    virtual ~Sqlite3DB();
    Sqlite3DB(const Sqlite3DB &) = delete;
    Sqlite3DB &operator=(const Sqlite3DB &) = delete;

    // A non-empty key needs an encrypting build of SQLite; this build refuses it.
    bool open(const std::string &path, const std::string &key, int flags);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }
    const std::string &path() const { return m_path; }

    // Opens path when it exists (read-write), else creates it and runs the
    // schema script, deleting the new file again when the script fails. On
    // failure the connection is closed, failure says which step failed and
    // message holds the text (code the SQLite code for OpenExisting).
    bool openOrCreate(const std::string &path, const char *schema, OpenFailure *failure = nullptr,
                      std::string *message = nullptr, int *code = nullptr);

    // True when the statement ran to completion (a statement that yields a row
    // fails). A statement text run before is not compiled again: the
    // connection keeps the last kMaxKeptStatements it compiled.
    bool exec(const std::string &sql);
    bool exec(const Sqlite3Command &cmd);
    // True when the statement was prepared and bound; rows come from rs.next().
    bool query(const std::string &sql, Sqlite3ResultSet &rs);
    bool query(Sqlite3Command cmd, Sqlite3ResultSet &rs);

    // Rows the last finished statement inserted, changed or deleted.
    int changes() const;

    bool beginTransaction();
    bool commit();
    bool rollback();
    int transactionDepth() const { return m_depth; }

    std::string errorMessage() const;
    int errorCode() const;

    int busyTimeout() const { return m_busyTimeout; }
    void setBusyTimeout(int ms) { m_busyTimeout = ms; }

    static constexpr size_t kMaxKeptStatements = 16;

private:
    void finalizeKept();

    sqlite3 *m_db = nullptr;
    // Compiled statements by their text. A connection may be shared by
    // threads, and binding and stepping one statement must not interleave.
    std::mutex m_keptMutex;
    std::map<std::string, sqlite3_stmt *> m_kept;
    std::string m_path;
    int m_depth = 0;
    int m_busyTimeout = 5000;
    std::string m_openError; // why the last open failed before a handle existed
};
