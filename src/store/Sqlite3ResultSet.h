// A query in progress: steps through rows and reads columns by (lower-case) name.
#pragma once

#include "Sqlite3Command.h"

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>

class Sqlite3ResultSet {
public:
    Sqlite3ResultSet() = default;
    ~Sqlite3ResultSet();
    Sqlite3ResultSet(const Sqlite3ResultSet &) = delete;
    Sqlite3ResultSet &operator=(const Sqlite3ResultSet &) = delete;

    // True while a row is available; false at the end of rows or on an error.
    bool next();
    // The column's index for a name, looked up lower-cased; -1 when absent.
    int columnIndex(const std::string &name);
    int32_t getInt(const std::string &name);
    int64_t getInt64(const std::string &name);
    std::string getText(const std::string &name);
    // Rows delivered so far minus one (-1 before the first row).
    int row() const { return m_row; }

private:
    friend class Sqlite3DB;
    // Finalizes the statement and forgets columns and bindings.
    void reset();

    sqlite3_stmt *m_stmt = nullptr;
    Sqlite3Command m_command; // keeps bound text alive while stepping
    std::map<std::string, int> m_columns;
    bool m_columnsRead = false;
    int m_row = -1;
};
