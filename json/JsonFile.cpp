// Loading a JSON input file; a failure keeps the caller's message in front, so callers
// matching its beginning still match, and appends where and why the file was refused.
#include "json/JsonFile.h"

#include <sstream>

namespace sfad {

namespace {

std::string reasonOf(const json_error_t& error) {
  std::ostringstream reason;
  reason << " (";
  // Jansson numbers lines from 1; -1 means the failure has no place in the text.
  if (error.line >= 1) reason << "line " << error.line << ", column " << error.column << ": ";
  reason << error.text << ")";
  return reason.str();
}

}  // namespace

JsonPtr loadJsonFile(const std::string& path, const std::string& failureMessage) {
  json_error_t error;
  JsonPtr document(json_load_file(path.c_str(), 0, &error));
  if (!document) throw json_file_error(failureMessage + reasonOf(error));
  return document;
}

}  // namespace sfad
