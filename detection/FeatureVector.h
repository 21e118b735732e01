// Feature vectors and matrices: a job's enabled feature values as doubles.
#pragma once

#include <vector>

namespace sfad {

using FeatureVector = std::vector<double>;
// Row order is significant: the job under test, when there is one, is the first row.
using FeatureMatrix = std::vector<FeatureVector>;

}  // namespace sfad
