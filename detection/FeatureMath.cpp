// Euclidean distance of feature vectors and column-wise z-score normalisation.
#include "detection/FeatureMath.h"

#include <cmath>
#include <stdexcept>

namespace sfad {
namespace {

const char* const kDimensionMismatch = "Invalid input. Feature set having different dimensions.";

std::vector<double> column(const FeatureMatrix& matrix, size_t c) {
  std::vector<double> values;
  values.reserve(matrix.size());
  for (const FeatureVector& row : matrix) {
    if (c >= row.size()) throw std::runtime_error(kDimensionMismatch);
    values.push_back(row[c]);
  }
  return values;
}

// The square as one rounded multiplication: the correctly rounded value of the power
// function with exponent 2, whatever the optimisation level (a call of the library's
// pow is not guaranteed to round the same way).
double square(double value) { return value * value; }

}  // namespace

double euclideanDistance(const FeatureVector& a, const FeatureVector& b) {
  if (a.size() != b.size()) throw std::runtime_error(kDimensionMismatch);
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += square(a[i] - b[i]);
  return std::sqrt(sum);
}

double mean(const std::vector<double>& values) {
  if (values.empty()) return 0.0;
  double sum = 0.0;
  for (double value : values) sum += value;
  return sum / static_cast<double>(values.size());
}

double standardDeviation(const std::vector<double>& values, double mean) {
  if (values.empty()) return 0.0;
  double sum = 0.0;
  for (double value : values) sum += square(value - mean);
  return std::sqrt(sum / static_cast<double>(values.size()));
}

void normalizeValues(std::vector<double>& values) {
  const double average = mean(values);
  const double deviation = standardDeviation(values, average);
  for (double& value : values) value = deviation == 0.0 ? 0.0 : (value - average) / deviation;
}

void normalizeFeatures(FeatureMatrix& matrix) {
  if (matrix.empty()) return;
  const size_t columns = matrix.front().size();
  for (size_t c = 0; c < columns; ++c) {
    std::vector<double> values = column(matrix, c);
    normalizeValues(values);
    for (size_t r = 0; r < matrix.size(); ++r) matrix[r][c] = values[r];
  }
}

}  // namespace sfad
