// The training history and queue writers: a record is stored where its key already
// is, with that row's mark or status kept; a new key goes to the table named. The move
// of a queued record into the history uses the same binding of the 23 columns.
#include "intake/JobRecord.h"

#include <sqlite3.h>

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
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
// Whether a table holds a key: asked of the other table before a record is stored, so
// that the common case (a new key) binds one parameter there instead of 23.
const char kHistoryHoldsKey[] = "SELECT COUNT(*) FROM HIST_DATA WHERE UNIQUE_KEY = ?";
const char kQueueHoldsKey[] = "SELECT COUNT(*) FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = ?";
// The move of a queued record into the history: a history row of the same key is
// replaced; a mark of -1 (a retirement) keeps that row's mark, a feedback mark replaces it.
const char kHistoryMove[] =
    "INSERT OR REPLACE INTO HIST_DATA  VALUES ( ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
    "?12, ?13, ?14, ?15, ?16, ?17, ?18, CASE WHEN ?19 = -1 THEN IFNULL((SELECT "
    "USER_IDENTIFIED_CLUSTER FROM HIST_DATA WHERE UNIQUE_KEY = ?23), -1) ELSE ?19 END, ?20, "
    "?21, ?22, ?23 ); ";
const char kPurgeUnmarkedHistory[] =
    "DELETE FROM HIST_DATA WHERE BACKUP_TIME < ? AND USER_IDENTIFIED_CLUSTER = "
    "-1;";

constexpr int kStoredMode = 1;
constexpr int kNoUserCluster = -1;  // USER_IDENTIFIED_CLUSTER of a record nobody classified
constexpr int kNotProcessed = 0;    // PROCESSED_STATUS of a record not yet examined

bool isHistory(JobTable table) { return table == JobTable::History; }

// Binds the 23 columns (field 19 and the key as given) and runs the statement; answers
// whether it changed a row.
bool runWithRecord(SQLiteDatabase& database, Statement& statement, const JobRecord& record,
                   int field19, const std::string& uniqueKey) {
  // Reset again when done, also on failure, so that the statement holds nothing until the
  // next record.
  struct ResetWhenDone {
    Statement& statement;
    ~ResetWhenDone() { statement.reset(); }
  } resetWhenDone{statement};
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
  statement.bindInt(19, field19);
  statement.bindText(20, record.destinationStorageName);
  statement.bindInt(21, record.streamNumber);
  statement.bindText(22, record.assetId);
  statement.bindText(23, uniqueKey);
  database.executeStatement(statement);
  return sqlite3_changes(database.handle()) != 0;
}

}  // namespace

const char* keyCountSql(JobTable table) {
  return isHistory(table) ? kHistoryHoldsKey : kQueueHoldsKey;
}

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
      statusValue_(isHistory(table) ? kNoUserCluster : kNotProcessed),
      insertNamed_(database.handle(), isHistory(table) ? kHistoryInsert : kQueueInsert),
      updateNamed_(database.handle(), isHistory(table) ? kHistoryUpdate : kQueueUpdate),
      updateOther_(database.handle(), isHistory(table) ? kQueueUpdate : kHistoryUpdate),
      otherHolds_(database.handle(),
                  keyCountSql(isHistory(table) ? JobTable::Queue : JobTable::History)) {}

// A key already in the other table stays there (and, in a database written before
// keys were kept in one table, is updated in both); otherwise the insert of a new
// key is ignored for a key already in the named table, which is then updated.
void JobRecordWriter::store(const JobRecord& record) {
  const std::string uniqueKey = record.uniqueKey();
  if (otherHolds(uniqueKey)) {
    run(updateOther_, record, uniqueKey);
    run(updateNamed_, record, uniqueKey);
  } else if (!run(insertNamed_, record, uniqueKey)) {
    run(updateNamed_, record, uniqueKey);
  }
}

bool JobRecordWriter::otherHolds(const std::string& uniqueKey) {
  otherHolds_.reset();
  otherHolds_.bindText(1, uniqueKey);
  QueryResult rows;
  database_.query(otherHolds_, rows);
  otherHolds_.reset();
  return !rows.empty() && rows.front().asInt("COUNT(*)") != 0;
}

bool JobRecordWriter::run(Statement& statement, const JobRecord& record,
                          const std::string& uniqueKey) {
  return runWithRecord(database_, statement, record, statusValue_, uniqueKey);
}

HistoryMover::HistoryMover(SQLiteDatabase& database)
    : database_(database), move_(database.handle(), kHistoryMove) {}

void HistoryMover::move(const JobRecord& record, int mark, const std::string& uniqueKey) {
  runWithRecord(database_, move_, record, mark, uniqueKey);
}

void storeIntoHistory(SQLiteDatabase& database, const JobRecord& record) {
  JobRecordWriter(database, JobTable::History).store(record);
}

void storeIntoQueue(SQLiteDatabase& database, const JobRecord& record) {
  JobRecordWriter(database, JobTable::Queue).store(record);
}

void purgeUnmarkedHistory(SQLiteDatabase& database, int cutoff) {
  Statement statement(database.handle(), kPurgeUnmarkedHistory);
  statement.bindInt(1, cutoff);
  database.executeStatement(statement);
}

}  // namespace sfad
