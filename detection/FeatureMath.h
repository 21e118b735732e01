// Distance and z-score normalisation of feature vectors; no I/O.
#pragma once

#include <vector>

#include "detection/FeatureVector.h"

namespace sfad {

// Raises std::runtime_error "Invalid input. Feature set having different dimensions."
// when the lengths differ.
double euclideanDistance(const FeatureVector& a, const FeatureVector& b);

// Rewrites the matrix column by column as z-scores (population standard deviation;
// a constant column becomes all 0.0). A row shorter than the first raises the error of
// euclideanDistance.
void normalizeFeatures(FeatureMatrix& matrix);

// Rewrites one column of values as z-scores: the arithmetic of normalizeFeatures for a
// column, in the same order, so both give the same doubles.
void normalizeValues(std::vector<double>& values);

double mean(const std::vector<double>& values);
double standardDeviation(const std::vector<double>& values, double mean);

}  // namespace sfad
