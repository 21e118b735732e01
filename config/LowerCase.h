// Names in the configuration are compared lower-cased: its lists hold lower-cased items,
// and a name looked up in them is lower-cased the same way (bytewise, "C" locale rules).
#pragma once

#include <cctype>
#include <string>

namespace sfad {

inline std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace sfad
