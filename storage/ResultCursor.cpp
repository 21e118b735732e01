// Stepping a statement and reading its rows as text.
#include "storage/ResultCursor.h"

#include "storage/BusyWait.h"
#include "storage/SQLiteDatabase.h"
#include "storage/Statement.h"

namespace Quorvan::Stowfleet::UsageReporting {

ResultCursor::ResultCursor(Statement& statement) : statement_(statement.handle()) {
  if (statement_ == nullptr) {
    throw sqlite_exception("Invalid statement object received.", SQLITE_ERROR);
  }
  do {
    lastResult_ = sqlite3_step(statement_);
  } while (waitIfBusy(statement.connection(), lastResult_));
  if (lastResult_ == SQLITE_ERROR) {
    throw sqlite_exception("sqlite query execution failed.", lastResult_, statement.connection());
  }
  if (lastResult_ == SQLITE_ROW) {
    readRow(statement_, pending_);
    pendingWaiting_ = true;
  }
}

bool ResultCursor::next(ResultRow& row) {
  if (pendingWaiting_) {
    row = std::move(pending_);
    pendingWaiting_ = false;
    return true;
  }
  if (lastResult_ != SQLITE_ROW) return false;
  lastResult_ = sqlite3_step(statement_);
  if (lastResult_ != SQLITE_ROW) return false;
  readRow(statement_, row);
  return true;
}

void ResultCursor::readRow(sqlite3_stmt* statement, ResultRow& row) {
  const int columns = sqlite3_data_count(statement);
  row.reserve(row.size() + static_cast<std::size_t>(columns));
  for (int column = 0; column < columns; ++column) {
    const char* name = sqlite3_column_name(statement, column);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    row.set(name ? name : "", FieldValue(text));
  }
}

}  // namespace Quorvan::Stowfleet::UsageReporting
