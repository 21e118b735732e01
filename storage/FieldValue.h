// One column value of a result row, held as the narrow text SQLite gave for it.
#pragma once

#include <string>

namespace Quorvan::Stowfleet::UsageReporting {

class FieldValue {
 public:
  FieldValue() = default;
  explicit FieldValue(std::string text) : text_(std::move(text)) {}
  explicit FieldValue(const char* text) : text_(text ? text : "") {}
  explicit FieldValue(int value) : text_(std::to_string(value)) {}

  const std::string& text() const { return text_; }
  std::string asString() const { return text_; }
  // atoi / atof semantics: leading blanks skipped, stops at the first
  // character that does not fit, no number gives 0.
  int asInt() const;
  double asDouble() const;

 private:
  std::string text_;
};

}  // namespace Quorvan::Stowfleet::UsageReporting
