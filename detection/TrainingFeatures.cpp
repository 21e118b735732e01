// The feature table of the engine and the feature vectors of training rows.
#include "detection/TrainingFeatures.h"

#include <map>

#include "config/LowerCase.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::ResultRow;

struct FeatureEntry {
  const char* name;
  const char* displayName;
  const char* unit;
};

constexpr FeatureEntry kReportedFeatures[] = {
    {"IMAGE_SIZE", "Image size", "MB"},           {"NUM_FILES", "Backup files count", ""},
    {"KB_TRANSFERRED", "Data transferred", "MB"}, {"TOTAL_TIME", "Total time", "Seconds"},
    {"DEDUP_RATE", "Deduplication ratio", "%"},
};

// Feature name to its display name and unit.
const std::map<std::string, std::pair<std::string, std::string>>& featureTexts() {
  static const auto table = [] {
    std::map<std::string, std::pair<std::string, std::string>> texts;
    for (const FeatureEntry& entry : kReportedFeatures) {
      texts[entry.name] = {entry.displayName, entry.unit};
    }
    return texts;
  }();
  return table;
}

// A feature is left out when its lower-cased name is among the disabled names.
bool isDisabled(const std::set<std::string>& disabled, const std::string& feature) {
  return disabled.count(lowerCase(feature)) != 0;
}

}  // namespace

const std::vector<std::string>& trainingFeatures(TrainingMode mode) {
  static const std::vector<std::string> reduced = {"NUM_FILES", "IMAGE_SIZE"};
  static const std::vector<std::string> full = {"NUM_FILES", "IMAGE_SIZE", "KB_TRANSFERRED",
                                                "TOTAL_TIME", "DEDUP_RATE"};
  return mode == TrainingMode::kFull ? full : reduced;
}

const std::vector<std::string>& reportedFeatures() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const FeatureEntry& entry : kReportedFeatures) list.push_back(entry.name);
    return list;
  }();
  return names;
}

const std::string& displayName(const std::string& feature) {
  static const std::string none;
  const auto found = featureTexts().find(feature);
  return found == featureTexts().end() ? none : found->second.first;
}

const std::string& unit(const std::string& feature) {
  static const std::string none;
  const auto found = featureTexts().find(feature);
  return found == featureTexts().end() ? none : found->second.second;
}

void appendFeature(const std::set<std::string>& disabled, const std::string& name,
                   const ResultRow& row, FeatureVector& vector) {
  if (isDisabled(disabled, name)) return;
  vector.push_back(row.asDouble(name));
}

int trainingColumn(const std::string& column) {
  for (std::size_t i = 0; i < kTrainingColumnCount; ++i) {
    if (column == kTrainingColumns[i]) return static_cast<int>(i);
  }
  return -1;
}

double TrainingRow::value(const std::string& column) const {
  const int position = trainingColumn(column);
  return position < 0 ? 0.0 : values[static_cast<std::size_t>(position)];
}

TrainingRow trainingRowOf(const ResultRow& row) {
  TrainingRow training;
  for (std::size_t i = 0; i < kTrainingColumnCount; ++i) {
    training.values[i] = row.asDouble(kTrainingColumns[i]);
  }
  training.mark = row.asInt("USER_IDENTIFIED_CLUSTER");
  return training;
}

void buildFeatureVectors(const TrainingRows& rows, FeatureMatrix& matrix, TrainingMode mode,
                         const std::set<std::string>& disabled) {
  // Whether a feature is left out depends on its name only, so it is decided once.
  std::vector<int> columns;
  for (const std::string& feature : trainingFeatures(mode)) {
    if (!isDisabled(disabled, feature)) columns.push_back(trainingColumn(feature));
  }
  matrix.reserve(matrix.size() + rows.size());
  for (const TrainingRow& row : rows) {
    FeatureVector vector;
    vector.reserve(columns.size());
    for (const int column : columns) {
      vector.push_back(column < 0 ? 0.0 : row.values[static_cast<std::size_t>(column)]);
    }
    matrix.push_back(std::move(vector));
  }
}

}  // namespace sfad
