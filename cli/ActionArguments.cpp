// Validation of a request's options against the action table.
#include "cli/ActionTable.h"
#include "cli/Options.h"
#include "cli/WholeNumberOption.h"

namespace sfad {

ActionArguments::ActionArguments(const OptionMap& options) : options_(options) { validate(); }

const std::string& ActionArguments::value(const std::string& name) const {
  static const std::string kEmpty;
  const auto option = options_.find(name);
  return option == options_.end() ? kEmpty : option->second.value;
}

int ActionArguments::number(const std::string& name) const {
  const auto option = options_.find(name);
  return wholeNumberOption(name, option == options_.end() ? OptionValue{} : option->second);
}

void ActionArguments::validate() const {
  const auto action = options_.find("-action");
  if (action == options_.end()) failInvalidParameters("-action option missing.");
  if (!action->second.hasValue) failInvalidParameters("Value for -action option is missing.");
  const std::string& name = action->second.value;
  const ActionEntry* entry = findAction(name);
  if (!entry) failInvalidParameters("Invalid action - " + name);
  if (!has(entry->verb)) {
    failInvalidParameters("Invalid operation for action '" + name + "'. Expected operation '" +
                          entry->verb + "'");
  }
  ArgumentChecker checker(options_, name);
  checker.accept("-action");
  checker.accept(entry->verb);
  entry->checkArguments(checker);
  checker.requireAllAccounted();
  // Last, so that every other fault keeps its message; still before the
  // database is opened.
  requireWholeNumbers(options_);
}

}  // namespace sfad
