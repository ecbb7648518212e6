#include "PathUtil.h"

#include <regex>

namespace pathutil {

namespace {

const std::regex &reservedNames()
{
    static const std::regex re(
        "^((?:CON)|(?:PRN)|(?:AUX)|(?:CLOCK\\$)|(?:NUL)|(?:COM1)|(?:COM2)|(?:COM3)|(?:COM4)|(?:COM5)|"
        "(?:COM6)|(?:COM7)|(?:COM8)|(?:COM9)|(?:LPT1))$",
        std::regex::ECMAScript | std::regex::icase);
    return re;
}

const std::regex &escapedChars()
{
    static const std::regex re("([%\\\\/:*\\?\"<>|\\n\\r\\t])", std::regex::ECMAScript);
    return re;
}

void appendEscaped(std::string &out, unsigned char c)
{
    static const char digits[] = "0123456789abcdef";
    out += '%';
    out += digits[c >> 4];
    out += digits[c & 0x0f];
}

constexpr size_t kMaxComponent = 255;

} // namespace

std::string encodeFileNameWin(const std::string &name)
{
    std::string out;
    if (name == "." || name == ".." || std::regex_match(name, reservedNames())) {
        for (char c : name)
            appendEscaped(out, static_cast<unsigned char>(c));
        return out;
    }
    auto last = name.cbegin();
    for (std::sregex_iterator it(name.cbegin(), name.cend(), escapedChars()), end; it != end; ++it) {
        const auto &m = (*it)[0];
        out.append(last, m.first);
        appendEscaped(out, static_cast<unsigned char>(*m.first));
        last = m.second;
    }
    out.append(last, name.cend());
    return out;
}

bool isSafeRelativePath(const std::string &path)
{
    if (path.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == ".." || part.size() > kMaxComponent)
            return false;
        for (unsigned char c : part) {
            if (c < 0x20 || c == 0x7f)
                return false;
        }
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

bool isSafeEncodedName(const std::string &encoded)
{
    return !encoded.empty() && encoded.size() <= kMaxComponent && encoded.find('\0') == std::string::npos;
}

} // namespace pathutil
