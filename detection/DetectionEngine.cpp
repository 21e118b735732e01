// Construction of the detection engine: its constants, its feature tables and
// the seeding of the deduplication thresholds.
#include "detection/DetectionEngine.h"

namespace sfad {

namespace {

// The thresholds the engine itself brings along; none in this system, so
// DEDUP_THRESHOLD holds only what other writers of the database put there.
const std::map<std::string, double>& builtInDedupThresholds() {
  static const std::map<std::string, double> table;
  return table;
}

}  // namespace

const std::vector<std::string>& trainingFeatures(int mode) {
  static const std::vector<std::string> reduced = {"NUM_FILES", "IMAGE_SIZE"};
  static const std::vector<std::string> full = {"NUM_FILES", "IMAGE_SIZE", "KB_TRANSFERRED",
                                                "TOTAL_TIME", "DEDUP_RATE"};
  return mode == kFullTraining ? full : reduced;
}

DetectionEngine::DetectionEngine(std::string configPath, SQLiteDatabase& database,
                                 double defaultRadius, double minNeighbourhood,
                                 bool propagateErrors)
    : configPath_(std::move(configPath)),
      database_(database),
      defaultRadius_(defaultRadius),
      minNeighbourhood_(minNeighbourhood),
      propagateErrors_(propagateErrors) {
  setUpFeatureTables();
  seedDedupThresholds(builtInDedupThresholds());
}

void DetectionEngine::setUpFeatureTables() {
  struct FeatureEntry {
    const char* name;
    const char* displayName;
    const char* unit;
  };
  static const FeatureEntry kFeatures[] = {
      {"IMAGE_SIZE", "Image size", "MB"},           {"NUM_FILES", "Backup files count", ""},
      {"KB_TRANSFERRED", "Data transferred", "MB"}, {"TOTAL_TIME", "Total time", "Seconds"},
      {"DEDUP_RATE", "Deduplication ratio", "%"},
  };
  for (const FeatureEntry& entry : kFeatures) {
    featureList_.push_back(entry.name);
    displayNames_[entry.name] = entry.displayName;
    units_[entry.name] = entry.unit;
  }
}

const std::string& DetectionEngine::displayName(const std::string& feature) const {
  static const std::string none;
  auto it = displayNames_.find(feature);
  return it == displayNames_.end() ? none : it->second;
}

const std::string& DetectionEngine::unit(const std::string& feature) const {
  static const std::string none;
  auto it = units_.find(feature);
  return it == units_.end() ? none : it->second;
}

}  // namespace sfad
