// One result row: column names mapped to their texts, kept ordered by name, and the list
// of rows of a query. The columns sit in one sorted array, so reading a row costs one
// allocation rather than one per column.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "storage/FieldValue.h"

namespace Quorvan::Stowfleet::UsageReporting {

class ResultRow {
 public:
  using Field = std::pair<std::string, FieldValue>;
  // Ordered by column name (byte order), each name once.
  using Fields = std::vector<Field>;

  // Sets (or replaces) the value of a column.
  void set(std::string column, FieldValue value);
  void set(const std::string& column, const std::string& text) { set(column, FieldValue(text)); }
  // Keeps an existing value: the first column of a name wins.
  void setIfAbsent(std::string column, FieldValue value);
  bool has(const std::string& column) const;
  // The value of a column; a column the row lacks reads as the empty text.
  const FieldValue& get(const std::string& column) const;
  const std::string& text(const std::string& column) const { return get(column).text(); }
  int asInt(const std::string& column) const { return get(column).asInt(); }
  double asDouble(const std::string& column) const { return get(column).asDouble(); }

  // Room for that many columns, for a row about to be read.
  void reserve(std::size_t columns) { fields_.reserve(columns); }
  bool empty() const { return fields_.empty(); }
  std::size_t size() const { return fields_.size(); }
  void clear() { fields_.clear(); }
  Fields::const_iterator begin() const { return fields_.begin(); }
  Fields::const_iterator end() const { return fields_.end(); }

 private:
  // The first field whose name is not before the column.
  Fields::const_iterator position(const std::string& column) const;

  Fields fields_;
};

using QueryResult = std::vector<ResultRow>;

}  // namespace Quorvan::Stowfleet::UsageReporting
