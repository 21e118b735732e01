// Model calibration: the neighbourhood radius of each job group, searched on its
// training set, stored in DBSCAN_MODEL_PARAMS and renewed when it ages out.
#include "detection/ModelStore.h"

#include <cstdint>

#include "detection/CalibrationRadius.h"
#include "detection/DiagnosticLog.h"
#include "detection/FeatureMath.h"
#include "detection/GroupFields.h"
#include "platform/Platform.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

namespace {

constexpr const char* kSelectModelSql =
    "SELECT EPS, CAPTURE_DATE FROM DBSCAN_MODEL_PARAMS  WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ?   AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND APP_TYPE = ? AND "
    "DESTINATION_STORAGE_NAME = ? AND ASSET_ID = ?";

constexpr const char* kStoreModelSql =
    "INSERT OR REPLACE INTO DBSCAN_MODEL_PARAMS  VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ? ); ";

constexpr const char* kDeleteModelSql =
    "DELETE FROM DBSCAN_MODEL_PARAMS  WHERE CLIENT = ? AND POLICY = ? AND POLICY_TYPE = ?   "
    "AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND APP_TYPE = ? AND "
    "DESTINATION_STORAGE_NAME = ? AND ASSET_ID = ?";

constexpr int kModelAgeLimit = 1209600;  // 14 days in seconds

}  // namespace

ModelStore::ModelStore(SQLiteDatabase& database, int minPts)
    : database_(database), minPts_(minPts) {}

void ModelStore::parameters(const ResultRow& job, QueryResult& rows) {
  const StatementCache::Use use = statements_.use(kSelectModelSql);
  Statement& statement = use.statement();
  bindFields(statement, job, kModelKeyFields);
  database_.query(statement, rows);
}

bool ModelStore::isCalibrationDue(const ResultRow& job) {
  QueryResult rows;
  parameters(job, rows);
  if (rows.empty()) return true;
  const int now = platform::currentTime32();
  const int captured = rows.front().asInt("CAPTURE_DATE");
  // The difference of the two 32-bit times, taken without overflow.
  return static_cast<std::int64_t>(now) - captured > kModelAgeLimit;
}

void ModelStore::calibrate(const ResultRow& job, const TrainingRows& rows, TrainingMode mode) {
  // Calibration always uses every feature of the mode, whatever the configuration disables.
  FeatureMatrix matrix;
  buildFeatureVectors(rows, matrix, mode, {});
  normalizeFeatures(matrix);
  const double eps = calibrationRadius(matrix, minPts_);

  logMessage(kLogProgress, kDetectionLogCategory,
             "Calibrated model parameters for client - %s , policy - %s, policy type - %s, "
             "schedule name - %s",
             job.text("CLIENT").c_str(), job.text("POLICY").c_str(),
             job.text("POLICY_TYPE").c_str(), job.text("SCHEDULE_NAME").c_str());

  const StatementCache::Use use = statements_.use(kStoreModelSql);
  Statement& statement = use.statement();
  bindFields(statement, job,
             {"CLIENT", "POLICY", "POLICY_TYPE", "SCHEDULE_TYPE", "SCHEDULE_NAME", "APP_TYPE"});
  statement.bindDouble(7, eps);
  statement.bindInt(8, platform::currentTime32());
  bindFields(statement, job, {"DESTINATION_STORAGE_NAME", "ASSET_ID"}, 9);
  database_.executeStatement(statement);
}

void ModelStore::remove(const ResultRow& job) {
  const StatementCache::Use use = statements_.use(kDeleteModelSql);
  Statement& statement = use.statement();
  bindFields(statement, job, kModelKeyFields);
  database_.executeStatement(statement);
}

}  // namespace sfad
