// Reading a column as the number of its text, without the text where that is exact.
#include "storage/ColumnNumber.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace Quorvan::Stowfleet::UsageReporting {

namespace {

constexpr int kSqliteRealDigits = 15;

}  // namespace

bool realTextIsExact(double value) {
  if (!std::isfinite(value)) return false;
  // The shortest form that reads back as the value, as digits and an exponent.
  char text[64];
  const std::to_chars_result written =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  if (written.ec != std::errc()) return false;
  int digits = 0;
  for (const char* c = text; c != written.ptr && *c != 'e'; ++c) {
    if (*c >= '0' && *c <= '9') ++digits;
  }
  return digits <= kSqliteRealDigits;
}

double columnAsTextDouble(sqlite3_stmt* statement, int column) {
  const int type = sqlite3_column_type(statement, column);
  if (type == SQLITE_INTEGER) return static_cast<double>(sqlite3_column_int64(statement, column));
  if (type == SQLITE_FLOAT) {
    const double value = sqlite3_column_double(statement, column);
    // SQLite writes -0.0 as "0.0".
    if (realTextIsExact(value)) return value == 0.0 ? 0.0 : value;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return std::atof(text ? text : "");
}

int columnAsTextInt(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_INTEGER) {
    const sqlite3_int64 value = sqlite3_column_int64(statement, column);
    if (value >= INT_MIN && value <= INT_MAX) return static_cast<int>(value);
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return std::atoi(text ? text : "");
}

}  // namespace Quorvan::Stowfleet::UsageReporting
