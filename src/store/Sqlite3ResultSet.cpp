#include "Sqlite3ResultSet.h"

#include <algorithm>

Sqlite3ResultSet::~Sqlite3ResultSet()
{
    reset();
}

void Sqlite3ResultSet::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
    m_command = Sqlite3Command();
    m_columns.clear();
    m_columnsRead = false;
    m_row = -1;
}

bool Sqlite3ResultSet::next()
{
    if (!m_stmt || sqlite3_step(m_stmt) != SQLITE_ROW)
        return false;
    ++m_row;
    return true;
}

int Sqlite3ResultSet::columnIndex(const std::string &name)
{
    if (!m_stmt)
        return -1;
    if (!m_columnsRead) {
        const int n = sqlite3_column_count(m_stmt);
        for (int i = 0; i < n; ++i) {
            const char *c = sqlite3_column_name(m_stmt, i);
            m_columns[c ? c : ""] = i;
        }
        m_columnsRead = true;
    }
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
    const auto it = m_columns.find(lower);
    return it == m_columns.end() ? -1 : it->second;
}

int32_t Sqlite3ResultSet::getInt(const std::string &name)
{
    const int i = columnIndex(name);
    if (i < 0 || sqlite3_column_type(m_stmt, i) == SQLITE_NULL)
        return 0;
    return sqlite3_column_int(m_stmt, i);
}

int64_t Sqlite3ResultSet::getInt64(const std::string &name)
{
    const int i = columnIndex(name);
    if (i < 0 || sqlite3_column_type(m_stmt, i) == SQLITE_NULL)
        return 0;
    return sqlite3_column_int64(m_stmt, i);
}

std::string Sqlite3ResultSet::getText(const std::string &name)
{
    const int i = columnIndex(name);
    if (i < 0 || sqlite3_column_type(m_stmt, i) == SQLITE_NULL)
        return {};
    const unsigned char *t = sqlite3_column_text(m_stmt, i);
    return t ? std::string(reinterpret_cast<const char *>(t)) : std::string();
}
