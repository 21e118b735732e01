// Reader of the detection configuration file over the library's in-memory configuration
// heap and its INI importer.
#include "config/ConfigReader.h"

#include <ace/Configuration_Import_Export.h>

#include <sstream>

#include "config/LowerCase.h"

namespace sfad {
namespace {

// Built-in values for single reads, keyed by section, "+", value name.
const std::map<std::string, std::string>& builtInDefaults() {
  static const std::map<std::string, std::string> defaults = {
      {"ANOMALY_DETECTION_FUNCTIONALITY+DISABLE_ANOMALY_DETECTION", "0"},
      {"ANOMALY_DETECTION_FUNCTIONALITY+DISABLE_DETECTION_SERVICE", "1"},
      {"ANOMALY_DETECTION_FUNCTIONALITY+DISABLE_ALERT_SERVICE", "1"},
      {"ANOMALY_DETECTION_SENSITIVITY+SENSITIVITY_PERCENTAGE", "0"},
      {"DATABASE_SETTINGS+PURGE_DATA_INTERVAL_IN_MONTHS", "12"},
      {"DATA_GATHER_SETTINGS+LIVE_DATA_GATHER_FREQUENCY_IN_MIN", "15"},
      {"ANOMALY_MODEL_SETTINGS+MIN_OBSERVATIONS_FOR_TRAINING", "30"},
      {"ANOMALY_MODEL_SETTINGS+DAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY", "365"},
      {"ANOMALY_MODEL_SETTINGS+MAX_OBSERVATIONS_FOR_TRAINING", "3000"},
      {"AUTOMATED_MALWARE_SCAN_SETTINGS+TRIGGER_SCAN_FOR_SCORE_GREATER_THAN", "-1"},
  };
  return defaults;
}

constexpr size_t kHeapMapSize = 16;

// Items are the texts between commas, untrimmed; a trailing comma adds no empty item.
void insertItems(const std::string& value, std::set<std::string>& items) {
  std::istringstream stream(lowerCase(value));
  std::string item;
  while (std::getline(stream, item, ',')) items.insert(item);
}

}  // namespace

ConfigReader::ConfigReader(const std::string& path, Defaults defaults)
    : path_(path),
      defaults_(defaults == Defaults::kBuiltIn ? builtInDefaults()
                                               : std::map<std::string, std::string>()) {
  heap_.open(kHeapMapSize);
  ACE_Ini_ImpExp importer(heap_);
  importResult_ = importer.import_config(ACE_TEXT_CHAR_TO_TCHAR(path_.c_str()));
}

std::string ConfigReader::readValue(const std::string& section, const std::string& name) {
  ACE_Configuration_Section_Key key;
  std::string value;
  if (importResult_ == -1 || !openSection(section, key) ||
      !readString(key, ACE_TEXT_CHAR_TO_TCHAR(name.c_str()), value)) {
    return defaultValue(section, name);
  }
  return value;
}

void ConfigReader::readList(const std::string& section, const std::string& name,
                            std::set<std::string>& items) {
  ACE_Configuration_Section_Key key;
  std::string value;
  if (importResult_ == -1 || !openSection(section, key) ||
      !readString(key, ACE_TEXT_CHAR_TO_TCHAR(name.c_str()), value)) {
    return;
  }
  insertItems(value, items);
}

void ConfigReader::readSection(const std::string& section,
                               std::map<std::string, std::set<std::string>>& entries) {
  ACE_Configuration_Section_Key key;
  if (importResult_ == -1 || !openSection(section, key)) return;
  ACE_TString name;
  ACE_Configuration::VALUETYPE type;
  for (int index = 0; heap_.enumerate_values(key, index, name, type) == 0; ++index) {
    std::string value;
    if (!readString(key, name.c_str(), value)) return;
    std::set<std::string> items;
    insertItems(value, items);
    entries[lowerCase(ACE_TEXT_ALWAYS_CHAR(name.c_str()))] = items;
  }
}

bool ConfigReader::openSection(const std::string& section, ACE_Configuration_Section_Key& key) {
  return heap_.open_section(heap_.root_section(), ACE_TEXT_CHAR_TO_TCHAR(section.c_str()), false,
                            key) == 0;
}

bool ConfigReader::readString(const ACE_Configuration_Section_Key& key, const ACE_TCHAR* name,
                              std::string& value) {
  ACE_TString text;
  if (heap_.get_string_value(key, name, text) != 0) return false;
  value = ACE_TEXT_ALWAYS_CHAR(text.c_str());
  return true;
}

std::string ConfigReader::defaultValue(const std::string& section, const std::string& name) const {
  const auto found = defaults_.find(section + "+" + name);
  return found == defaults_.end() ? std::string() : found->second;
}

}  // namespace sfad
