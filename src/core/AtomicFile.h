// Whole-file reads and crash-safe whole-file replacement: a reader sees either
// the previous complete content or the new one, never a part.
#pragma once

#include <string>

// Writes data to a temporary file beside path, then renames it over path.
// With durable set the data is flushed to the disk before the rename.
// On failure returns false, leaves path untouched and sets error to the C
// library's text for the failing call.
bool writeFileAtomic(const std::string &path, const std::string &data, std::string *error = nullptr,
                     bool durable = false);

// Reads a whole regular file. On failure returns false and sets error to the
// C library's text (a folder reads as "Is a directory").
bool readWholeFile(const std::string &path, std::string *data, std::string *error = nullptr);
