// Comparing a path with the database's files by device and inode.
#include "storage/DatabaseFiles.h"

#include <sys/stat.h>

namespace Quorvan::Stowfleet::UsageReporting {

bool namesDatabaseFile(const std::string& path, const std::string& databasePath) {
  struct stat target {};
  if (stat(path.c_str(), &target) != 0) return false;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    struct stat file {};
    if (stat((databasePath + suffix).c_str(), &file) == 0 && file.st_dev == target.st_dev &&
        file.st_ino == target.st_ino) {
      return true;
    }
  }
  return false;
}

}  // namespace Quorvan::Stowfleet::UsageReporting
