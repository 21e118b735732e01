// DBSCAN over a lazily filled distance cache: index-order scan, breadth-first expansion,
// and the nearest-clustered-point query.
#include "detection/DbscanClusterer.h"

#include <stdexcept>

#include "detection/FeatureMath.h"

namespace sfad {
namespace {

constexpr double kNoClusterDistance = 2147483647.0;

bool unclaimed(int label) { return label == UNVISITED || label == NOISE; }

}  // namespace

DbscanClusterer::DbscanClusterer(double eps, int minPts, DbscanRunMode runMode,
                                 std::size_t cacheBudgetBytes)
    : eps_(eps), minPts_(minPts), runMode_(runMode), cacheBudgetBytes_(cacheBudgetBytes) {}

void DbscanClusterer::run(const DbscanDataset& dataset, std::vector<int>& labels) {
  pointCount_ = dataset.pointCount > 0 ? dataset.pointCount : 0;
  if (static_cast<std::size_t>(pointCount_) > dataset.rows.size()) {
    throw std::invalid_argument("The dataset has fewer rows than its point count.");
  }
  labels_.clear();
  labels.assign(pointCount_, UNVISITED);
  expanded_.assign(pointCount_, false);
  distances_.reset(dataset.rows, pointCount_, cacheBudgetBytes_);
  int k = 0;
  for (int p = 0; p < pointCount_; ++p) {
    if (labels[p] != UNVISITED) continue;
    const std::vector<int> neighbourhood = regionQuery(p);
    if (static_cast<int>(neighbourhood.size()) < minPts_) {
      labels[p] = NOISE;
      continue;
    }
    labels[p] = ++k;
    if (mustStop(labels)) return;
    std::deque<int> seeds(neighbourhood.begin(), neighbourhood.end());
    if (!expandCluster(seeds, k, labels)) return;
  }
  labels_ = labels;
}

// A point can enter the seed list twice: once as a neighbour of the cluster's first point and
// again when a core point claims it before it is taken. Its second turn would claim nothing
// (every neighbour of a core point is claimed in its first turn), so it is skipped.
bool DbscanClusterer::expandCluster(std::deque<int>& seeds, int k, std::vector<int>& labels) {
  while (!seeds.empty()) {
    const int q = seeds.front();
    seeds.pop_front();
    if (expanded_[q]) continue;
    expanded_[q] = true;
    if (unclaimed(labels[q])) labels[q] = k;
    const std::vector<int> neighbourhood = regionQuery(q);
    if (static_cast<int>(neighbourhood.size()) < minPts_) continue;
    for (const int r : neighbourhood) {
      if (!unclaimed(labels[r])) continue;
      labels[r] = k;
      if (mustStop(labels)) return false;
      seeds.push_back(r);
    }
  }
  return true;
}

bool DbscanClusterer::mustStop(const std::vector<int>& labels) const {
  return runMode_ == STOP_WHEN_FIRST_CLUSTERED && labels[0] > 0;
}

std::vector<int> DbscanClusterer::regionQuery(int p) {
  std::vector<int> neighbourhood{p};
  for (int q = 0; q < pointCount_; ++q) {
    if (q != p && eps_ > distances_.distance(p, q)) neighbourhood.push_back(q);
  }
  return neighbourhood;
}

NearestCluster DbscanClusterer::nearestCluster(int index) {
  if (index < 0 || index >= static_cast<int>(labels_.size())) return NearestCluster{};
  if (labels_[index] != NOISE) return NearestCluster{labels_[index], 0.0};
  NearestCluster nearest{NOISE, kNoClusterDistance};
  for (int j = 0; j < static_cast<int>(labels_.size()); ++j) {
    if (j == index || labels_[j] == NOISE) continue;
    const double distance = distances_.distance(index, j);
    if (distance < nearest.distance) nearest = NearestCluster{labels_[j], distance};
  }
  return nearest;
}

double DbscanClusterer::euclideanDistance(const FeatureVector& a, const FeatureVector& b) const {
  return ::sfad::euclideanDistance(a, b);
}

}  // namespace sfad
