// The presence and value checks of validation, each with its exact message.
#include "cli/ArgumentChecker.h"

#include <sstream>

#include "cli/DetectionCliException.h"

namespace sfad {

void failInvalidParameters(const std::string& innerMessage) {
  throw detection_cli_exception(kInvalidParameters, innerMessage);
}

ArgumentChecker::ArgumentChecker(const OptionMap& options, const std::string& action)
    : options_(options), action_(action) {}

void ArgumentChecker::require(const std::string& name) {
  if (!given(name)) {
    std::ostringstream text;
    text << "Argument " << name << " missing for action - ";
    failForAction(text.str());
  }
  requireValue(name);
}

void ArgumentChecker::requireValue(const std::string& name) {
  if (!options_.at(name).hasValue) {
    std::ostringstream message;
    message << "Value for " << name << " missing";
    failInvalidParameters(message.str());
  }
  accepted_.insert(name);
}

void ArgumentChecker::failForAction(const std::string& text) const {
  std::ostringstream message;
  message << text << action_;
  failInvalidParameters(message.str());
}

void ArgumentChecker::requireAllAccounted() const {
  std::set<std::string> given;
  for (const auto& option : options_) given.insert(option.first);
  if (given != accepted_) failForAction("Invalid arguments for action - ");
}

}  // namespace sfad
