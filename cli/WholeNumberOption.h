// Options whose values are numbers (times, feedback, purge interval): whole
// decimal numbers in the 32-bit signed range, checked before the database is
// opened and read by the handlers through the same parser.
#pragma once

#include <optional>
#include <string>

#include "cli/Options.h"

namespace sfad {

// The number a text spells: optional leading blanks, one optional sign, then
// decimal digits and nothing after, within the 32-bit signed range; nothing
// for any other text.
std::optional<int> parseWholeNumber(const std::string& text);

// The number of an option's value; raises code 3, naming the option and quoting
// the value, when the value is missing or not such a number.
int wholeNumberOption(const std::string& name, const OptionValue& value);

// Checks the value of every number option given; raises code 3 at the first
// fault.
void requireWholeNumbers(const OptionMap& options);

}  // namespace sfad
