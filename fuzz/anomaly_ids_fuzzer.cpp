// Fuzz target: the anomaly-ids file reader. It either answers the ids or reports a JSON
// parsing error (code 1), never anything else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/UserFeedback.h"
#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const sfad::fuzz::MemoryFile file(data, size);
  std::vector<std::string> ids;
  try {
    sfad::readAnomalyIds(file.path(), ids);
  } catch (const sfad::detection_cli_exception& error) {
    sfad::fuzz::requireErrorObject(error, sfad::kJsonParsingError);
  }
  return 0;
}
