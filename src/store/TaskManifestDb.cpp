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

bool TaskManifestDb::ensureOpen()
{
    OpenFailure failure = OpenFailure::None;
    std::string message;
    int code = 0;
    if (openOrCreate(m_filePath, schema(), &failure, &message, &code))
        return true;
    m_lastError = failure == OpenFailure::OpenExisting ? dbOpenErrorText(code, message) : message;
    return false;
}
