// The reads of a job's training history (HIST_DATA): how much history its group holds and
// needs, its training set, its last backup, the deduplication rates of its storage peers,
// the feedback that silences the deduplication rule, and its confirmed jobs.
#pragma once

#include "detection/DbscanClusterer.h"
#include "detection/FeatureVector.h"
#include "detection/TrainingFeatures.h"
#include "storage/ResultRow.h"
#include "storage/SQLiteDatabase.h"
#include "storage/StatementCache.h"

namespace sfad {

class JobHistory {
 public:
  explicit JobHistory(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);

  // Whether the history holds a row of this UNIQUE_KEY.
  bool holdsKey(const std::string& uniqueKey);
  // Whether the job's group holds any row of the job's stream.
  bool hasStreamHistory(const Quorvan::Stowfleet::UsageReporting::ResultRow& job);

  // The number of history rows the job needs to be judged: -1 when its group holds none of
  // its asset; the minimum for a job with an asset or a group of one stream; otherwise the
  // minimum times the highest stream number (held at the int range), which is also stored
  // in maxStreamNumber.
  int requiredObservations(const Quorvan::Stowfleet::UsageReporting::ResultRow& job,
                           int minObservations, int& maxStreamNumber);

  // The newest rows of the group, at most `limit`, appended to rows: in full mode those of
  // the job's storage when there are at least `required` of them, otherwise in reduced
  // mode. Answers the mode.
  TrainingMode trainingSet(const Quorvan::Stowfleet::UsageReporting::ResultRow& job,
                           Quorvan::Stowfleet::UsageReporting::QueryResult& rows, int required,
                           int limit);

  // The newest BACKUP_TIME of the group (of the job's storage in full mode); -1 when there is
  // none or the read failed (logged).
  int lastBackupTime(const Quorvan::Stowfleet::UsageReporting::ResultRow& job, TrainingMode mode);

  // DEDUP_RATE of every row of the job's policy type, schedule type and storage, in the
  // order SQLite returns them.
  void peerDedupRates(const Quorvan::Stowfleet::UsageReporting::ResultRow& job,
                      Quorvan::Stowfleet::UsageReporting::QueryResult& rows);

  // Whether a job of the group was marked to silence the deduplication rule.
  bool hasDedupFeedback(const Quorvan::Stowfleet::UsageReporting::ResultRow& job);

  // Whether the job (matrix row 0) lies farther than the threshold from every confirmed job
  // of its training set (training row i is matrix row i + 1).
  bool isFarFromConfirmedJobs(const Quorvan::Stowfleet::UsageReporting::QueryResult& rows,
                              const FeatureMatrix& matrix, double threshold,
                              const DbscanClusterer& clusterer) const;

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  // The per-job statements, prepared once per run.
  Quorvan::Stowfleet::UsageReporting::StatementCache statements_{database_.handle()};
};

}  // namespace sfad
