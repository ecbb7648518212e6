#include "Sqlite3Value.h"

#include "core/Json.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

template <typename T> std::string bytesOf(T v)
{
    return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

template <typename T> bool readBytes(const std::string &payload, T *out)
{
    if (payload.size() != sizeof(T))
        return false;
    std::memcpy(out, payload.data(), sizeof(T));
    return true;
}

template <typename T> bool truncateDouble(double d, T *out)
{
    if (std::isnan(d) || d <= static_cast<double>(std::numeric_limits<T>::min()) - 1.0 ||
        d >= static_cast<double>(std::numeric_limits<T>::max()) + 1.0)
        return false;
    *out = static_cast<T>(d);
    return true;
}

template <typename T> T toInteger(Sqlite3Value::Tag tag, const std::string &payload, T fallback)
{
    switch (tag) {
    case Sqlite3Value::Int: {
        int32_t v;
        return readBytes(payload, &v) ? static_cast<T>(v) : fallback;
    }
    case Sqlite3Value::Int64: {
        int64_t v; // truncated to the low bits when T is narrower, as a C cast does
        return readBytes(payload, &v) ? static_cast<T>(v) : fallback;
    }
    case Sqlite3Value::Double: {
        double d;
        T v;
        return readBytes(payload, &d) && truncateDouble(d, &v) ? v : fallback;
    }
    case Sqlite3Value::Blob:
    case Sqlite3Value::Text: {
        const auto n = parseLeadingInt(payload);
        if (!n || *n < std::numeric_limits<T>::min() || *n > std::numeric_limits<T>::max())
            return fallback;
        return static_cast<T>(*n);
    }
    default:
        return fallback;
    }
}

std::string formatDouble(double d)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", d);
    return buf;
}

} // namespace

Sqlite3Value Sqlite3Value::fromInt(int32_t v)
{
    return {Int, bytesOf(v)};
}

Sqlite3Value Sqlite3Value::fromInt64(int64_t v)
{
    return {Int64, bytesOf(v)};
}

Sqlite3Value Sqlite3Value::fromDouble(double v)
{
    return {Double, bytesOf(v)};
}

int32_t Sqlite3Value::toInt(int32_t fallback) const
{
    return toInteger<int32_t>(m_tag, m_payload, fallback);
}

int64_t Sqlite3Value::toInt64(int64_t fallback) const
{
    return toInteger<int64_t>(m_tag, m_payload, fallback);
}

double Sqlite3Value::toDouble(double fallback) const
{
    switch (m_tag) {
    case Int: {
        int32_t v;
        return readBytes(m_payload, &v) ? v : fallback;
    }
    case Int64: {
        int64_t v;
        return readBytes(m_payload, &v) ? static_cast<double>(v) : fallback;
    }
    case Double: {
        double v;
        return readBytes(m_payload, &v) ? v : fallback;
    }
    case Blob:
    case Text: {
        const char *start = m_payload.c_str();
        char *end = nullptr;
        errno = 0;
        const double v = std::strtod(start, &end);
        return end == start || errno == ERANGE ? fallback : v;
    }
    default:
        return fallback;
    }
}

std::string Sqlite3Value::toText() const
{
    switch (m_tag) {
    case Int: {
        int32_t v = 0;
        readBytes(m_payload, &v);
        return std::to_string(v);
    }
    case Int64: {
        int64_t v = 0;
        readBytes(m_payload, &v);
        return std::to_string(v);
    }
    case Double: {
        double v = 0;
        readBytes(m_payload, &v);
        return formatDouble(v);
    }
    case Blob:
    case Text:
        return m_payload;
    default:
        return {};
    }
}
