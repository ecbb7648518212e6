// Where the files of a received task go below the chosen save folder: names
// that take nothing over from what is already there, and the names of the
// partial files that receive them.
#pragma once

#include "TransferRecords.h"

#include <string>
#include <vector>

// Gives every file of a task accepted into saveFolder its save_path. Each
// top-level entry (a file at the top, or the first folder of a root or of a
// folder record) whose name already exists in the save folder, or was given
// to an earlier entry of the task, takes the first free numbered name beside
// it ("notes (1).txt", "photos (1)"); a file at the top also needs its
// partial file's name free. Files of one task that would share a path get
// numbered names too. Nothing is created. False, with error, when a record
// is unsafe (see relativeSavePath) or the save folder cannot be read; files
// are then left as they were.
bool assignFreeSavePaths(const std::string &saveFolder, std::vector<TransferFile> &files, std::string *error);

// The partial file that receives the file named name (the last name of its
// destination) of file fid in task tid, at subpath inside a folder entry
// (empty for a plain file).
std::string partialFileName(const std::string &name, const std::string &tid, const std::string &fid,
                            const std::string &subpath);
