// Reads of the database file and of detect outputs for the reliability suites.
#include "tests/reliability/ReliabilityChecks.h"

#include <jansson.h>

#include <memory>
#include <stdexcept>

#include "json/JsonOwner.h"
#include "tests/support/DatabaseDump.h"

namespace sfad::test {

namespace {

std::vector<std::string> firstColumn(const std::string& databasePath, const std::string& sql) {
  std::vector<std::string> values;
  for (const auto& row : queryRows(databasePath, sql)) values.push_back(row.at(0));
  return values;
}

}  // namespace

std::string integrityCheck(const std::string& databasePath) {
  return queryValue(databasePath, "PRAGMA integrity_check");
}

std::map<std::string, int> jobRecordCounts(const std::string& databasePath) {
  std::map<std::string, int> counts;
  for (const std::string& key :
       firstColumn(databasePath,
                   "SELECT UNIQUE_KEY FROM HIST_DATA UNION ALL SELECT UNIQUE_KEY FROM "
                   "DATA_TO_PROCESS")) {
    ++counts[key];
  }
  return counts;
}

std::vector<std::string> anomaliesWithoutHeldJob(const std::string& databasePath) {
  return firstColumn(
      databasePath,
      "SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA AS a WHERE NOT EXISTS (SELECT 1 FROM "
      "DATA_TO_PROCESS AS q WHERE q.UNIQUE_KEY = a.DETECTION_KEY AND q.PROCESSED_STATUS = 1) "
      "AND NOT EXISTS (SELECT 1 FROM HIST_DATA AS h WHERE h.UNIQUE_KEY = a.DETECTION_KEY AND "
      "h.USER_IDENTIFIED_CLUSTER IN (1, 2))");
}

std::vector<std::string> anomalyIdsOfDetectOutput(const std::string& output) {
  const JsonPtr array(json_loads(output.c_str(), 0, nullptr));
  if (!array || !json_is_array(array.get())) {
    throw std::runtime_error("detect output is not a JSON array: " + output);
  }
  std::vector<std::string> ids;
  std::size_t index;
  json_t* details;
  json_array_foreach(array.get(), index, details) {
    const char* id =
        json_string_value(json_object_get(json_object_get(details, "Attributes"), "anomalyId"));
    if (!id) throw std::runtime_error("anomaly details without an anomalyId: " + output);
    ids.push_back(id);
  }
  return ids;
}

std::vector<std::string> storedAnomalyIds(const std::string& databasePath) {
  return firstColumn(databasePath, "SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA");
}

}  // namespace sfad::test
