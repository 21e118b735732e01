// The feature table of the engine and the feature vectors of training rows.
#include "detection/TrainingFeatures.h"

#include <map>

#include "config/LowerCase.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
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

void buildFeatureVectors(const QueryResult& rows, FeatureMatrix& matrix, TrainingMode mode,
                         const std::set<std::string>& disabled) {
  // Whether a feature is left out depends on its name only, so it is decided once.
  std::vector<std::string> features;
  for (const std::string& feature : trainingFeatures(mode)) {
    if (!isDisabled(disabled, feature)) features.push_back(feature);
  }
  matrix.reserve(matrix.size() + rows.size());
  for (const ResultRow& row : rows) {
    FeatureVector vector;
    vector.reserve(features.size());
    for (const std::string& feature : features) vector.push_back(row.asDouble(feature));
    matrix.push_back(std::move(vector));
  }
}

}  // namespace sfad
