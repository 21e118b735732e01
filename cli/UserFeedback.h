// The pieces of the userfeedback action: the anomaly-ids file and one feedback
// row.
#pragma once

#include <string>
#include <vector>

#include "storage/SQLiteDatabase.h"

namespace sfad {

// Appends the ids of the file's "anomaly_ids" array, in file order. Raises
// detection_cli_exception (code 1) for a file that is not JSON or a malformed
// array.
void readAnomalyIds(const std::string& path, std::vector<std::string>& ids);

// Writes (or replaces) the feedback row of one anomaly id; raises
// sqlite_exception.
void insertFeedback(const std::string& anomalyId, int feedback, int captureTime,
                    Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);

}  // namespace sfad
