// Column lookup and insertion in the sorted fields of a result row.
#include "storage/ResultRow.h"

#include <algorithm>

namespace Quorvan::Stowfleet::UsageReporting {

ResultRow::Fields::const_iterator ResultRow::position(const std::string& column) const {
  return std::lower_bound(
      fields_.begin(), fields_.end(), column,
      [](const Field& field, const std::string& name) { return field.first < name; });
}

void ResultRow::set(std::string column, FieldValue value) {
  const auto at = position(column);
  if (at != fields_.end() && at->first == column) {
    fields_[at - fields_.begin()].second = std::move(value);
    return;
  }
  fields_.emplace(at, std::move(column), std::move(value));
}

void ResultRow::setIfAbsent(std::string column, FieldValue value) {
  const auto at = position(column);
  if (at != fields_.end() && at->first == column) return;
  fields_.emplace(at, std::move(column), std::move(value));
}

bool ResultRow::has(const std::string& column) const {
  const auto at = position(column);
  return at != fields_.end() && at->first == column;
}

const FieldValue& ResultRow::get(const std::string& column) const {
  static const FieldValue missing;
  const auto at = position(column);
  return at != fields_.end() && at->first == column ? at->second : missing;
}

}  // namespace Quorvan::Stowfleet::UsageReporting
