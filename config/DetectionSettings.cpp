// The settings of one detection run, read from the configuration file with their clamps
// and defaults.
#include "config/DetectionSettings.h"

#include <algorithm>
#include <cstdlib>

#include "config/ConfigReader.h"

namespace sfad {
namespace {

int readInteger(ConfigReader& reader, const char* section, const char* name) {
  return std::atoi(reader.readValue(section, name).c_str());
}

int positiveOr(int value, int fallback) { return value <= 0 ? fallback : value; }

}  // namespace

DetectionSettings readDetectionSettings(const std::string& configPath) {
  ConfigReader reader(configPath, ConfigReader::Defaults::kBuiltIn);
  DetectionSettings settings;
  reader.readSection("EXCLUDE_CLIENT_POLICY", settings.excludedClientPolicies);
  reader.readList("EXCLUDE_CLIENTS", "CLIENT_NAME", settings.excludedClients);
  reader.readList("DISABLE_POLICY_TYPE", "POLICY_TYPE", settings.disabledPolicyTypes);
  reader.readSection("DISABLE_FEATURE_PER_POLICY_TYPE", settings.disabledFeaturesByPolicyType);
  settings.sensitivityPercentage = std::clamp(
      readInteger(reader, "ANOMALY_DETECTION_SENSITIVITY", "SENSITIVITY_PERCENTAGE"), -99, 100);
  settings.minObservationsForTraining =
      std::max(readInteger(reader, "ANOMALY_MODEL_SETTINGS", "MIN_OBSERVATIONS_FOR_TRAINING"), 30);
  settings.daysForLastBackupToIgnoreAnomaly = positiveOr(
      readInteger(reader, "ANOMALY_MODEL_SETTINGS", "DAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY"), 365);
  settings.maxObservationsForTraining = positiveOr(
      readInteger(reader, "ANOMALY_MODEL_SETTINGS", "MAX_OBSERVATIONS_FOR_TRAINING"), 3000);
  settings.logModelData = readInteger(reader, "META_DATA", "LOG_MODEL_DATA") == 1;
  return settings;
}

}  // namespace sfad
