#include "BuildWriteCommand.h"

namespace {

std::string asciiLower(std::string s)
{
    for (char &c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

} // namespace

Sqlite3Command buildWriteCommand(const Sqlite3Row &row, const std::string &table, const std::set<std::string> &excluded,
                                 const std::string &verb)
{
    std::set<std::string> skip;
    for (const auto &name : excluded)
        skip.insert(asciiLower(name));

    Sqlite3Command cmd;
    std::string columns, placeholders;
    for (const auto &[key, value] : row) {
        if (skip.count(asciiLower(key)))
            continue;
        if (!columns.empty()) {
            columns += ',';
            placeholders += ',';
        }
        columns += "[" + key + "]";
        placeholders += '?';
        switch (value.tag()) {
        case Sqlite3Value::Null:
            cmd.addNull();
            break;
        case Sqlite3Value::Int:
            cmd.addInt(value.toInt());
            break;
        case Sqlite3Value::Int64:
            cmd.addInt64(value.toInt64());
            break;
        case Sqlite3Value::Double:
            cmd.addDouble(value.toDouble());
            break;
        case Sqlite3Value::Blob:
            cmd.addBlob(value.payload());
            break;
        case Sqlite3Value::Text:
            cmd.addText(value.toText());
            break;
        }
    }
    cmd.setSql(verb + " [" + table + "](" + columns + ") VALUES(" + placeholders + ")");
    return cmd;
}
