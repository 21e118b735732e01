// Owners of what Jansson hands out: a JSON value released with json_decref, and a text
// made by json_dumps released with free, each when its owner goes.
#pragma once

#include <jansson.h>

#include <cstdlib>
#include <memory>

namespace sfad {

struct JsonValueRelease {
  void operator()(json_t* value) const noexcept { json_decref(value); }
};
struct JsonTextRelease {
  void operator()(char* text) const noexcept { std::free(text); }
};

// One reference to a JSON value: a loaded document or one being built.
using JsonPtr = std::unique_ptr<json_t, JsonValueRelease>;
// The serialized text of a value.
using JsonText = std::unique_ptr<char, JsonTextRelease>;

}  // namespace sfad
