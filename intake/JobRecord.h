// The statistics of one backup job in the column order of HIST_DATA and
// DATA_TO_PROCESS, and its store operations.
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

// One prepared INSERT OR REPLACE of a table, run once per record: for storing
// many records of one data file without preparing a statement for each.
class JobRecordWriter {
 public:
  JobRecordWriter(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database, JobTable table);
  JobRecordWriter(const JobRecordWriter&) = delete;
  JobRecordWriter& operator=(const JobRecordWriter&) = delete;

  // Binds the 23 columns (MODE 1; field 19 -1 in HIST_DATA, 0 in
  // DATA_TO_PROCESS) and runs it.
  void store(const JobRecord& record);
  // The same with field 19 (USER_IDENTIFIED_CLUSTER in HIST_DATA) and the UNIQUE_KEY given:
  // for a record that moves between the tables with its mark and its stored key.
  void store(const JobRecord& record, int field19, const std::string& uniqueKey);

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  const int statusValue_;
  Quorvan::Stowfleet::UsageReporting::Statement statement_;
};

// INSERT OR REPLACE into HIST_DATA with MODE 1 and USER_IDENTIFIED_CLUSTER -1.
void storeIntoHistory(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database,
                      const JobRecord& record);
// INSERT OR REPLACE into DATA_TO_PROCESS with MODE 1 and PROCESSED_STATUS 0.
void storeIntoQueue(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database,
                    const JobRecord& record);

}  // namespace sfad
