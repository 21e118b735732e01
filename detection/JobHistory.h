// The reads of a job's training history (HIST_DATA): how much history its group holds and
// needs, its training set, its last backup, the deduplication rates of its storage peers,
// the feedback that silences the deduplication rule, and its confirmed jobs.
//
// What is kept between the jobs of one run: the training sets read so far (per group key
// and row limit, the newest rows in the order SQLite gives them) and the peer rates (per
// policy type, schedule type and storage, in rowid order). The run's own moves into the
// history (beforeMove / afterMove around each) keep them current: a new row goes where
// the read would place it; a replaced row drops the copies it was in. Any other write of
// HIST_DATA through the connection, any undone write (a rolled-back savepoint or
// transaction) and any commit of another connection drops every copy, so that the next
// read asks SQLite again.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

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
                           TrainingRows& rows, int required, int limit);

  // The newest BACKUP_TIME of the group (of the job's storage in full mode); -1 when there is
  // none or the read failed (logged).
  int lastBackupTime(const Quorvan::Stowfleet::UsageReporting::ResultRow& job, TrainingMode mode);

  // DEDUP_RATE of every row of the job's policy type, schedule type and storage (as a
  // row's asDouble reads it), in the order SQLite returns them; valid until the next call.
  const std::vector<double>& peerDedupRates(
      const Quorvan::Stowfleet::UsageReporting::ResultRow& job);

  // Whether a job of the group was marked to silence the deduplication rule.
  bool hasDedupFeedback(const Quorvan::Stowfleet::UsageReporting::ResultRow& job);

  // Whether the job (matrix row 0) lies farther than the threshold from every confirmed job
  // of its training set (training row i is matrix row i + 1).
  bool isFarFromConfirmedJobs(const TrainingRows& rows, const FeatureMatrix& matrix,
                              double threshold, const DbscanClusterer& clusterer) const;
  // The distance from the job (matrix row 0) to the nearest confirmed job of its training
  // set, measured as isFarFromConfirmedJobs measures it; -1.0 when the set has none.
  double nearestConfirmedDistance(const TrainingRows& rows, const FeatureMatrix& matrix,
                                  const DbscanClusterer& clusterer) const;

  // Called around every move of a record into the history (the row of UNIQUE_KEY
  // `uniqueKey` is written in between), so that the kept copies stay current.
  void beforeMove(const std::string& uniqueKey);
  void afterMove(const std::string& uniqueKey);

 private:
  // One kept row of a training set and the columns that order it among rows of one
  // BACKUP_TIME (its storage as a number of storageNames_).
  struct KeptRow {
    std::int64_t backupTime = 0;
    std::int64_t rowid = 0;
    int stream = 0;
    int mode = 0;
    std::uint32_t storage = 0;
    TrainingRow row;
  };
  // The newest rows of one group key up to one limit. `ordered`: every row's order columns
  // are integers and the rows came in the order kept rows are compared by, so a new row
  // can be placed; otherwise the list is dropped when a row joins its group.
  struct KeptRows {
    std::vector<KeptRow> rows;
    bool ordered = true;
  };
  using KeptByLimit = std::map<int, KeptRows>;
  // The peer rates of one policy type, schedule type and storage, and the rowid of the
  // last. `ordered`: they came in rowid order, so a new row's rate goes last.
  struct KeptRates {
    std::vector<double> rates;
    std::int64_t lastRowid = 0;
    bool ordered = true;
  };

  // The kept training set of the job's group, read on first use.
  const KeptRows& keptTrainingRows(const Quorvan::Stowfleet::UsageReporting::ResultRow& job,
                                   TrainingMode mode, int limit);
  // Reads the current row of a training set read (or the moved row); answers false when
  // an order column is not an integer.
  bool readKeptRow(sqlite3_stmt* statement, TrainingMode mode, KeptRow& kept);
  std::uint32_t storageId(const std::string& storage);
  // The order of a training set read.
  bool comesBefore(const KeptRow& a, const KeptRow& b) const;
  static void appendRows(const KeptRows& kept, TrainingRows& rows);
  // Hands the row of the key, if any, to `use` with its group columns.
  template <typename Use>
  void readMovedRow(const std::string& uniqueKey, Use use);
  // Places a row just written into every kept set of its group; a set that cannot place
  // it is dropped.
  void placeRow(sqlite3_stmt* statement, const Quorvan::Stowfleet::UsageReporting::ResultRow& group,
                TrainingMode mode, std::unordered_map<std::string, KeptByLimit>& sets);
  bool keepsNothing() const;
  // Drops every kept copy after a write of HIST_DATA other than the run's moves, an undone
  // write of this connection, or a commit of another.
  void dropCopiesIfStale();

  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  // The per-job statements, prepared once per run.
  Quorvan::Stowfleet::UsageReporting::StatementCache statements_{database_.handle()};

  std::unordered_map<std::string, KeptByLimit> fullSets_;
  std::unordered_map<std::string, KeptByLimit> reducedSets_;
  std::unordered_map<std::string, KeptRates> peerRates_;
  std::vector<std::string> storageNames_;
  std::unordered_map<std::string, std::uint32_t> storageIds_;
  std::uint64_t seenUndoCount_ = 0;
  std::uint64_t seenHistoryWrites_ = 0;
  std::int64_t seenDataVersion_ = -1;
};

}  // namespace sfad
