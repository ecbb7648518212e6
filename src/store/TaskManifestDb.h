// The connection to one task's "manifest.db" (the task row and its file rows),
// created with its schema on first open.
#pragma once

#include "Sqlite3DB.h"

#include <string>

class TaskManifestDb : public Sqlite3DB {
public:
    explicit TaskManifestDb(std::string filePath) : m_filePath(std::move(filePath)) {}

    // Opens the file, creating it with the schema when it does not exist. On
    // failure lastError is "DB Error(<code>): <message>" for an existing file
    // that cannot be opened, else the SQLite or schema script message.
    bool ensureOpen();

    const std::string &filePath() const { return m_filePath; }
    const std::string &lastError() const { return m_lastError; }
    void setLastError(std::string text) { m_lastError = std::move(text); }

    static const char *schema();

private:
    std::string m_filePath;
    std::string m_lastError;
};

// "DB Error(<code>): <message>", the text of a failed open of an existing database.
std::string dbOpenErrorText(int code, const std::string &message);
// Opens or creates a task database; on failure lastError gets the text of the
// failing step ("DB Error(...)" for an existing file that cannot be opened).
bool openTaskDatabase(Sqlite3DB &db, const std::string &path, const char *schema, std::string *lastError);
