#include "TaskManifestDb.h"

#include <cstdio>

const char *TaskManifestDb::schema()
{
    return "CREATE TABLE task("
           "uid VARCHAR PRIMARY KEY, "
           "ip VARCHAR, "
           "port INTEGER, "
           "pwd VARCHAR, "
           "remote_uid VARCHAR, "
           "remote_name VARCHAR, "
           "remote_type VARCHAR, "
           "local_uid VARCHAR, "
           "from_me INTEGER NOT NULL DEFAULT 0, "
           "started INTEGER NOT NULL DEFAULT 0, "
           "root VARCHAR, "
           "created INTEGER NOT NULL DEFAULT 0);\n"
           "CREATE TABLE file("
           "uid VARCHAR PRIMARY KEY, "
           "tid VARCHAR NOT NULL, "
           "shareid VARCHAR, "
           "status INTEGER NOT NULL DEFAULT 0, "
           "error VARCHAR, "
           "uri VARCHAR NOT NULL, "
           "root VARCHAR NOT NULL, "
           "thumb VARCHAR, "
           "offset INTEGER NOT NULL DEFAULT 0, "
           "total INTEGER NOT NULL DEFAULT 0, "
           "save_path VARCHAR, "
           "file_name VARCHAR, "
           "mime VARCHAR);\n"
           "create index idx_file_tid on file(tid);\n"
           "PRAGMA journal_mode=WAL;\n";
}

std::string dbOpenErrorText(int code, const std::string &message)
{
    char head[48];
    std::snprintf(head, sizeof head, "DB Error(%d): ", code);
    return head + message;
}

bool openTaskDatabase(Sqlite3DB &db, const std::string &path, const char *schema, std::string *lastError)
{
    Sqlite3DB::OpenFailure failure = Sqlite3DB::OpenFailure::None;
    std::string message;
    int code = 0;
    if (db.openOrCreate(path, schema, &failure, &message, &code))
        return true;
    *lastError = failure == Sqlite3DB::OpenFailure::OpenExisting ? dbOpenErrorText(code, message) : message;
    return false;
}

bool TaskManifestDb::ensureOpen()
{
    return openTaskDatabase(*this, m_filePath, schema(), &m_lastError);
}
