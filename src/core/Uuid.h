// Random 128-bit ids in the 36-character 8-4-4-4-12 lower-case hex form used
// for devices, tasks, files and shared entries.
#pragma once

#include <string>

// 16 bytes from the kernel's cryptographic random source (version-4 bits set).
std::string newUuid();
