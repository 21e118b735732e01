// The training history and queue writers: one positional INSERT OR REPLACE per
// record.
#include "intake/JobRecord.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::ResultRow;
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

JobRecord jobRecordOfRow(const ResultRow& row) {
  JobRecord record;
  record.backupId = row.text("BACKUP_ID");
  record.backupTime = row.asInt("BACKUP_TIME");
  record.client = row.text("CLIENT");
  record.policy = row.text("POLICY");
  record.policyType = row.text("POLICY_TYPE");
  record.scheduleType = row.text("SCHEDULE_TYPE");
  record.scheduleName = row.text("SCHEDULE_NAME");
  record.appType = row.text("APP_TYPE");
  record.numFiles = row.asInt("NUM_FILES");
  record.imageSize = row.asDouble("IMAGE_SIZE");
  record.jobId = row.text("JOB_ID");
  record.parentJobId = row.asInt("PARENT_JOB_ID");
  record.kbTransferred = row.asDouble("KB_TRANSFERRED");
  record.startTime = row.asInt("START_TIME");
  record.endTime = row.asInt("END_TIME");
  record.totalTime = row.asInt("TOTAL_TIME");
  record.dedupRate = row.asDouble("DEDUP_RATE");
  record.destinationStorageName = row.text("DESTINATION_STORAGE_NAME");
  record.streamNumber = row.asInt("STREAM_NUMBER");
  record.assetId = row.text("ASSET_ID");
  return record;
}

JobRecordWriter::JobRecordWriter(SQLiteDatabase& database, JobTable table)
    : database_(database),
      statusValue_(table == JobTable::History ? kNoUserCluster : kNotProcessed),
      statement_(database.handle(), table == JobTable::History ? kHistoryInsert : kQueueInsert) {}

void JobRecordWriter::store(const JobRecord& record) {
  store(record, statusValue_, record.uniqueKey());
}

void JobRecordWriter::store(const JobRecord& record, int field19, const std::string& uniqueKey) {
  // Reset again when done, also on failure, so that the statement holds nothing until the
  // next record.
  struct ResetWhenDone {
    Quorvan::Stowfleet::UsageReporting::Statement& statement;
    ~ResetWhenDone() { statement.reset(); }
  } resetWhenDone{statement_};
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
  statement_.bindInt(19, field19);
  statement_.bindText(20, record.destinationStorageName);
  statement_.bindInt(21, record.streamNumber);
  statement_.bindText(22, record.assetId);
  statement_.bindText(23, uniqueKey);
  database_.executeStatement(statement_);
}

void storeIntoHistory(SQLiteDatabase& database, const JobRecord& record) {
  JobRecordWriter(database, JobTable::History).store(record);
}

void storeIntoQueue(SQLiteDatabase& database, const JobRecord& record) {
  JobRecordWriter(database, JobTable::Queue).store(record);
}

}  // namespace sfad
