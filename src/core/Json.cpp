#include "Json.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

JsonPtr jsonParse(const std::string &text)
{
    json_tokener *tok = json_tokener_new();
    if (!tok)
        return nullptr;
    json_object *o = json_tokener_parse_ex(tok, text.data(), static_cast<int>(text.size()));
    const json_tokener_error err = json_tokener_get_error(tok);
    // A complete value must use the whole text (trailing white space aside).
    size_t used = json_tokener_get_parse_end(tok);
    json_tokener_free(tok);
    if (err != json_tokener_success || !o) {
        json_object_put(o);
        return nullptr;
    }
    for (; used < text.size(); ++used) {
        if (!std::isspace(static_cast<unsigned char>(text[used]))) {
            json_object_put(o);
            return nullptr;
        }
    }
    return JsonPtr(o);
}

namespace {

size_t skipSpace(const std::string &text, size_t at)
{
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    return at;
}

// Where the array element starting at `at` ends: the "," or "]" that follows
// it outside any string and nesting; text.size() when there is none.
size_t elementEnd(const std::string &text, size_t at)
{
    int depth = 0;
    bool inString = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (inString) {
            if (c == '\\')
                ++at;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || (c == ']' && depth > 0)) {
            --depth;
        } else if ((c == ',' || c == ']') && depth == 0) {
            return at;
        }
    }
    return text.size();
}

} // namespace

bool jsonForEachInArray(const std::string &text, const std::function<bool(json_object *)> &visit)
{
    size_t at = skipSpace(text, 0);
    if (at >= text.size() || text[at] != '[')
        return false;
    at = skipSpace(text, at + 1);
    if (at < text.size() && text[at] == ']')
        return skipSpace(text, at + 1) == text.size();
    for (;;) {
        const size_t end = elementEnd(text, at);
        if (end >= text.size())
            return false;
        // The space ends a bare number, which json-c would otherwise wait to see continued.
        JsonPtr element = jsonParse(text.substr(at, end - at) + ' ');
        if (!element || !visit(element.get()))
            return false;
        if (text[end] == ']')
            return skipSpace(text, end + 1) == text.size();
        at = end + 1;
    }
}

std::string jsonText(json_object *o)
{
    return json_object_to_json_string_ext(o, JSON_C_TO_STRING_SPACED);
}

static json_object *member(json_object *obj, const char *key)
{
    json_object *v = nullptr;
    if (!obj || !json_object_is_type(obj, json_type_object))
        return nullptr;
    if (!json_object_object_get_ex(obj, key, &v))
        return nullptr;
    return v;
}

std::optional<int64_t> parseLeadingInt(const std::string &text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
        return std::nullopt;
    // Accumulate as a negative number so INT64_MIN fits.
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = text[i] - '0';
        if (value < (INT64_MIN + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == INT64_MIN)
            return std::nullopt;
        value = -value;
    }
    return value;
}

std::string jsonString(json_object *obj, const char *key)
{
    json_object *v = member(obj, key);
    switch (json_object_get_type(v)) {
    case json_type_boolean:
        return json_object_get_boolean(v) ? "true" : "false";
    case json_type_double: {
        char buf[512];
        std::snprintf(buf, sizeof buf, "%f", json_object_get_double(v));
        return buf;
    }
    case json_type_int:
        return std::to_string(json_object_get_int(v));
    case json_type_string:
        return std::string(json_object_get_string(v), static_cast<size_t>(json_object_get_string_len(v)));
    default:
        return {};
    }
}

static int64_t clampDouble(double d, int64_t lo, int64_t hi)
{
    if (std::isnan(d))
        return 0;
    if (d <= static_cast<double>(lo))
        return lo;
    if (d >= static_cast<double>(hi))
        return hi;
    return static_cast<int64_t>(d);
}

int32_t jsonInt(json_object *obj, const char *key)
{
    json_object *v = member(obj, key);
    switch (json_object_get_type(v)) {
    case json_type_boolean:
        return json_object_get_boolean(v) ? 1 : 0;
    case json_type_double:
        return static_cast<int32_t>(clampDouble(json_object_get_double(v), INT32_MIN, INT32_MAX));
    case json_type_int:
        return json_object_get_int(v);
    case json_type_string: {
        const auto n = parseLeadingInt(json_object_get_string(v));
        if (!n || *n < INT32_MIN || *n > INT32_MAX)
            return 0;
        return static_cast<int32_t>(*n);
    }
    default:
        return 0;
    }
}

int64_t jsonInt64(json_object *obj, const char *key)
{
    json_object *v = member(obj, key);
    switch (json_object_get_type(v)) {
    case json_type_boolean:
        return json_object_get_boolean(v) ? 1 : 0;
    case json_type_double:
        return clampDouble(json_object_get_double(v), INT64_MIN, INT64_MAX);
    case json_type_int:
        return json_object_get_int64(v);
    case json_type_string:
        return parseLeadingInt(json_object_get_string(v)).value_or(0);
    default:
        return 0;
    }
}

bool jsonBool(json_object *obj, const char *key)
{
    json_object *v = member(obj, key);
    switch (json_object_get_type(v)) {
    case json_type_boolean:
        return json_object_get_boolean(v);
    case json_type_int:
        return json_object_get_int64(v) != 0;
    case json_type_double:
        return json_object_get_double(v) != 0;
    case json_type_string: {
        // Only "false" and "0" (any case) are false; every other text, even an empty one, is true.
        std::string s = json_object_get_string(v);
        for (char &c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s != "false" && s != "0";
    }
    default:
        return false;
    }
}

void jsonAdd(json_object *obj, const char *key, const std::string &value)
{
    json_object_object_add(obj, key, json_object_new_string_len(value.data(), static_cast<int>(value.size())));
}

void jsonAddInt(json_object *obj, const char *key, int32_t value)
{
    json_object_object_add(obj, key, json_object_new_int(value));
}

void jsonAddInt64(json_object *obj, const char *key, int64_t value)
{
    json_object_object_add(obj, key, json_object_new_int64(value));
}

void jsonAddBool(json_object *obj, const char *key, bool value)
{
    json_object_object_add(obj, key, json_object_new_boolean(value));
}
