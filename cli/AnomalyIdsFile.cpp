// Reading the JSON file of anomaly ids given with -anomaly_ids.
#include <jansson.h>

#include "cli/DetectionCliException.h"
#include "cli/UserFeedback.h"
#include "json/JsonFile.h"

namespace sfad {

namespace {

[[noreturn]] void failMalformedIds() {
  throw detection_cli_exception(kJsonParsingError, "Invalid json format received for anomaly ids");
}

void appendIdStrings(const json_t* array, std::vector<std::string>& ids) {
  if (!json_is_array(array)) failMalformedIds();
  for (std::size_t index = 0; index < json_array_size(array); ++index) {
    const json_t* element = json_array_get(array, index);
    if (!json_is_string(element)) failMalformedIds();
    ids.emplace_back(json_string_value(element));
  }
}

JsonPtr loadIdsFile(const std::string& path) {
  try {
    return loadJsonFile(path, "Invalid json in file " + path);
  } catch (const json_file_error& error) {
    throw detection_cli_exception(kJsonParsingError, error.what());
  }
}

}  // namespace

void readAnomalyIds(const std::string& path, std::vector<std::string>& ids) {
  const JsonPtr document = loadIdsFile(path);
  // A top level that is not an object has no members, hence no ids.
  for (void* member = json_object_iter(document.get()); member;
       member = json_object_iter_next(document.get(), member)) {
    if (std::string(json_object_iter_key(member)) == "anomaly_ids") {
      appendIdStrings(json_object_iter_value(member), ids);
    }
  }
}

}  // namespace sfad
