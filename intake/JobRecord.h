// The statistics of one backup job in the column order of HIST_DATA and
// DATA_TO_PROCESS, and the writes of the history: storing, moving and purging rows.
#pragma once

#include <string>

#include "storage/ResultRow.h"
#include "storage/SQLiteDatabase.h"
#include "storage/Statement.h"

namespace sfad {

struct JobRecord {
  std::string backupId;  // client + "_" + backup time
  int backupTime = 0;
  std::string client;
  std::string policy;
  std::string policyType;
  std::string scheduleType;
  std::string scheduleName;
  std::string appType = "NONE";
  int numFiles = -1;
  double imageSize = -1.0;
  std::string jobId;
  int parentJobId = 0;
  double kbTransferred = -1.0;
  int startTime = -1;
  int endTime = -1;
  int totalTime = -1;
  double dedupRate = -1.0;
  std::string destinationStorageName;
  int streamNumber = 0;
  std::string assetId = "NA";

  // "data_" + JOB_ID + "_" + BACKUP_ID.
  std::string uniqueKey() const;
};

// The record of a stored row (of either table): texts as they are, numbers read from their
// texts as atoi and atof read them.
JobRecord jobRecordOfRow(const Quorvan::Stowfleet::UsageReporting::ResultRow& row);

// The two tables that hold job records.
enum class JobTable { History, Queue };

// The query that counts a table's rows of one UNIQUE_KEY (0 or 1), bound to parameter 1.
const char* keyCountSql(JobTable table);

// Stores records of one data file into the table its operation names, with
// statements prepared once. A job is stored where it already is: a key already in
// HIST_DATA has its values replaced there with its USER_IDENTIFIED_CLUSTER kept, a
// key already in DATA_TO_PROCESS has its values replaced there with its
// PROCESSED_STATUS kept, and only a new key goes to the named table. So a file sent
// again never changes a feedback mark, never re-queues a judged job and never puts
// one key into both tables, while its values still replace the earlier ones.
class JobRecordWriter {
 public:
  JobRecordWriter(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database, JobTable table);
  JobRecordWriter(const JobRecordWriter&) = delete;
  JobRecordWriter& operator=(const JobRecordWriter&) = delete;

  // A new key is stored with MODE 1 and field 19 -1 in HIST_DATA, 0 in
  // DATA_TO_PROCESS.
  void store(const JobRecord& record);

 private:
  // Whether the table the record is not named for already holds the key.
  bool otherHolds(const std::string& uniqueKey);
  // Binds the 23 columns and runs the statement; answers whether it changed a row.
  bool run(Quorvan::Stowfleet::UsageReporting::Statement& statement, const JobRecord& record,
           const std::string& uniqueKey);

  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  const int statusValue_;
  Quorvan::Stowfleet::UsageReporting::Statement insertNamed_;
  Quorvan::Stowfleet::UsageReporting::Statement updateNamed_;
  Quorvan::Stowfleet::UsageReporting::Statement updateOther_;
  Quorvan::Stowfleet::UsageReporting::Statement otherHolds_;
};

// Writes a record that leaves the queue into the history, with its mark and its stored
// UNIQUE_KEY (MODE 1). A history row of the same key is replaced; a mark of -1 (a job
// retired without feedback) keeps the mark that row had, a feedback mark replaces it.
class HistoryMover {
 public:
  explicit HistoryMover(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);
  HistoryMover(const HistoryMover&) = delete;
  HistoryMover& operator=(const HistoryMover&) = delete;

  void move(const JobRecord& record, int mark, const std::string& uniqueKey);

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  Quorvan::Stowfleet::UsageReporting::Statement move_;
};

// Stores one record as a TRAINING_DATA file does (JobRecordWriter's rules).
void storeIntoHistory(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database,
                      const JobRecord& record);
// Stores one record as a DETECTION_DATA file does.
void storeIntoQueue(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database,
                    const JobRecord& record);

// Deletes the history rows of a backup before the cut-off that no feedback marked
// (USER_IDENTIFIED_CLUSTER -1); marked rows stay in the training history.
void purgeUnmarkedHistory(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database, int cutoff);

}  // namespace sfad
