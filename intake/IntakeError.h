// The failure of the data intake: why it refused its input, and the kind of fault, which
// the command line reports with its own error code.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace sfad {

class intake_error : public std::exception {
 public:
  enum class Kind {
    kMalformedDataFile,  // a data file that is not the JSON the intake expects
  };

  intake_error(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
  std::string message_;
};

}  // namespace sfad
