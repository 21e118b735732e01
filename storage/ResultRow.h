// One result row: an ordered map from column name to its text, and the list of rows
// of a query.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "storage/FieldValue.h"

namespace Quorvan::Stowfleet::UsageReporting {

class ResultRow {
 public:
  using Fields = std::map<std::string, FieldValue>;

  // Sets (or replaces) the value of a column.
  void set(const std::string& column, FieldValue value) {
    fields_[column] = std::move(value);
  }
  void set(const std::string& column, const std::string& text) {
    fields_[column] = FieldValue(text);
  }
  // Keeps an existing value: the first column of a name wins.
  void setIfAbsent(const std::string& column, FieldValue value) {
    fields_.emplace(column, std::move(value));
  }
  bool has(const std::string& column) const { return fields_.count(column) != 0; }
  // The value of a column; a column the row lacks reads as the empty text.
  const FieldValue& get(const std::string& column) const;
  const std::string& text(const std::string& column) const { return get(column).text(); }
  int asInt(const std::string& column) const { return get(column).asInt(); }
  double asDouble(const std::string& column) const { return get(column).asDouble(); }

  bool empty() const { return fields_.empty(); }
  std::size_t size() const { return fields_.size(); }
  void clear() { fields_.clear(); }
  Fields::const_iterator begin() const { return fields_.begin(); }
  Fields::const_iterator end() const { return fields_.end(); }

 private:
  Fields fields_;
};

using QueryResult = std::vector<ResultRow>;

}  // namespace Quorvan::Stowfleet::UsageReporting
