// Fuzz target: option parsing and argument validation. The bytes, split at NULs, are the
// tokens after the program name; no action is ever run. Every fault is an invalid
// parameters error (code 3), and an accepted request names a verb and a database.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/OptionParser.h"
#include "cli/Options.h"
#include "fuzz/FuzzChecks.h"

namespace {

std::vector<std::string> tokensOf(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> tokens{"sfanomalydetect"};
  std::string token;
  for (std::size_t index = 0; index < size; ++index) {
    if (data[index] == 0) {
      tokens.push_back(token);
      token.clear();
    } else {
      token.push_back(static_cast<char>(data[index]));
    }
  }
  if (size != 0) tokens.push_back(token);
  return tokens;
}

void requireAcceptedRequest(const sfad::ActionArguments& arguments) {
  using sfad::fuzz::require;
  require(arguments.has("-get") || arguments.has("-post"), "request accepted without a verb");
  require(!(arguments.has("-get") && arguments.has("-post")), "request accepted with two verbs");
  const auto database = arguments.options().find("-database");
  require(database != arguments.options().end() && database->second.hasValue,
          "request accepted without a database path");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> tokens = tokensOf(data, size);
  std::vector<char*> argv;
  for (std::string& token : tokens) argv.push_back(token.data());
  argv.push_back(nullptr);
  try {
    const sfad::OptionMap options =
        sfad::parseOptions(static_cast<int>(tokens.size()), argv.data());
    requireAcceptedRequest(sfad::ActionArguments(options));
  } catch (const sfad::detection_cli_exception& error) {
    sfad::fuzz::requireErrorObject(error, sfad::kInvalidParameters);
  }
  return 0;
}
