// Feedback incorporation: stored user feedback moves anomalous jobs into the
// training history with the feedback as their mark; the same move retires any
// examined job.
#include <string>

#include "detection/DetectionEngine.h"
#include "detection/DiagnosticLog.h"
#include "storage/Savepoint.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::Savepoint;
using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

namespace {

constexpr const char* kFeedbackSql = "SELECT * FROM ANOMALY_DATA_FEEDBACK";
constexpr const char* kDetectionKeySql =
    "SELECT DETECTION_KEY FROM ANOMALY_DATA WHERE ANOMALY_UNIQUE_ID = ?";
constexpr const char* kQueuedJobSql = "SELECT * FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = ?";
constexpr const char* kDeleteFeedbackSql =
    "DELETE FROM ANOMALY_DATA_FEEDBACK WHERE ANOMALY_UNIQUE_ID = ?";
// A mark of -1 (a retirement) keeps the mark of a history row of the same key; a
// feedback mark replaces it.
constexpr const char* kStoreHistorySql =
    "INSERT OR REPLACE INTO HIST_DATA  VALUES ( ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
    "?12, ?13, ?14, ?15, ?16, ?17, ?18, CASE WHEN ?19 = -1 THEN IFNULL((SELECT "
    "USER_IDENTIFIED_CLUSTER FROM HIST_DATA WHERE UNIQUE_KEY = ?23), -1) ELSE ?19 END, ?20, "
    "?21, ?22, ?23 ); ";
constexpr const char* kDeleteQueuedSql = "DELETE FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = ? ";

constexpr int kHistoryMode = 1;

// Feedback that confirms a job (1) or silences the deduplication rule for its
// group (2).
bool isIncorporated(int feedback) { return feedback == 1 || feedback == 2; }

}  // namespace

void DetectionEngine::incorporateFeedback() {
  QueryResult feedbackRows;
  try {
    database_.query(kFeedbackSql, feedbackRows);
  } catch (const sqlite_exception& e) {
    logMessage(kLogProgress, kDetectionLogCategory,
               "Error while getting anomaly feedback data. %s  %s", e.what(),
               e.sqliteMessage().c_str());
    return;
  } catch (const std::exception& e) {
    logMessage(kLogFailure, kDetectionLogCategory, "Error while getting anomaly feedback data %s.",
               e.what());
    return;
  }

  for (const ResultRow& feedbackRow : feedbackRows) {
    const std::string& anomalyId = feedbackRow.text("ANOMALY_UNIQUE_ID");
    const int feedback = feedbackRow.asInt("FEEDBACK");
    if (!isIncorporated(feedback)) continue;

    QueryResult anomalies;
    {
      const StatementCache::Use use = statements_.use(kDetectionKeySql);
      Statement& statement = use.statement();
      statement.bindText(1, anomalyId);
      database_.query(statement, anomalies);
    }
    if (anomalies.empty()) continue;

    QueryResult jobs;
    {
      const StatementCache::Use use = statements_.use(kQueuedJobSql);
      Statement& statement = use.statement();
      statement.bindText(1, anomalies.front().text("DETECTION_KEY"));
      database_.query(statement, jobs);
    }
    if (jobs.empty()) continue;

    ResultRow job = jobs.front();
    job.set("USER_IDENTIFIED_CLUSTER", std::to_string(feedback));
    logMessage(kLogProgress, kDetectionLogCategory,
               "Updating user feedback for training for client = %s, policy = "
               "%s, policy_type = "
               "%s, schedule_name = %s & app_type = %s",
               job.text("CLIENT").c_str(), job.text("POLICY").c_str(),
               job.text("POLICY_TYPE").c_str(), job.text("SCHEDULE_NAME").c_str(),
               job.text("APP_TYPE").c_str());

    // The move and the removal of its feedback row succeed or fail together, so
    // a failure never leaves the job in both tables or its feedback consumed
    // without effect.
    Savepoint unit(database_, "incorporate_feedback");
    moveToHistory(job);
    const StatementCache::Use use = statements_.use(kDeleteFeedbackSql);
    Statement& statement = use.statement();
    statement.bindText(1, anomalyId);
    database_.executeStatement(statement);
    unit.release();
  }
}

void DetectionEngine::moveToHistory(const ResultRow& job) {
  {
    const StatementCache::Use use = statements_.use(kStoreHistorySql);
    Statement& statement = use.statement();
    statement.bindText(1, job.text("BACKUP_ID"));
    statement.bindInt(2, job.asInt("BACKUP_TIME"));
    statement.bindText(3, job.text("CLIENT"));
    statement.bindText(4, job.text("POLICY"));
    statement.bindText(5, job.text("POLICY_TYPE"));
    statement.bindText(6, job.text("SCHEDULE_TYPE"));
    statement.bindText(7, job.text("SCHEDULE_NAME"));
    statement.bindText(8, job.text("APP_TYPE"));
    statement.bindInt(9, job.asInt("NUM_FILES"));
    statement.bindDouble(10, job.asDouble("IMAGE_SIZE"));
    statement.bindText(11, job.text("JOB_ID"));
    statement.bindInt(12, job.asInt("PARENT_JOB_ID"));
    statement.bindDouble(13, job.asDouble("KB_TRANSFERRED"));
    statement.bindInt(14, job.asInt("START_TIME"));
    statement.bindInt(15, job.asInt("END_TIME"));
    statement.bindInt(16, job.asInt("TOTAL_TIME"));
    statement.bindDouble(17, job.asDouble("DEDUP_RATE"));
    statement.bindInt(18, kHistoryMode);
    statement.bindInt(19, job.asInt("USER_IDENTIFIED_CLUSTER"));
    statement.bindText(20, job.text("DESTINATION_STORAGE_NAME"));
    statement.bindInt(21, job.asInt("STREAM_NUMBER"));
    statement.bindText(22, job.text("ASSET_ID"));
    statement.bindText(23, job.text("UNIQUE_KEY"));
    database_.executeStatement(statement);
  }
  const StatementCache::Use use = statements_.use(kDeleteQueuedSql);
  Statement& statement = use.statement();
  statement.bindText(1, job.text("UNIQUE_KEY"));
  database_.executeStatement(statement);
}

}  // namespace sfad
