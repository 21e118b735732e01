// Properties every fuzz target asserts; a violation aborts, which the fuzzer reports as
// a crash with the input that caused it.
#pragma once

#include <jansson.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/DetectionCliException.h"
#include "json/JsonOwner.h"

namespace sfad::fuzz {

[[noreturn]] inline void failProperty(const char* what) {
  std::fprintf(stderr, "fuzz property violated: %s\n", what);
  std::abort();
}

inline void require(bool holds, const char* what) {
  if (!holds) failProperty(what);
}

// The error carries the expected code, and its text is one JSON object whose errorCode
// is that code (members with invalid UTF-8 may be left out, never the code).
inline void requireErrorObject(const detection_cli_exception& error, int expectedCode) {
  require(error.code() == expectedCode, "unexpected error code");
  const JsonPtr object(json_loads(error.what(), 0, nullptr));
  require(object && json_is_object(object.get()), "error text is not a JSON object");
  const json_t* code = json_object_get(object.get(), "errorCode");
  require(json_is_integer(code) && json_integer_value(code) == expectedCode,
          "errorCode member differs from the code");
}

}  // namespace sfad::fuzz
