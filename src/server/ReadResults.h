// What the owner's synchronous work gives back to the HTTPS routes.
#pragma once

#include <cstdint>
#include <string>

// One chunk of a file, a folder listing, or a failure.
struct OnReadFileResult {
    bool isDir = false;  // data holds a folder listing
    bool failed = false; // data holds the message
    bool eof = false;    // the bytes in the buffer end at the end of the file
    int32_t size = 0;    // bytes placed in the buffer
    std::string data;
};

// Whether an offered task is taken: 200, or the status and text the sender gets instead.
struct OnTaskRecvResult {
    int status = 200;
    std::string text;
};

struct OnReadThumbResult {
    bool failed = false;
    std::string mime; // content type of the encoded image
    std::string data;
};
