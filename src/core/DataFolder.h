// The per-user data folder that holds the settings, the task folders and the
// share database, and the small tuning values kept beside them.
#pragma once

#include <string>

// ${XDG_DATA_HOME:-$HOME/.local/share}/tovantic_lanferry_win, created with its
// missing parents on first use. Read from the environment on every call.
std::string dataFolder();
// dataFolder() + "/" + name.
std::string dataFile(const std::string &name);
// The last component of the home folder; the default device name.
std::string homeFolderName();
// The "maxthreads" tuning file: a positive 32-bit decimal number, or the
// default (half the global thread pool's maximum, at least 1) for anything else.
int readMaxThreads();
