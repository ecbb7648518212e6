// Typed statement parameters: each holds one value and binds it by index.
// Text and blob values are bound without a copy, so a parameter must outlive
// the statement's step (the owning Sqlite3Command guarantees that).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

class Sqlite3Param {
public:
    virtual ~Sqlite3Param() = default;
    // The SQLite result code of the bind call (0 = success).
    virtual int bind(sqlite3_stmt *stmt, int index) = 0;
};

class Sqlite3NullParam : public Sqlite3Param {
public:
    int bind(sqlite3_stmt *stmt, int index) override { return sqlite3_bind_null(stmt, index); }
};

class Sqlite3IntParam : public Sqlite3Param {
public:
    explicit Sqlite3IntParam(int32_t v) : m_value(v) {}
    int bind(sqlite3_stmt *stmt, int index) override { return sqlite3_bind_int(stmt, index, m_value); }

private:
    int32_t m_value;
};

class Sqlite3Int64Param : public Sqlite3Param {
public:
    explicit Sqlite3Int64Param(int64_t v) : m_value(v) {}
    int bind(sqlite3_stmt *stmt, int index) override { return sqlite3_bind_int64(stmt, index, m_value); }

private:
    int64_t m_value;
};

class Sqlite3DoubleParam : public Sqlite3Param {
public:
    explicit Sqlite3DoubleParam(double v) : m_value(v) {}
    int bind(sqlite3_stmt *stmt, int index) override { return sqlite3_bind_double(stmt, index, m_value); }

private:
    double m_value;
};

// Bound up to the first NUL, as SQLite does with length -1.
class Sqlite3TextParam : public Sqlite3Param {
public:
    explicit Sqlite3TextParam(std::string v) : m_value(std::move(v)) {}
    int bind(sqlite3_stmt *stmt, int index) override
    {
        return sqlite3_bind_text(stmt, index, m_value.c_str(), -1, SQLITE_STATIC);
    }

private:
    std::string m_value;
};

class Sqlite3BlobParam : public Sqlite3Param {
public:
    explicit Sqlite3BlobParam(std::string v) : m_value(std::move(v)) {}
    int bind(sqlite3_stmt *stmt, int index) override
    {
        return sqlite3_bind_blob(stmt, index, m_value.data(), static_cast<int>(m_value.size()), SQLITE_STATIC);
    }

private:
    std::string m_value;
};
