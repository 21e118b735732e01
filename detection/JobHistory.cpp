// The reads of a job's training history: how much history its group needs, which rows
// train it, and the checks against the group's history.
#include "detection/JobHistory.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "detection/DiagnosticLog.h"
#include "detection/GroupFields.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

namespace {

constexpr const char* kKeyCountSql = "SELECT COUNT(*) FROM HIST_DATA WHERE UNIQUE_KEY = ?";

// The existence reads answer 0 or 1 (only "is there any row" matters): each stops at the
// first index entry instead of counting the group's rows.
constexpr const char* kStreamCountSql =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND APP_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "STREAM_NUMBER = ? LIMIT 1)";

constexpr const char* kAssetCountSql =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND APP_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "ASSET_ID = ? LIMIT 1)";

constexpr const char* kHighestStreamSql =
    "SELECT MAX(STREAM_NUMBER)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY  "
    "                 = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? "
    "AND  SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? ";

constexpr const char* kFullTrainingSql =
    "SELECT NUM_FILES,  IMAGE_SIZE,  KB_TRANSFERRED,  TOTAL_TIME,  DEDUP_RATE,  "
    "USER_IDENTIFIED_CLUSTER  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY    "
    "               = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  DESTINATION_STORAGE_NAME "
    "= ? AND  ASSET_ID                 = ? AND  MODE                     = ?   ORDER BY "
    "BACKUP_TIME DESC LIMIT ? ";

constexpr const char* kReducedTrainingSql =
    "SELECT   NUM_FILES,  IMAGE_SIZE,  KB_TRANSFERRED,  USER_IDENTIFIED_CLUSTER  FROM HIST_DATA  "
    "WHERE  CLIENT        = ? AND  POLICY        = ? AND  POLICY_TYPE   = ? AND  APP_TYPE      = "
    "? AND  SCHEDULE_TYPE = ? AND  SCHEDULE_NAME = ? AND  ASSET_ID      = ?  ORDER BY BACKUP_TIME "
    "DESC LIMIT ? ";

constexpr const char* kLastBackupSql =
    "SELECT MAX(BACKUP_TIME) FROM HIST_DATA WHERE  CLIENT                   = ? AND  POLICY      "
    "             = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  DESTINATION_STORAGE_NAME "
    "= ? AND  ASSET_ID                 = ? ";

// Reduced mode: the rows the reduced training set is drawn from, on any storage.
constexpr const char* kReducedLastBackupSql =
    "SELECT MAX(BACKUP_TIME) FROM HIST_DATA WHERE  CLIENT        = ? AND  POLICY        = ? AND  "
    "POLICY_TYPE   = ? AND  APP_TYPE      = ? AND  SCHEDULE_TYPE = ? AND  SCHEDULE_NAME = ? AND  "
    "ASSET_ID      = ? ";
constexpr const char* kPeerRatesSql =
    "SELECT DEDUP_RATE FROM HIST_DATA  WHERE POLICY_TYPE = ? AND  SCHEDULE_TYPE = ? AND  "
    "DESTINATION_STORAGE_NAME = ?";
constexpr const char* kDedupFeedbackSql =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "USER_IDENTIFIED_CLUSTER = ? LIMIT 1)";

// The ASSET_ID of jobs without an asset of their own (exact, case-sensitive).
constexpr const char* kNoAsset = "NA";
constexpr int kHistoryMode = 1;
// USER_IDENTIFIED_CLUSTER of a job whose feedback silences the deduplication rule.
constexpr int kDedupFeedback = 2;

// An aggregate query yields one row; a NULL aggregate reads as 0.
bool firstCountIsNonZero(const QueryResult& rows, const char* column) {
  return !rows.empty() && rows.front().asInt(column) != 0;
}

}  // namespace

JobHistory::JobHistory(SQLiteDatabase& database) : database_(database) {}

bool JobHistory::holdsKey(const std::string& uniqueKey) {
  const StatementCache::Use use = statements_.use(kKeyCountSql);
  Statement& statement = use.statement();
  statement.bindText(1, uniqueKey);
  QueryResult rows;
  database_.query(statement, rows);
  return firstCountIsNonZero(rows, "COUNT(*)");
}

bool JobHistory::hasStreamHistory(const ResultRow& job) {
  const StatementCache::Use use = statements_.use(kStreamCountSql);
  Statement& statement = use.statement();
  const int next = bindFields(statement, job, kPolicyFields);
  statement.bindInt(next, job.asInt("STREAM_NUMBER"));
  QueryResult rows;
  database_.query(statement, rows);
  return firstCountIsNonZero(rows, "COUNT(*)");
}

