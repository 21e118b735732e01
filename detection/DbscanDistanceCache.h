// Pairwise distances of one clustering run, each computed at most once: a triangular store
// filled lazily row by row, or, when that store would pass its memory budget, computation
// on every request. No I/O.
#pragma once

#include <cstddef>
#include <vector>

#include "detection/FeatureVector.h"

namespace sfad {

// 256 MB: a full triangular store up to about 8,192 points.
constexpr std::size_t kDefaultDistanceCacheBudget = std::size_t{256} << 20;

class DbscanDistanceCache {
 public:
  DbscanDistanceCache() = default;

  // Takes a copy of the first pointCount rows (at most rows.size()) and forgets every
  // distance stored before.
  void reset(const FeatureMatrix& rows, int pointCount, std::size_t budgetBytes);

  // Distance of two distinct points by 0-based index; raises the dimension error of
  // euclideanDistance when their lengths differ.
  double distance(int p, int q);

  // False when distances are computed on every request.
  bool storesDistances() const { return storesDistances_; }

  // Bytes a full triangular store for that many points takes.
  static std::size_t storeBytes(std::size_t pointCount);

 private:
  static constexpr double kNotComputed = -1.0;

  std::vector<double>& rowOf(int lower);

  FeatureMatrix points_;
  bool storesDistances_ = true;
  // Row i holds the distances of point i to the points i + 1 ... N - 1; allocated on
  // first use, so a run that looks at few points touches few rows.
  std::vector<std::vector<double>> rows_;
};

}  // namespace sfad
