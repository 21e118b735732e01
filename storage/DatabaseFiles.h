// Whether a path names the database file or one of SQLite's companion files of it.
#pragma once

#include <string>

namespace Quorvan::Stowfleet::UsageReporting {

// True when the path is the same file (by device and inode) as the database or its
// -wal, -shm or -journal file: writing there would destroy the database. A path that
// does not exist yet is none of them.
bool namesDatabaseFile(const std::string& path, const std::string& databasePath);

}  // namespace Quorvan::Stowfleet::UsageReporting
