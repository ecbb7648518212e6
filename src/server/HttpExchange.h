// One HTTP exchange as the routes see it: the request the front end parsed
// and checked, and the answer a route fills in.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX sequences (and, in query parameters, "+") as the bytes they stand for.
inline std::string percentDecode(const std::string &s, bool plusIsSpace = false)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else if (plusIsSpace && s[i] == '+') {
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

struct IncomingRequest {
    std::string method;
    std::string path;                           // without the query, not decoded
    std::vector<std::string> matches;           // the route's decoded path parameters
    std::map<std::string, std::string> params;  // decoded query parameters
    std::map<std::string, std::string> headers; // names lower-cased
    std::string remote_addr;
    std::string body;

    std::string get_header_value(std::string name) const
    {
        for (char &c : name)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
    std::string get_param_value(const std::string &name) const
    {
        const auto it = params.find(name);
        return it == params.end() ? std::string() : it->second;
    }
};

struct ServerAnswer {
    int status = 200;
    std::string body;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    // When set, the body is these bytes instead of `body`; the holder keeps
    // them alive until the answer is out.
    std::shared_ptr<const char> data;
    size_t dataSize = 0;
    bool close = false; // the connection ends after this answer

    void set_content(std::string text, std::string type)
    {
        body = std::move(text);
        contentType = std::move(type);
    }
    void set_header(std::string name, std::string value) { headers.emplace_back(std::move(name), std::move(value)); }
};
