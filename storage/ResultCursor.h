// Reads the rows of a stepped statement one by one; the first step waits while the
// database is busy.
#pragma once

#include <sqlite3.h>

#include "storage/ResultRow.h"

namespace Quorvan::Stowfleet::UsageReporting {

class Statement;

class ResultCursor {
 public:
  // Makes the first step; raises sqlite_exception for SQLITE_ERROR.
  explicit ResultCursor(Statement& statement);

  // Hands out the next row; false at the end of the rows or after a failed step.
  bool next(ResultRow& row);
  int lastResult() const { return lastResult_; }

  // Reads the current row of a statement into a row (NULL becomes the empty text).
  static void readRow(sqlite3_stmt* statement, ResultRow& row);

 private:
  sqlite3_stmt* const statement_;
  ResultRow pending_;
  int lastResult_ = SQLITE_OK;
  bool pendingWaiting_ = false;
};

}  // namespace Quorvan::Stowfleet::UsageReporting
