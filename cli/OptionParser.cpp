// A token starting with "-" names an option; the word after it, if any, is its
// value.
#include "cli/OptionParser.h"

#include <sstream>

#include "cli/DetectionCliException.h"

namespace sfad {

namespace {

bool isOptionName(const std::string& token) { return !token.empty() && token[0] == '-'; }

[[noreturn]] void failInvalidOption(const std::string& token) {
  std::ostringstream message;
  message << "Invalid option " << token;
  throw detection_cli_exception(kInvalidParameters, message.str());
}

void insertOption(OptionMap& options, const std::string& name, OptionValue value) {
  if (options.count(name) != 0) {
    std::ostringstream message;
    message << "Multiple options provided " << name;
    throw detection_cli_exception(kInvalidParameters, message.str());
  }
  options.emplace(name, std::move(value));
}

}  // namespace

OptionMap parseOptions(int argc, char* argv[]) {
  OptionMap options;
  bool programNameSkipped = false;
  int cursor = 0;
  while (cursor < argc) {
    const std::string token = argv[cursor];
    if (!isOptionName(token)) {
      if (programNameSkipped) failInvalidOption(token);
      programNameSkipped = true;
      ++cursor;
      continue;
    }
    ++cursor;
    if (cursor < argc && !isOptionName(argv[cursor])) {
      insertOption(options, token, OptionValue{true, argv[cursor]});
      ++cursor;
      // An option takes at most one value.
      if (cursor < argc && !isOptionName(argv[cursor])) failInvalidOption(argv[cursor]);
    } else {
      insertOption(options, token, OptionValue{});
    }
  }
  return options;
}

}  // namespace sfad
