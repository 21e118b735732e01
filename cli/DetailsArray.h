// The JSON array of anomaly details that the anomalies and detect commands print: the
// stored documents as they are, a comma between consecutive elements (also when one of
// them is an empty text).
#pragma once

#include <cstddef>
#include <string>

namespace sfad {

class DetailsArray {
 public:
  void add(const std::string& details) {
    if (count_++ != 0) elements_ += ",";
    elements_ += details;
  }
  std::string text() const { return "[" + elements_ + "]"; }

 private:
  std::string elements_;
  std::size_t count_ = 0;
};

}  // namespace sfad
