// Density clustering (DBSCAN) of feature vectors with a lazily filled distance cache;
// no I/O.
#pragma once

#include <vector>

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
  DbscanClusterer(double eps, int minPts, int runMode);

  // Clusters the dataset; labels is resized to pointCount (new entries 0) and receives
  // one label per point.
  void run(const DbscanDataset& dataset, std::vector<int>& labels);

  // Label and distance of the nearest clustered point to the point at a 0-based index.
  NearestCluster nearestCluster(int index);

  double euclideanDistance(const FeatureVector& a, const FeatureVector& b) const;

  double eps() const { return eps_; }
  int minPts() const { return minPts_; }
  int runMode() const { return runMode_; }
  const std::vector<int>& labels() const { return labels_; }

 private:
  const double eps_;
  const int minPts_;
  const int runMode_;
  std::vector<int> labels_;
};

}  // namespace sfad
