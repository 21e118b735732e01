// The one reading of number options: strict whole decimal numbers, so that a
// typing error fails the request instead of reading as 0 or wrapping around.
#include "cli/WholeNumberOption.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>

#include "cli/ArgumentChecker.h"

namespace sfad {

namespace {

// In the order in which a request's values are checked.
const char* const kNumberOptions[] = {
    "-min_backup_time", "-max_backup_time", "-start_time",
    "-end_time",        "-feedback",        "-purge_interval_in_months",
};

// The blanks that may precede a number (those the C library skips).
bool isBlank(char c) { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<int> parseWholeNumber(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size() && isBlank(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  if (at == text.size()) return std::nullopt;
  // The magnitude is bounded by 2^31 (the lowest value), so it never overflows.
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<int>::min())
                                      : std::numeric_limits<int>::max();
  std::int64_t magnitude = 0;
  for (; at < text.size(); ++at) {
    if (!isDigit(text[at])) return std::nullopt;
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}

int wholeNumberOption(const std::string& name, const OptionValue& value) {
  if (!value.hasValue) failInvalidParameters("Value for " + name + " missing");
  const std::optional<int> number = parseWholeNumber(value.value);
  if (!number) {
    std::ostringstream message;
    message << "Invalid value '" << value.value << "' for " << name
            << ". Expected a whole number from " << std::numeric_limits<int>::min() << " to "
            << std::numeric_limits<int>::max() << ".";
    failInvalidParameters(message.str());
  }
  return *number;
}

void requireWholeNumbers(const OptionMap& options) {
  for (const char* name : kNumberOptions) {
    const auto option = options.find(name);
    if (option != options.end()) wholeNumberOption(name, option->second);
  }
}

}  // namespace sfad
