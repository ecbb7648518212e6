// One cell value for the statement builder (a type tag and its payload bytes),
// and a row of them keyed by column name.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class Sqlite3Value {
public:
    enum Tag { Null = 0, Int = 1, Int64 = 2, Double = 3, Blob = 4, Text = 5 };

    Sqlite3Value() = default;
    Sqlite3Value(Tag tag, std::string payload) : m_tag(tag), m_payload(std::move(payload)) {}

    static Sqlite3Value null() { return {}; }
    static Sqlite3Value fromInt(int32_t v);
    static Sqlite3Value fromInt64(int64_t v);
    static Sqlite3Value fromDouble(double v);
    static Sqlite3Value fromBlob(std::string bytes) { return {Blob, std::move(bytes)}; }
    static Sqlite3Value fromText(std::string text) { return {Text, std::move(text)}; }

    Tag tag() const { return m_tag; }
    const std::string &payload() const { return m_payload; }

    // Conversions; anything unreadable (wrong payload size, no number, out of
    // range, null) gives the fallback.
    int32_t toInt(int32_t fallback = 0) const;
    int64_t toInt64(int64_t fallback = 0) const;
    double toDouble(double fallback = 0) const;
    std::string toText() const;

private:
    Tag m_tag = Null;
    std::string m_payload;
};

// Column name to value, walked in ascending byte order of the names.
using Sqlite3Row = std::map<std::string, Sqlite3Value>;
