// Density clustering (DBSCAN) of feature vectors with a lazily filled distance cache;
// no I/O.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "detection/DbscanDistanceCache.h"
#include "detection/FeatureVector.h"

namespace sfad {

enum DbscanLabel { UNVISITED = 0, NOISE = -1 };
enum DbscanRunMode { FULL_RUN = 1, STOP_WHEN_FIRST_CLUSTERED = 2 };

struct DbscanDataset {
  FeatureMatrix rows;  // row i is point i + 1
  int pointCount = 0;
};

struct NearestCluster {
  int label = -1;
  double distance = -1.0;
};

class DbscanClusterer {
 public:
  // cacheBudgetBytes bounds the distance store; past it distances are computed on every
  // request, with the same results.
  DbscanClusterer(double eps, int minPts, DbscanRunMode runMode,
                  std::size_t cacheBudgetBytes = kDefaultDistanceCacheBudget);

  // Clusters the dataset; labels is refilled with pointCount entries of 0 (whatever it held
  // before) and receives one label per point. In STOP_WHEN_FIRST_CLUSTERED mode the run ends as
  // soon as point 1 is clustered, leaving labels() empty. Raises std::invalid_argument when
  // pointCount exceeds the number of rows.
  void run(const DbscanDataset& dataset, std::vector<int>& labels);

  // Label and distance of the nearest clustered point to the point at a 0-based index:
  // (own label, 0.0) for a clustered point, (-1, 2147483647.0) when nothing is clustered,
  // (-1, -1.0) for an index outside labels().
  NearestCluster nearestCluster(int index);

  double euclideanDistance(const FeatureVector& a, const FeatureVector& b) const;

  double eps() const { return eps_; }
  int minPts() const { return minPts_; }
  DbscanRunMode runMode() const { return runMode_; }
  const std::vector<int>& labels() const { return labels_; }

 private:
  // Whether the run must end now: mode 2 and point 1 clustered.
  bool mustStop(const std::vector<int>& labels) const;
  // Point p first, then every other point closer than eps, ascending.
  std::vector<int> regionQuery(int p);
  // Grows cluster k breadth-first from its seeds; false when the run must end.
  bool expandCluster(std::deque<int>& seeds, int k, std::vector<int>& labels);

  const double eps_;
  const int minPts_;
  const DbscanRunMode runMode_;
  const std::size_t cacheBudgetBytes_;

  int pointCount_ = 0;
  std::vector<bool> expanded_;  // points whose neighbourhood has grown a cluster
  DbscanDistanceCache distances_;
  std::vector<int> labels_;
};

}  // namespace sfad
