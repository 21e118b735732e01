// Beginning, ending and abandoning a transaction.
#include "storage/Transaction.h"

#include "storage/SQLiteDatabase.h"

namespace Quorvan::Stowfleet::UsageReporting {

Transaction::~Transaction() {
  if (open_) database_.rollbackTransaction();
}

void Transaction::begin() {
  if (kind_ == Kind::Immediate) {
    database_.beginImmediateTransaction();
  } else {
    database_.beginTransaction();
  }
  open_ = true;
}

void Transaction::end() {
  database_.endTransaction();
  open_ = false;
}

}  // namespace Quorvan::Stowfleet::UsageReporting
