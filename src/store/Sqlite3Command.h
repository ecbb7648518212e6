// An SQL text with its ordered, owned parameters (bound at indexes 1, 2, 3, ...).
#pragma once

#include "Sqlite3Param.h"

#include <memory>
#include <string>
#include <vector>

class Sqlite3Command {
public:
    Sqlite3Command() = default;
    explicit Sqlite3Command(std::string sql) : m_sql(std::move(sql)) {}

    const std::string &sql() const { return m_sql; }
    void setSql(std::string sql) { m_sql = std::move(sql); }
    const std::vector<std::unique_ptr<Sqlite3Param>> &params() const { return m_params; }

    Sqlite3Command &addNull();
    Sqlite3Command &addInt(int32_t v);
    Sqlite3Command &addInt64(int64_t v);
    Sqlite3Command &addDouble(double v);
    Sqlite3Command &addText(std::string v);
    Sqlite3Command &addBlob(std::string v);
    Sqlite3Command &add(std::unique_ptr<Sqlite3Param> p);

    // Binds every parameter in order; the first non-zero result stops and is returned.
    int bindAll(sqlite3_stmt *stmt) const;

private:
    std::string m_sql;
    std::vector<std::unique_ptr<Sqlite3Param>> m_params;
};
