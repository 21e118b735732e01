// Read settings of the connection for a request that reads much of the database file:
// the file memory-mapped (up to a bound) and a larger page cache. Neither changes what is
// read or written, nor how durably it is written.
#pragma once

namespace Quorvan::Stowfleet::UsageReporting {

class SQLiteDatabase;

// Maps up to 128 MiB of the database file (pages beyond are read as before) and gives the
// connection a 16 MiB page cache; a detect run also keeps the training sets it has read,
// which the bound leaves room for. A setting SQLite refuses leaves its default in place,
// since it only costs speed.
void tuneForLargeReads(SQLiteDatabase& database) noexcept;

}  // namespace Quorvan::Stowfleet::UsageReporting
