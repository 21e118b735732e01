// The training history and queue writers: a record is stored where its key already
// is, with that row's mark or status kept; a new key goes to the table named.
#include "intake/JobRecord.h"

#include <sqlite3.h>

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;

// Every statement numbers its parameters like the 23 columns, so one binding
// serves all; the updates leave column 19 (mark or status) and the key alone.
const char kHistoryInsert[] =
    "INSERT OR IGNORE INTO HIST_DATA  VALUES ( ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
    "?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23 ); ";
const char kQueueInsert[] =
    "INSERT OR IGNORE INTO DATA_TO_PROCESS  VALUES ( ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, "
    "?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23 ); ";
const char kHistoryUpdate[] =
    "UPDATE HIST_DATA SET BACKUP_ID = ?1, BACKUP_TIME = ?2, CLIENT = ?3, POLICY = ?4, "
    "POLICY_TYPE = ?5, SCHEDULE_TYPE = ?6, SCHEDULE_NAME = ?7, APP_TYPE = ?8, NUM_FILES = ?9, "
    "IMAGE_SIZE = ?10, JOB_ID = ?11, PARENT_JOB_ID = ?12, KB_TRANSFERRED = ?13, "
    "START_TIME = ?14, END_TIME = ?15, TOTAL_TIME = ?16, DEDUP_RATE = ?17, MODE = ?18, "
    "DESTINATION_STORAGE_NAME = ?20, STREAM_NUMBER = ?21, ASSET_ID = ?22 "
    "WHERE UNIQUE_KEY = ?23";
const char kQueueUpdate[] =
    "UPDATE DATA_TO_PROCESS SET BACKUP_ID = ?1, BACKUP_TIME = ?2, CLIENT = ?3, POLICY = ?4, "
    "POLICY_TYPE = ?5, SCHEDULE_TYPE = ?6, SCHEDULE_NAME = ?7, APP_TYPE = ?8, NUM_FILES = ?9, "
    "IMAGE_SIZE = ?10, JOB_ID = ?11, PARENT_JOB_ID = ?12, KB_TRANSFERRED = ?13, "
    "START_TIME = ?14, END_TIME = ?15, TOTAL_TIME = ?16, DEDUP_RATE = ?17, MODE = ?18, "
    "DESTINATION_STORAGE_NAME = ?20, STREAM_NUMBER = ?21, ASSET_ID = ?22 "
    "WHERE UNIQUE_KEY = ?23";

constexpr int kStoredMode = 1;
constexpr int kNoUserCluster = -1;  // USER_IDENTIFIED_CLUSTER of a record nobody classified
constexpr int kNotProcessed = 0;    // PROCESSED_STATUS of a record not yet examined

bool isHistory(JobTable table) { return table == JobTable::History; }

}  // namespace

std::string JobRecord::uniqueKey() const { return "data_" + jobId + "_" + backupId; }

JobRecordWriter::JobRecordWriter(SQLiteDatabase& database, JobTable table)
    : database_(database),
      statusValue_(isHistory(table) ? kNoUserCluster : kNotProcessed),
      insertNamed_(database.handle(), isHistory(table) ? kHistoryInsert : kQueueInsert),
      updateNamed_(database.handle(), isHistory(table) ? kHistoryUpdate : kQueueUpdate),
      updateOther_(database.handle(), isHistory(table) ? kQueueUpdate : kHistoryUpdate) {}

// A key already in the other table stays there (and, in a database written before
// keys were kept in one table, is updated in both); otherwise the insert of a new
// key is ignored for a key already in the named table, which is then updated.
void JobRecordWriter::store(const JobRecord& record) {
  if (run(updateOther_, record)) {
    run(updateNamed_, record);
  } else if (!run(insertNamed_, record)) {
    run(updateNamed_, record);
  }
}

bool JobRecordWriter::run(Statement& statement, const JobRecord& record) {
  statement.reset();
  statement.bindText(1, record.backupId);
  statement.bindInt(2, record.backupTime);
  statement.bindText(3, record.client);
  statement.bindText(4, record.policy);
  statement.bindText(5, record.policyType);
  statement.bindText(6, record.scheduleType);
  statement.bindText(7, record.scheduleName);
  statement.bindText(8, record.appType);
  statement.bindInt(9, record.numFiles);
  statement.bindDouble(10, record.imageSize);
  statement.bindText(11, record.jobId);
  statement.bindInt(12, record.parentJobId);
  statement.bindDouble(13, record.kbTransferred);
  statement.bindInt(14, record.startTime);
  statement.bindInt(15, record.endTime);
  statement.bindInt(16, record.totalTime);
  statement.bindDouble(17, record.dedupRate);
  statement.bindInt(18, kStoredMode);
  statement.bindInt(19, statusValue_);
  statement.bindText(20, record.destinationStorageName);
  statement.bindInt(21, record.streamNumber);
  statement.bindText(22, record.assetId);
  statement.bindText(23, record.uniqueKey());
  database_.executeStatement(statement);
  return sqlite3_changes(database_.handle()) != 0;
}

void storeIntoHistory(SQLiteDatabase& database, const JobRecord& record) {
  JobRecordWriter(database, JobTable::History).store(record);
}

void storeIntoQueue(SQLiteDatabase& database, const JobRecord& record) {
  JobRecordWriter(database, JobTable::Queue).store(record);
}

}  // namespace sfad
