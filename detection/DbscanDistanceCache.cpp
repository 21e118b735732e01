// Pairwise distances of one clustering run over a lazily filled triangular store.
#include "detection/DbscanDistanceCache.h"

#include <utility>

#include "detection/FeatureMath.h"

namespace sfad {

std::size_t DbscanDistanceCache::storeBytes(std::size_t pointCount) {
  const std::size_t pairs = pointCount < 2 ? 0 : pointCount * (pointCount - 1) / 2;
  return pairs * sizeof(double) + pointCount * sizeof(std::vector<double>);
}

void DbscanDistanceCache::reset(const FeatureMatrix& rows, int pointCount,
                                std::size_t budgetBytes) {
  const std::size_t count = pointCount > 0 ? static_cast<std::size_t>(pointCount) : 0;
  points_.assign(rows.begin(), rows.begin() + count);
  storesDistances_ = storeBytes(count) <= budgetBytes;
  rows_.clear();
  rows_.shrink_to_fit();
  if (storesDistances_) rows_.resize(count);
}

double DbscanDistanceCache::distance(int p, int q) {
  if (!storesDistances_) return euclideanDistance(points_[p], points_[q]);
  if (q < p) std::swap(p, q);
  double& entry = rowOf(p)[q - p - 1];
  if (entry == kNotComputed) entry = euclideanDistance(points_[p], points_[q]);
  return entry;
}

std::vector<double>& DbscanDistanceCache::rowOf(int lower) {
  std::vector<double>& row = rows_[lower];
  if (row.empty()) row.assign(points_.size() - lower - 1, kNotComputed);
  return row;
}

}  // namespace sfad
