// A named unit of work inside or outside a transaction: SAVEPOINT on construction,
// RELEASE on success, and ROLLBACK TO + RELEASE when it is left without release.
#pragma once

#include <string>

namespace Quorvan::Stowfleet::UsageReporting {

class SQLiteDatabase;

class Savepoint {
 public:
  // The name is fixed text of the caller (never input).
  Savepoint(SQLiteDatabase& database, std::string name);
  ~Savepoint();
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;

  void release();

 private:
  SQLiteDatabase& database_;
  const std::string name_;
  bool open_ = true;
};

}  // namespace Quorvan::Stowfleet::UsageReporting
