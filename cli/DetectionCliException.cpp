// Building the error object of a failed request with Jansson.
#include "cli/DetectionCliException.h"

#include "json/JsonOwner.h"

namespace sfad {

const char* errorCodeMessage(int code) {
  switch (code) {
    case kJsonParsingError:
      return "JSON parsing error.";
    case kDatabaseError:
      return "SQLite database error.";
    case kInvalidParameters:
      return "Invalid parameters.";
    case kDetectionError:
      return "Anomaly detection error.";
    default:
      return "";
  }
}

namespace {

std::string serializeErrorObject(int code, const std::string& innerMessage) {
  JsonPtr object(json_object());
  if (!object) return std::string();
  // A member whose text is not valid UTF-8 is refused by the library and left out.
  json_object_set_new(object.get(), "errorCode", json_integer(code));
  json_object_set_new(object.get(), "errorMessage", json_string(errorCodeMessage(code)));
  json_object_set_new(object.get(), "innerMessage", json_string(innerMessage.c_str()));
  JsonText text(json_dumps(object.get(), 0));
  return text ? std::string(text.get()) : std::string();
}

}  // namespace

detection_cli_exception::detection_cli_exception(int code, const std::string& innerMessage)
    : errorText_(serializeErrorObject(code, innerMessage)), code_(code) {}

detection_cli_exception reportedError(const intake_error& error) {
  int code = kJsonParsingError;
  switch (error.kind()) {
    case intake_error::Kind::kMalformedDataFile:
      code = kJsonParsingError;
      break;
  }
  return detection_cli_exception(code, error.what());
}

}  // namespace sfad
