#include "Uuid.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <QtGlobal>
#include <sys/random.h>

std::string newUuid()
{
    uint8_t bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // Ids must be unique; without the kernel's random source nothing sound is left.
            qFatal("getrandom failed: %s", std::strerror(errno));
        }
        got += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);

    static const char digits[] = "0123456789abcdef";
    std::string out = "00000000-0000-0000-0000-000000000000";
    size_t pos = 0;
    for (uint8_t b : bytes) {
        if (out[pos] == '-')
            ++pos;
        out[pos++] = digits[b >> 4];
        out[pos++] = digits[b & 0x0f];
    }
    return out;
}
