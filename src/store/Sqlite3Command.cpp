#include "Sqlite3Command.h"

Sqlite3Command &Sqlite3Command::add(std::unique_ptr<Sqlite3Param> p)
{
    m_params.push_back(std::move(p));
    return *this;
}

Sqlite3Command &Sqlite3Command::addNull()
{
    return add(std::make_unique<Sqlite3NullParam>());
}

Sqlite3Command &Sqlite3Command::addInt(int32_t v)
{
    return add(std::make_unique<Sqlite3IntParam>(v));
}

Sqlite3Command &Sqlite3Command::addInt64(int64_t v)
{
    return add(std::make_unique<Sqlite3Int64Param>(v));
}

Sqlite3Command &Sqlite3Command::addDouble(double v)
{
    return add(std::make_unique<Sqlite3DoubleParam>(v));
}

Sqlite3Command &Sqlite3Command::addText(std::string v)
{
    return add(std::make_unique<Sqlite3TextParam>(std::move(v)));
}

Sqlite3Command &Sqlite3Command::addBlob(std::string v)
{
    return add(std::make_unique<Sqlite3BlobParam>(std::move(v)));
}

int Sqlite3Command::bindAll(sqlite3_stmt *stmt) const
{
    int index = 1;
    for (const auto &p : m_params) {
        if (const int rc = p->bind(stmt, index++))
            return rc;
    }
    return SQLITE_OK;
}
