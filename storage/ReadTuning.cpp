// The memory-mapping and page-cache pragmas of a read-heavy request.
#include "storage/ReadTuning.h"

#include <sqlite3.h>

#include "storage/SQLiteDatabase.h"

namespace Quorvan::Stowfleet::UsageReporting {

namespace {

constexpr const char* kMapDatabaseFile = "PRAGMA mmap_size = 134217728;";
constexpr const char* kLargerPageCache = "PRAGMA cache_size = -16384;";

}  // namespace

void tuneForLargeReads(SQLiteDatabase& database) noexcept {
  sqlite3_exec(database.handle(), kMapDatabaseFile, nullptr, nullptr, nullptr);
  sqlite3_exec(database.handle(), kLargerPageCache, nullptr, nullptr, nullptr);
}

}  // namespace Quorvan::Stowfleet::UsageReporting
