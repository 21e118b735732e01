// A judged job's deviations: the features whose values lie outside the usual range of the
// training jobs of its nearest cluster.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "detection/DbscanClusterer.h"
#include "detection/TrainingFeatures.h"
#include "storage/ResultRow.h"

namespace sfad {

// One feature outside its usual range.
struct FeatureStats {
  double currentValue = 0.0;
  double minValue = 0.0;
  double maxValue = 0.0;
  std::string displayName;
  std::string unit;
};

// Feature name (or DEDUP_RATE_EXT) to its stats, ordered by name.
using AnomalousFeatures = std::map<std::string, FeatureStats>;

// Per feature, the values of the training jobs of the nearest cluster.
using ClusterValues = std::map<std::string, std::vector<double>>;

// The values of the mode's features of the training rows labelled nearestLabel (point 0 is
// the job under test; point p is training row p - 1).
ClusterValues collectClusterValues(int nearestLabel, const TrainingRows& rows,
                                   const std::vector<int>& labels, TrainingMode mode);

// The lowest and highest value of a feature; (-1, -1) when it has none.
std::pair<double, double> usualRange(const ClusterValues& values, const std::string& feature);

// The record's features (those of the mode) outside the usual range of its nearest cluster.
AnomalousFeatures evaluateDeviations(const Quorvan::Stowfleet::UsageReporting::ResultRow& record,
                                     const NearestCluster& nearest, const TrainingRows& rows,
                                     const std::vector<int>& labels, TrainingMode mode);

}  // namespace sfad
