// Preparing and binding a statement.
#include "storage/Statement.h"

#include "storage/BusyWait.h"
#include "storage/SQLiteDatabase.h"

namespace Quorvan::Stowfleet::UsageReporting {

Statement::Statement(sqlite3* connection, const std::string& sql)
    : connection_(connection), sql_(sql) {
  if (connection_ == nullptr) {
    throw sqlite_exception("Invalid database object received.", SQLITE_ERROR);
  }
  int result;
  for (;;) {
    sqlite3_stmt* prepared = nullptr;
    result = sqlite3_prepare_v2(connection_, sql_.c_str(), -1, &prepared, nullptr);
    statement_.reset(prepared);
    if (!waitIfBusy(connection_, result)) break;
  }
  if (result != SQLITE_OK) {
    throw sqlite_exception("sqlite prepare statement failed for query - " + sql_, result,
                           connection_);
  }
}

void Statement::checkBind(int result) const {
  if (result != SQLITE_OK) throw sqlite_exception("sqlite bind failed.", result, connection_);
}

void Statement::bindText(int index, const std::string& text) {
  checkBind(sqlite3_bind_text(handle(), index, text.c_str(), -1, SQLITE_TRANSIENT));
}

void Statement::bindInt(int index, int value) {
  checkBind(sqlite3_bind_int(handle(), index, value));
}

void Statement::bindDouble(int index, double value) {
  checkBind(sqlite3_bind_double(handle(), index, value));
}

void Statement::reset() { sqlite3_reset(handle()); }

}  // namespace Quorvan::Stowfleet::UsageReporting
