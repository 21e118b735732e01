// The queue of jobs waiting for detection (DATA_TO_PROCESS): the pending batch of a run,
// holding a job as anomalous, and retiring a job into the training history.
#pragma once

#include <optional>
#include <string>

#include "detection/JobHistory.h"
#include "intake/JobRecord.h"
#include "storage/ResultRow.h"
#include "storage/SQLiteDatabase.h"
#include "storage/StatementCache.h"

namespace sfad {

class JobQueue {
 public:
  // Every move into the history is told to the history reads, which keep copies of it.
  JobQueue(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database, JobHistory& history);

  // Appends up to 10000 records not yet examined, in the order SQLite returns them.
  void pendingBatch(Quorvan::Stowfleet::UsageReporting::QueryResult& batch);

  // Whether the record is still queued and not yet examined: another request may have
  // disposed of it after this run read its batch.
  bool isStillPending(const std::string& uniqueKey);

  // Appends the queued record of the key, if any.
  void queuedRecord(const std::string& uniqueKey,
                    Quorvan::Stowfleet::UsageReporting::QueryResult& rows);

  // Holds the record as anomalous: it stays queued, marked examined (PROCESSED_STATUS 1).
  void hold(const std::string& uniqueKey);

  // Moves the record into the training history (MODE 1, its USER_IDENTIFIED_CLUSTER, its
  // stored UNIQUE_KEY) and out of the queue.
  void retire(const Quorvan::Stowfleet::UsageReporting::ResultRow& record);

  // Deletes the queued records (examined or not) of a backup before the cut-off.
  void purgeBefore(int cutoff);

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  JobHistory& history_;
  // The per-record statements, prepared once per run.
  Quorvan::Stowfleet::UsageReporting::StatementCache statements_{database_.handle()};
  // Prepared at the first retirement.
  std::optional<HistoryMover> historyMover_;
};

}  // namespace sfad
