// Checks one action's options one by one and keeps the set of names accounted
// for.
#pragma once

#include <set>
#include <string>

#include "cli/Options.h"

namespace sfad {

class ArgumentChecker {
 public:
  ArgumentChecker(const OptionMap& options, const std::string& action);

  bool given(const std::string& name) const { return options_.count(name) != 0; }
  // Must be given, with a value; accepted.
  void require(const std::string& name);
  // Given (the caller has checked), must have a value; accepted.
  void requireValue(const std::string& name);
  // Accepted as it is, without any check.
  void accept(const std::string& name) { accepted_.insert(name); }
  // Raises code 3 with the text followed by the action name.
  [[noreturn]] void failForAction(const std::string& text) const;
  // Every option given must have been accepted, and nothing else.
  void requireAllAccounted() const;

 private:
  const OptionMap& options_;
  const std::string action_;
  std::set<std::string> accepted_;
};

// Raises detection_cli_exception with code 3 and the inner message.
[[noreturn]] void failInvalidParameters(const std::string& innerMessage);

}  // namespace sfad
