// The wait of the storage layer while another process holds the database file busy.
#pragma once

#include <sqlite3.h>

namespace Quorvan::Stowfleet::UsageReporting {

// Milliseconds between two attempts on a busy database.
constexpr int kBusyWaitMilliseconds = 250;

// True (after waiting) when a result says the database is busy and trying again can
// succeed. A stale read snapshot inside a transaction (SQLITE_BUSY_SNAPSHOT) never
// clears by waiting, so it is not retried.
inline bool waitIfBusy(sqlite3* connection, int result) {
  if (result != SQLITE_BUSY) return false;
  if (connection && sqlite3_extended_errcode(connection) == SQLITE_BUSY_SNAPSHOT) return false;
  sqlite3_sleep(kBusyWaitMilliseconds);
  return true;
}

}  // namespace Quorvan::Stowfleet::UsageReporting
