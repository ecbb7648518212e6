// Builds "REPLACE INTO" / "INSERT INTO" statements from a column-to-value row.
#pragma once

#include "Sqlite3Command.h"
#include "Sqlite3Value.h"

#include <set>
#include <string>

// verb [table]([col],...) VALUES(?,...), columns in the row's key order,
// skipping the names in excluded (compared case-insensitively).
Sqlite3Command buildWriteCommand(const Sqlite3Row &row, const std::string &table, const std::set<std::string> &excluded,
                                 const std::string &verb);
