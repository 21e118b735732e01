// Savepoints over the connection's exec operations.
#include "storage/Savepoint.h"

#include <sqlite3.h>

#include "storage/SQLiteDatabase.h"

namespace Quorvan::Stowfleet::UsageReporting {

Savepoint::Savepoint(SQLiteDatabase& database, std::string name)
    : database_(database), name_(std::move(name)) {
  database_.execute("SAVEPOINT " + name_ + ";");
}

Savepoint::~Savepoint() {
  if (!open_) return;
  const std::string undo = "ROLLBACK TO " + name_ + "; RELEASE " + name_ + ";";
  sqlite3_exec(database_.handle(), undo.c_str(), nullptr, nullptr, nullptr);
  database_.noteSavepointUndone();
}

void Savepoint::release() {
  database_.execute("RELEASE " + name_ + ";");
  open_ = false;
}

}  // namespace Quorvan::Stowfleet::UsageReporting
