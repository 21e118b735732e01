// Preparing each fixed text once and resetting a statement after every use.
#include "storage/StatementCache.h"

namespace Quorvan::Stowfleet::UsageReporting {

StatementCache::Use::~Use() {
  sqlite3_reset(statement_.handle());
  sqlite3_clear_bindings(statement_.handle());
}

Statement& StatementCache::prepared(const std::string& sql) {
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    auto statement = std::make_unique<Statement>(connection_, sql);
    found = statements_.emplace(sql, std::move(statement)).first;
  }
  return *found->second;
}

}  // namespace Quorvan::Stowfleet::UsageReporting
