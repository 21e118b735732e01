// The queue of jobs waiting for detection and the moves out of it.
#include "detection/JobQueue.h"

#include "storage/Statement.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

constexpr const char* kPendingBatchQuery =
    "SELECT * FROM DATA_TO_PROCESS where PROCESSED_STATUS = 0 LIMIT 10000";
constexpr const char* kStillPendingQuery =
    "SELECT COUNT(*) FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = ? AND "
    "PROCESSED_STATUS = 0";
constexpr const char* kQueuedRecordQuery = "SELECT * FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = ?";
constexpr const char* kMarkProcessedSql =
    "UPDATE DATA_TO_PROCESS SET  PROCESSED_STATUS = 1  WHERE UNIQUE_KEY = ? ";
constexpr const char* kDeleteQueuedSql = "DELETE FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = ? ";
constexpr const char* kPurgeQueuedSql = "DELETE FROM DATA_TO_PROCESS WHERE BACKUP_TIME < ? ;";
constexpr std::size_t kBatchCapacity = 10000;

}  // namespace

JobQueue::JobQueue(SQLiteDatabase& database, JobHistory& history)
    : database_(database), history_(history) {}

void JobQueue::pendingBatch(QueryResult& batch) {
  batch.reserve(batch.size() + kBatchCapacity);
  database_.query(kPendingBatchQuery, batch);
}

bool JobQueue::isStillPending(const std::string& uniqueKey) {
  const StatementCache::Use use = statements_.use(kStillPendingQuery);
  Statement& statement = use.statement();
  statement.bindText(1, uniqueKey);
  QueryResult rows;
  database_.query(statement, rows);
  return !rows.empty() && rows.front().asInt("COUNT(*)") != 0;
}

void JobQueue::queuedRecord(const std::string& uniqueKey, QueryResult& rows) {
  const StatementCache::Use use = statements_.use(kQueuedRecordQuery);
  Statement& statement = use.statement();
  statement.bindText(1, uniqueKey);
  database_.query(statement, rows);
}

void JobQueue::hold(const std::string& uniqueKey) {
  const StatementCache::Use use = statements_.use(kMarkProcessedSql);
  Statement& statement = use.statement();
  statement.bindText(1, uniqueKey);
  database_.executeStatement(statement);
}

void JobQueue::retire(const ResultRow& record) {
  if (!historyMover_) historyMover_.emplace(database_);
  const std::string& uniqueKey = record.text("UNIQUE_KEY");
  history_.beforeMove(uniqueKey);
  historyMover_->move(jobRecordOfRow(record), record.asInt("USER_IDENTIFIED_CLUSTER"), uniqueKey);
  history_.afterMove(uniqueKey);
  const StatementCache::Use use = statements_.use(kDeleteQueuedSql);
  Statement& statement = use.statement();
  statement.bindText(1, uniqueKey);
  database_.executeStatement(statement);
}

void JobQueue::purgeBefore(int cutoff) {
  Statement statement(database_.handle(), kPurgeQueuedSql);
  statement.bindInt(1, cutoff);
  database_.executeStatement(statement);
}

}  // namespace sfad
