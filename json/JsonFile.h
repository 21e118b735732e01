// Loading a JSON input file (data file, anomaly ids file) with the reason of a failure.
#pragma once

#include <string>

#include "json/JsonOwner.h"

namespace sfad {

// The document of the file at `path`. A file that cannot be read or is not a JSON
// object or array raises detection_cli_exception (code 1) whose inner message is
// `failureMessage` followed by Jansson's reason: " (line L, column C: reason)", or
// " (reason)" when the reason has no position (a file that cannot be opened).
JsonPtr loadJsonFile(const std::string& path, const std::string& failureMessage);

}  // namespace sfad
