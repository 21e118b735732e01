// Loading a JSON input file (data file, anomaly ids file) with the reason of a failure.
#pragma once

#include <stdexcept>
#include <string>

#include "json/JsonOwner.h"

namespace sfad {

// A JSON input file that could not be loaded; what() is the caller's message followed by
// Jansson's reason. Each caller reports it as its own kind of failure.
class json_file_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The document of the file at `path`. A file that cannot be read or is not a JSON
// object or array raises json_file_error whose text is `failureMessage` followed by
// Jansson's reason: " (line L, column C: reason)", or " (reason)" when the reason has no
// position (a file that cannot be opened).
JsonPtr loadJsonFile(const std::string& path, const std::string& failureMessage);

}  // namespace sfad
