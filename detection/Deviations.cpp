// The usual ranges taken from the jobs of the nearest cluster, and the features of a job
// outside them.
#include "detection/Deviations.h"

#include <algorithm>

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;

ClusterValues collectClusterValues(int nearestLabel, const TrainingRows& rows,
                                   const std::vector<int>& labels, TrainingMode mode) {
  ClusterValues values;
  for (const std::string& feature : trainingFeatures(mode)) values[feature];
  // Point 0 is the job under test; point p is training row p - 1.
  const std::size_t points = std::min(labels.size(), rows.size() + 1);
  for (std::size_t point = 1; point < points; ++point) {
    if (labels[point] != nearestLabel) continue;
    for (const std::string& feature : trainingFeatures(mode)) {
      values[feature].push_back(rows[point - 1].value(feature));
    }
  }
  return values;
}

std::pair<double, double> usualRange(const ClusterValues& values, const std::string& feature) {
  auto found = values.find(feature);
  // An empty list has no range either; it reads like a missing one instead of
  // failing.
  if (found == values.end() || found->second.empty()) return {-1.0, -1.0};
  const auto [low, high] = std::minmax_element(found->second.begin(), found->second.end());
  return {*low, *high};
}

AnomalousFeatures evaluateDeviations(const ResultRow& record, const NearestCluster& nearest,
                                     const TrainingRows& rows, const std::vector<int>& labels,
                                     TrainingMode mode) {
  const ClusterValues values = collectClusterValues(nearest.label, rows, labels, mode);
  AnomalousFeatures deviations;
  for (const std::string& feature : reportedFeatures()) {
    if (mode == TrainingMode::kReduced && feature != "IMAGE_SIZE" && feature != "NUM_FILES") {
      continue;
    }
    const double value = record.asDouble(feature);
    const auto [low, high] = usualRange(values, feature);
    if (value < low || value > high) {
      deviations[feature] = FeatureStats{value, low, high, displayName(feature), unit(feature)};
    }
  }
  return deviations;
}

}  // namespace sfad