int JobHistory::requiredObservations(const ResultRow& job, int minObservations,
                                     int& maxStreamNumber) {
  const std::string& assetId = job.text("ASSET_ID");
  {
    const StatementCache::Use use = statements_.use(kAssetCountSql);
    Statement& statement = use.statement();
    statement.bindText(bindFields(statement, job, kPolicyFields), assetId);
    QueryResult rows;
    database_.query(statement, rows);
    if (!firstCountIsNonZero(rows, "COUNT(*)")) return -1;
  }
  if (assetId != kNoAsset) {
    maxStreamNumber = 0;
    return minObservations;
  }
  const StatementCache::Use use = statements_.use(kHighestStreamSql);
  Statement& statement = use.statement();
  bindFields(statement, job, kPolicyFields);
  QueryResult rows;
  database_.query(statement, rows);
  if (rows.empty()) return -1;
  maxStreamNumber = rows.front().asInt("MAX(STREAM_NUMBER)");
  if (maxStreamNumber == 0) return minObservations;
  // One minimum per stream; a product beyond the 32-bit range is held at its
  // largest value instead of wrapping into a small or negative requirement.
  const std::int64_t required =
      static_cast<std::int64_t>(minObservations) * static_cast<std::int64_t>(maxStreamNumber);
  return static_cast<int>(std::clamp<std::int64_t>(required, INT_MIN, INT_MAX));
}

TrainingMode JobHistory::trainingSet(const ResultRow& job, QueryResult& rows, int required,
                                     int limit) {
  {
    const StatementCache::Use use = statements_.use(kFullTrainingSql);
    Statement& statement = use.statement();
    int next = bindFields(statement, job, kPolicyFields);
    next = bindFields(statement, job, {"DESTINATION_STORAGE_NAME", "ASSET_ID"}, next);
    statement.bindInt(next++, kHistoryMode);
    statement.bindInt(next, limit);
    database_.query(statement, rows);
  }
  if (static_cast<std::int64_t>(rows.size()) >= required) return TrainingMode::kFull;
  rows.clear();
  const StatementCache::Use use = statements_.use(kReducedTrainingSql);
  Statement& statement = use.statement();
  const int next = bindFields(statement, job, kPolicyFields);
  statement.bindText(next, job.text("ASSET_ID"));
  statement.bindInt(next + 1, limit);
  database_.query(statement, rows);
  return TrainingMode::kReduced;
}

int JobHistory::lastBackupTime(const ResultRow& job, TrainingMode mode) {
  const bool full = mode == TrainingMode::kFull;
  const StatementCache::Use use = statements_.use(full ? kLastBackupSql : kReducedLastBackupSql);
  Statement& statement = use.statement();
  int next = bindFields(statement, job, kPolicyFields);
  if (full) statement.bindText(next++, job.text("DESTINATION_STORAGE_NAME"));
  statement.bindText(next, job.text("ASSET_ID"));
  try {
    QueryResult rows;
    database_.query(statement, rows);
    if (rows.empty()) return -1;
    return rows.front().asInt("MAX(BACKUP_TIME)");
  } catch (...) {
    logMessage(kLogFailure, kDetectionLogCategory,
               "Could not get last known backup time for client - %s, policy - %s.",
               job.text("CLIENT").c_str(), job.text("POLICY").c_str());
    return -1;
  }
}

void JobHistory::peerDedupRates(const ResultRow& job, QueryResult& rows) {
  Statement statement(database_.handle(), kPeerRatesSql);
  bindFields(statement, job, {"POLICY_TYPE", "SCHEDULE_TYPE", "DESTINATION_STORAGE_NAME"});
  database_.query(statement, rows);
}

bool JobHistory::hasDedupFeedback(const ResultRow& job) {
  Statement statement(database_.handle(), kDedupFeedbackSql);
  const int next = bindFields(
      statement, job, {"CLIENT", "POLICY", "POLICY_TYPE", "SCHEDULE_TYPE", "SCHEDULE_NAME"});
  statement.bindInt(next, kDedupFeedback);
  QueryResult rows;
  database_.query(statement, rows);
  return !rows.empty() && rows.front().asInt("COUNT(*)") != 0;
}

bool JobHistory::isFarFromConfirmedJobs(const QueryResult& rows, const FeatureMatrix& matrix,
                                        double threshold, const DbscanClusterer& clusterer) const {
  constexpr int kConfirmedJob = 1;
  // Training row i is matrix row i + 1; a matrix without such a row has nothing
  // to compare.
  const std::size_t comparable = matrix.empty() ? 0 : std::min(rows.size(), matrix.size() - 1);
  for (std::size_t i = 0; i < comparable; ++i) {
    if (rows[i].asInt("USER_IDENTIFIED_CLUSTER") != kConfirmedJob) continue;
    if (clusterer.euclideanDistance(matrix[0], matrix[i + 1]) <= threshold) return false;
  }
  return true;
}

}  // namespace sfad
