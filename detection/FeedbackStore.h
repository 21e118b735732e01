// The stored user feedback (ANOMALY_DATA_FEEDBACK): recording the feedback on an anomaly,
// reading it for incorporation, consuming it, and purging old rows.
#pragma once

#include <string>

#include "storage/ResultRow.h"
#include "storage/SQLiteDatabase.h"
#include "storage/StatementCache.h"

namespace sfad {

class FeedbackStore {
 public:
  explicit FeedbackStore(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);

  // Writes (or replaces) the feedback row of one anomaly id.
  void record(const std::string& anomalyId, int feedback, int captureTime);

  // Appends every feedback row, in the order SQLite returns them.
  void all(Quorvan::Stowfleet::UsageReporting::QueryResult& rows);

  // Removes the feedback row of the anomaly once it has been incorporated.
  void consume(const std::string& anomalyId);

  // Deletes the feedback captured before the cut-off.
  void purgeCapturedBefore(int cutoff);

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  // The per-row statements, prepared once per run.
  Quorvan::Stowfleet::UsageReporting::StatementCache statements_{database_.handle()};
};

}  // namespace sfad
