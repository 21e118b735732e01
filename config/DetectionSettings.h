// The tunable behaviour of one detection run, read from the configuration file.
#pragma once

#include <map>
#include <set>
#include <string>

namespace sfad {

struct DetectionSettings {
  // Lower-cased names throughout.
  std::map<std::string, std::set<std::string>> excludedClientPolicies;
  std::set<std::string> excludedClients;
  std::set<std::string> disabledPolicyTypes;
  std::map<std::string, std::set<std::string>> disabledFeaturesByPolicyType;
  int sensitivityPercentage = 0;
  int minObservationsForTraining = 30;
  int daysForLastBackupToIgnoreAnomaly = 365;
  int maxObservationsForTraining = 3000;
  bool logModelData = false;
};

// Reads the file afresh; a missing or unreadable file gives the defaults.
DetectionSettings readDetectionSettings(const std::string& configPath);

}  // namespace sfad
