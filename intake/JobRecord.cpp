// The training history and queue writers: one positional INSERT OR REPLACE per
// record.
#include "intake/JobRecord.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

const char kHistoryInsert[] =
    "INSERT OR REPLACE INTO HIST_DATA  VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
    "?, ?, ?, ?, ?, ?, ?, "
    "?, ?, ?, ?, ?, ? ); ";
const char kQueueInsert[] =
    "INSERT OR REPLACE INTO DATA_TO_PROCESS  VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, "
    "?, ?, ?, ?, ?, ?, ?, "
    "?, ?, ?, ?, ?, ?, ?, ? ); ";

constexpr int kStoredMode = 1;
constexpr int kNoUserCluster = -1;  // USER_IDENTIFIED_CLUSTER of a record nobody classified
constexpr int kNotProcessed = 0;    // PROCESSED_STATUS of a record not yet examined

}  // namespace

std::string JobRecord::uniqueKey() const { return "data_" + jobId + "_" + backupId; }

JobRecordWriter::JobRecordWriter(SQLiteDatabase& database, JobTable table)
    : database_(database),
      statusValue_(table == JobTable::History ? kNoUserCluster : kNotProcessed),
      statement_(database.handle(), table == JobTable::History ? kHistoryInsert : kQueueInsert) {}

void JobRecordWriter::store(const JobRecord& record) {
  statement_.reset();
  statement_.bindText(1, record.backupId);
  statement_.bindInt(2, record.backupTime);
  statement_.bindText(3, record.client);
  statement_.bindText(4, record.policy);
  statement_.bindText(5, record.policyType);
  statement_.bindText(6, record.scheduleType);
  statement_.bindText(7, record.scheduleName);
  statement_.bindText(8, record.appType);
  statement_.bindInt(9, record.numFiles);
  statement_.bindDouble(10, record.imageSize);
  statement_.bindText(11, record.jobId);
  statement_.bindInt(12, record.parentJobId);
  statement_.bindDouble(13, record.kbTransferred);
  statement_.bindInt(14, record.startTime);
  statement_.bindInt(15, record.endTime);
  statement_.bindInt(16, record.totalTime);
  statement_.bindDouble(17, record.dedupRate);
  statement_.bindInt(18, kStoredMode);
  statement_.bindInt(19, statusValue_);
  statement_.bindText(20, record.destinationStorageName);
  statement_.bindInt(21, record.streamNumber);
  statement_.bindText(22, record.assetId);
  statement_.bindText(23, record.uniqueKey());
  database_.executeStatement(statement_);
}

void storeIntoHistory(SQLiteDatabase& database, const JobRecord& record) {
  JobRecordWriter(database, JobTable::History).store(record);
}

void storeIntoQueue(SQLiteDatabase& database, const JobRecord& record) {
  JobRecordWriter(database, JobTable::Queue).store(record);
}

}  // namespace sfad
