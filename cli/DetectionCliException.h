// The tool's one error type: the serialized error object and its error code.
#pragma once

#include <exception>
#include <string>

#include "intake/IntakeError.h"

namespace sfad {

enum ErrorCode {
  kJsonParsingError = 1,
  kDatabaseError = 2,
  kInvalidParameters = 3,
  kDetectionError = 4,
};

// The fixed errorMessage text of a code ("" for a code the tool does not raise).
const char* errorCodeMessage(int code);

class detection_cli_exception : public std::exception {
 public:
  detection_cli_exception(int code, const std::string& innerMessage);
  detection_cli_exception(const detection_cli_exception& other) = default;
  ~detection_cli_exception() override = default;

  // The error object: {"errorCode": c, "errorMessage": "...", "innerMessage": "..."}.
  const char* what() const noexcept override { return errorText_.c_str(); }
  int code() const noexcept { return code_; }

 private:
  std::string errorText_;
  int code_;
};

// The error object of an intake failure: a malformed data file is a JSON parsing error
// (code 1), with the intake's text as inner message.
detection_cli_exception reportedError(const intake_error& error);

// A handler's wrapped failure: a message text that the dispatcher reports with code 2.
class action_failure {
 public:
  explicit action_failure(std::string text) : text_(std::move(text)) {}
  const std::string& text() const noexcept { return text_; }

 private:
  std::string text_;
};

}  // namespace sfad
