// What the reliability suites check after concurrent or killed requests: the file's
// integrity, where each job record is, and which anomalies the detect outputs handed out.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace sfad::test {

// The result of PRAGMA integrity_check ("ok" for a sound file).
std::string integrityCheck(const std::string& databasePath);

// How often each UNIQUE_KEY occurs in HIST_DATA and DATA_TO_PROCESS together.
std::map<std::string, int> jobRecordCounts(const std::string& databasePath);

// The anomalies whose job is neither held in DATA_TO_PROCESS (PROCESSED_STATUS 1) nor
// moved into HIST_DATA by feedback: rows that no record accounts for.
std::vector<std::string> anomaliesWithoutHeldJob(const std::string& databasePath);

// The anomalyId of every element of a detect output array; raises if the text is not
// such an array.
std::vector<std::string> anomalyIdsOfDetectOutput(const std::string& output);

// Every ANOMALY_UNIQUE_ID of ANOMALY_DATA.
std::vector<std::string> storedAnomalyIds(const std::string& databasePath);

}  // namespace sfad::test
