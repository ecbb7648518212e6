// Rules that turn names received from a peer into safe local path components.
#pragma once

#include <string>

namespace pathutil {

// Rewrites one received file name so that it is a safe, readable single path
// component: reserved device names are escaped whole, and the characters
// % \ / : * ? " < > | and line feed, carriage return and tab become "%" and two
// lower-case hex digits. "." and ".." (which would name the folder itself or
// its parent) have each dot escaped as "%2e". Never fails.
std::string encodeFileNameWin(const std::string &name);

// True for a relative sub-folder path whose every "/"-separated component is a
// normal name: not empty, not "." or "..", no NUL or other control character,
// at most 255 bytes. The empty path (top level) is safe.
bool isSafeRelativePath(const std::string &path);

// True when name, once encoded, is a usable single component: not empty, no
// NUL, at most 255 bytes.
bool isSafeEncodedName(const std::string &encoded);

} // namespace pathutil
