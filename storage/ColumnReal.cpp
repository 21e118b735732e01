// Reading a REAL column as the value of its text, without the text where it is exact.
#include "storage/ColumnReal.h"

#include <charconv>
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
  if (sqlite3_column_type(statement, column) == SQLITE_FLOAT) {
    const double value = sqlite3_column_double(statement, column);
    // SQLite writes -0.0 as "0.0".
    if (realTextIsExact(value)) return value == 0.0 ? 0.0 : value;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return std::atof(text ? text : "");
}

}  // namespace Quorvan::Stowfleet::UsageReporting
