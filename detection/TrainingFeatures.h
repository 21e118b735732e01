// The job features the engine trains on and reports: the training modes and their features,
// the display name and unit of each feature, and the feature vectors of training rows.
#pragma once

#include <array>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "detection/FeatureVector.h"
#include "storage/ResultRow.h"

namespace sfad {

// How much of a job's history trains it.
enum class TrainingMode {
  kReduced,  // NUM_FILES and IMAGE_SIZE only, over every storage of the group
  kFull,     // all five features, the job's own storage
};

// The columns a training row holds, in the order of TrainingRow::values.
constexpr const char* kTrainingColumns[] = {"NUM_FILES", "IMAGE_SIZE", "KB_TRANSFERRED",
                                            "TOTAL_TIME", "DEDUP_RATE"};
constexpr std::size_t kTrainingColumnCount = std::size(kTrainingColumns);

// One history row of a training set: its feature columns as a result row's asDouble reads
// them (0.0 for a column the read did not select) and its mark (USER_IDENTIFIED_CLUSTER,
// as asInt reads it).
struct TrainingRow {
  std::array<double, kTrainingColumnCount> values{};
  int mark = 0;

  // The value of a column by name; 0.0 for a name that is not a training column, as a
  // result row reads a column it lacks.
  double value(const std::string& column) const;
};
using TrainingRows = std::vector<TrainingRow>;

// The position of a column in TrainingRow::values; -1 for any other name.
int trainingColumn(const std::string& column);
// The training row of a result row's texts.
TrainingRow trainingRowOf(const Quorvan::Stowfleet::UsageReporting::ResultRow& row);

// The features of a training mode in the engine's order: NUM_FILES, IMAGE_SIZE and, in
// full mode, KB_TRANSFERRED, TOTAL_TIME, DEDUP_RATE.
const std::vector<std::string>& trainingFeatures(TrainingMode mode);

// The features an anomaly may report, in the order they are checked: IMAGE_SIZE,
// NUM_FILES, KB_TRANSFERRED, TOTAL_TIME, DEDUP_RATE.
const std::vector<std::string>& reportedFeatures();
// The display name and unit of a reported feature ("" for any other name).
const std::string& displayName(const std::string& feature);
const std::string& unit(const std::string& feature);

// Appends the row's value of the feature unless the feature is disabled (the set holds
// lower-cased names).
void appendFeature(const std::set<std::string>& disabled, const std::string& name,
                   const Quorvan::Stowfleet::UsageReporting::ResultRow& row, FeatureVector& vector);
// Appends one vector per row, of the mode's features that are not disabled.
void buildFeatureVectors(const TrainingRows& rows, FeatureMatrix& matrix, TrainingMode mode,
                         const std::set<std::string>& disabled);

}  // namespace sfad
