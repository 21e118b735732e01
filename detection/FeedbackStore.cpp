// The stored user feedback and its statements.
#include "detection/FeedbackStore.h"

#include "storage/Statement.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

constexpr const char* kRecordFeedbackSql =
    "INSERT OR REPLACE INTO ANOMALY_DATA_FEEDBACK VALUES ( ?, ?, ? ); ";
constexpr const char* kFeedbackSql = "SELECT * FROM ANOMALY_DATA_FEEDBACK";
constexpr const char* kDeleteFeedbackSql =
    "DELETE FROM ANOMALY_DATA_FEEDBACK WHERE ANOMALY_UNIQUE_ID = ?";
constexpr const char* kPurgeFeedbackSql =
    "DELETE FROM ANOMALY_DATA_FEEDBACK WHERE CAPTURE_TIME < ? ;";

}  // namespace

FeedbackStore::FeedbackStore(SQLiteDatabase& database) : database_(database) {}

void FeedbackStore::record(const std::string& anomalyId, int feedback, int captureTime) {
  Statement statement(database_.handle(), kRecordFeedbackSql);
  statement.bindText(1, anomalyId);
  statement.bindInt(2, feedback);
  statement.bindInt(3, captureTime);
  database_.executeStatement(statement);
}

void FeedbackStore::all(QueryResult& rows) { database_.query(kFeedbackSql, rows); }

void FeedbackStore::consume(const std::string& anomalyId) {
  const StatementCache::Use use = statements_.use(kDeleteFeedbackSql);
  Statement& statement = use.statement();
  statement.bindText(1, anomalyId);
  database_.executeStatement(statement);
}

void FeedbackStore::purgeCapturedBefore(int cutoff) {
  Statement statement(database_.handle(), kPurgeFeedbackSql);
  statement.bindInt(1, cutoff);
  database_.executeStatement(statement);
}

}  // namespace sfad
