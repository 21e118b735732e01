// Training-set selection: how much history a job's group needs, which history
// rows train it, their feature vectors, and the checks against the group's
// history.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>

#include "detection/DetectionEngine.h"
#include "detection/DiagnosticLog.h"
#include "detection/GroupFields.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

namespace {

constexpr const char* kStreamCountSql =
    "SELECT COUNT(*)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY            "
    "       = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  STREAM_NUMBER            "
    "= ? ";

constexpr const char* kAssetCountSql =
    "SELECT COUNT(*)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY            "
    "       = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  ASSET_ID                 "
    "= ? ";

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

// The ASSET_ID of jobs without an asset of their own (exact, case-sensitive).
constexpr const char* kNoAsset = "NA";
constexpr int kHistoryMode = 1;

// An aggregate query yields one row; a NULL aggregate reads as 0.
bool firstCountIsNonZero(const QueryResult& rows, const char* column) {
  return !rows.empty() && rows.front().asInt(column) != 0;
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A feature is left out when its lower-cased name is among the disabled names.
bool isDisabled(const std::set<std::string>& disabled, const std::string& feature) {
  return disabled.count(lowerCase(feature)) != 0;
}

}  // namespace

bool DetectionEngine::hasStreamHistory(const ResultRow& job) {
  const StatementCache::Use use = statements_.use(kStreamCountSql);
  Statement& statement = use.statement();
  const int next = bindFields(statement, job, kPolicyFields);
  statement.bindInt(next, job.asInt("STREAM_NUMBER"));
  QueryResult rows;
  database_.query(statement, rows);
  return firstCountIsNonZero(rows, "COUNT(*)");
}

int DetectionEngine::getRequiredObservations(const ResultRow& job, int minObservations,
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

int DetectionEngine::getTrainingSet(const ResultRow& job, QueryResult& rows, int required,
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
  if (static_cast<std::int64_t>(rows.size()) >= required) return kFullTraining;
  rows.clear();
  const StatementCache::Use use = statements_.use(kReducedTrainingSql);
  Statement& statement = use.statement();
  const int next = bindFields(statement, job, kPolicyFields);
  statement.bindText(next, job.text("ASSET_ID"));
  statement.bindInt(next + 1, limit);
  database_.query(statement, rows);
  return kReducedTraining;
}

void DetectionEngine::appendFeature(const std::set<std::string>& disabled, const std::string& name,
                                    const ResultRow& row, FeatureVector& vector) const {
  if (isDisabled(disabled, name)) return;
  vector.push_back(row.asDouble(name));
}

void DetectionEngine::buildFeatureVectors(const QueryResult& rows, FeatureMatrix& matrix, int mode,
                                          const std::set<std::string>& disabled) const {
  // Whether a feature is left out depends on its name only, so it is decided once.
  std::vector<std::string> features;
  for (const std::string& feature : trainingFeatures(mode)) {
    if (!isDisabled(disabled, feature)) features.push_back(feature);
  }
  matrix.reserve(matrix.size() + rows.size());
  for (const ResultRow& row : rows) {
    FeatureVector vector;
    vector.reserve(features.size());
    for (const std::string& feature : features) vector.push_back(row.asDouble(feature));
    matrix.push_back(std::move(vector));
  }
}

int DetectionEngine::getLastBackupTime(const ResultRow& job, int mode) {
  const bool full = mode == kFullTraining;
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

bool DetectionEngine::isFarFromConfirmedJobs(const ResultRow& /*job*/, const QueryResult& rows,
                                             const FeatureMatrix& matrix, double threshold,
                                             const DbscanClusterer& clusterer) const {
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
