// The target of a call to another device (its address, HTTPS port and
// password) and what the call gave back.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct PeerEndpoint {
    std::string host; // address or host name; empty when the device is not known
    int32_t port = 0;
    std::string pwd; // sent as "X-PWD"; no header at all when empty
};

struct HttpResponse {
    // The HTTP status, or -1 when the request itself failed (refused, time-out,
    // TLS, aborted); body then holds "CURL: " and libcurl's message.
    int status = -1;
    std::string body;
    std::map<std::string, std::string> headers; // names as received; last value of a repeated name
};
