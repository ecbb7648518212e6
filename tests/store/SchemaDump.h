// Reads a database's schema back as text, so tests can compare tables,
// indexes and triggers with the declarations other programs rely on.
#pragma once

#include "store/Sqlite3DB.h"

#include <QString>
#include <QStringList>

// One "name|type|notnull|default|pk" line per column of table.
inline QStringList columnsOf(Sqlite3DB &db, const QString &table)
{
    QStringList out;
    Sqlite3ResultSet rs;
    if (!db.query(("PRAGMA table_info(" + table + ")").toStdString(), rs))
        return {"query failed: " + QString::fromStdString(db.errorMessage())};
    while (rs.next()) {
        out << QStringLiteral("%1|%2|%3|%4|%5")
                   .arg(QString::fromStdString(rs.getText("name")), QString::fromStdString(rs.getText("type")))
                   .arg(rs.getInt("notnull"))
                   .arg(QString::fromStdString(rs.getText("dflt_value")))
                   .arg(rs.getInt("pk"));
    }
    return out;
}

// The SQL text SQLite keeps for a named index or trigger.
inline QString schemaSql(Sqlite3DB &db, const QString &type, const QString &name)
{
    Sqlite3ResultSet rs;
    Sqlite3Command cmd("select sql from sqlite_master where type=? and name=?");
    cmd.addText(type.toStdString()).addText(name.toStdString());
    if (!db.query(std::move(cmd), rs) || !rs.next())
        return {};
    return QString::fromStdString(rs.getText("sql"));
}

inline QString journalMode(Sqlite3DB &db)
{
    Sqlite3ResultSet rs;
    if (!db.query("PRAGMA journal_mode", rs) || !rs.next())
        return {};
    return QString::fromStdString(rs.getText("journal_mode"));
}
