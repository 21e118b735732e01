// Column lookup of a result row.
#include "storage/ResultRow.h"

namespace Quorvan::Stowfleet::UsageReporting {

const FieldValue& ResultRow::get(const std::string& column) const {
  static const FieldValue missing;
  auto it = fields_.find(column);
  return it == fields_.end() ? missing : it->second;
}

}  // namespace Quorvan::Stowfleet::UsageReporting
