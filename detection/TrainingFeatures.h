// The job features the engine trains on and reports: the training modes and their features,
// the display name and unit of each feature, and the feature vectors of training rows.
#pragma once

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
void buildFeatureVectors(const Quorvan::Stowfleet::UsageReporting::QueryResult& rows,
                         FeatureMatrix& matrix, TrainingMode mode,
                         const std::set<std::string>& disabled);

}  // namespace sfad
