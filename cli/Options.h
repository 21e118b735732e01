// The parsed command line: option names (leading "-" included) to their values, and
// the validated copy that every action handler reads.
#pragma once

#include <map>
#include <string>

namespace sfad {

struct OptionValue {
  bool hasValue = false;
  std::string value;
};

using OptionMap = std::map<std::string, OptionValue>;

class ActionArguments {
 public:
  // Copies and validates; raises detection_cli_exception (code 3) at the first fault.
  explicit ActionArguments(const OptionMap& options);

  bool has(const std::string& name) const { return options_.count(name) != 0; }
  // The value of an option that validation guarantees (empty when absent).
  const std::string& value(const std::string& name) const;
  // The number of a number option, which validation has checked
  // (WholeNumberOption.h).
  int number(const std::string& name) const;
  const OptionMap& options() const { return options_; }

 private:
  void validate() const;

  OptionMap options_;
};

}  // namespace sfad
