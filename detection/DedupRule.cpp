// The deduplication-ratio rule for jobs without enough history: a full backup
// whose deduplication rate is below its workload's minimum is reported, scored
// against the rates of its storage peers.
#include <cmath>

#include "detection/DetectionEngine.h"
#include "detection/DiagnosticLog.h"
#include "detection/FeatureMath.h"
#include "detection/GroupFields.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::Statement;

namespace {

constexpr const char* kThresholdSql = "SELECT MIN_DEDUP  FROM DEDUP_THRESHOLD WHERE WORKLOAD = ? ";
constexpr const char* kPeerRatesSql =
    "SELECT DEDUP_RATE FROM HIST_DATA  WHERE POLICY_TYPE = ? AND  SCHEDULE_TYPE = ? AND  "
    "DESTINATION_STORAGE_NAME = ?";
constexpr const char* kDedupFeedbackSql =
    "SELECT COUNT(*)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY            "
    "       = ? AND  POLICY_TYPE              = ? AND  SCHEDULE_TYPE            = ? AND  "
    "SCHEDULE_NAME            = ? AND  USER_IDENTIFIED_CLUSTER  = ? ";
constexpr const char* kSeedThresholdSql = "INSERT OR IGNORE INTO DEDUP_THRESHOLD VALUES (?, ? )";

constexpr const char* kFullSchedule = "FULL";
constexpr double kUnknown = -1.0;
constexpr int kDedupFeedback = 2;
// Peers needed for a score; fixed, independent of the configured minimum.
constexpr std::size_t kMinimumPeers = 30;
constexpr double kNoValue = 2147483647.0;

}  // namespace

bool DetectionEngine::applyDedupRule(const ResultRow& job) {
  if (job.text("SCHEDULE_TYPE") != kFullSchedule) return false;
  const double threshold = getDedupThreshold(job.text("POLICY_TYPE"));
  if (threshold == kUnknown) return false;
  const double rate = job.asDouble("DEDUP_RATE");
  if (rate == kUnknown) return false;
  if (threshold <= rate) return false;
  if (hasDedupFeedback(job)) return false;

  const DedupScore score = getDedupScore(job);
  AnomalousFeatures features;
  FeatureStats& stats = features["DEDUP_RATE_EXT"];
  stats.currentValue = rate;
  stats.minValue = score.usualMin;
  stats.maxValue = score.usualMax;
  stats.displayName = "Deduplication ratio";
  stats.unit = "%";
  NearestCluster nearest;
  nearest.label = -1;
  nearest.distance = score.score;
  storeDedupAnomaly(job, nearest, features);
  return true;
}

double DetectionEngine::getDedupThreshold(const std::string& workload) {
  try {
    Statement statement(database_.handle(), kThresholdSql);
    statement.bindText(1, workload);
    QueryResult rows;
    database_.query(statement, rows);
    return rows.empty() ? kUnknown : rows.front().asDouble("MIN_DEDUP");
  } catch (const sqlite_exception& e) {
    logMessage(kLogFailure, kDetectionLogCategory, "Failed to get deduplication threshold. %s %s",
               e.what(), e.sqliteMessage().c_str());
  } catch (const std::exception& e) {
    logMessage(kLogFailure, kDetectionLogCategory, "Failed to get deduplication threshold. %s",
               e.what());
  }
  return kUnknown;
}

bool DetectionEngine::hasDedupFeedback(const ResultRow& job) {
  Statement statement(database_.handle(), kDedupFeedbackSql);
  const int next = bindFields(
      statement, job, {"CLIENT", "POLICY", "POLICY_TYPE", "SCHEDULE_TYPE", "SCHEDULE_NAME"});
  statement.bindInt(next, kDedupFeedback);
  QueryResult rows;
  database_.query(statement, rows);
  return !rows.empty() && rows.front().asInt("COUNT(*)") != 0;
}

DedupScore DetectionEngine::getDedupScore(const ResultRow& job) {
  try {
    const double rate = job.asDouble("DEDUP_RATE");
    if (rate == kUnknown) return {};
    Statement statement(database_.handle(), kPeerRatesSql);
    bindFields(statement, job, {"POLICY_TYPE", "SCHEDULE_TYPE", "DESTINATION_STORAGE_NAME"});
    QueryResult peers;
    database_.query(statement, peers);
    if (peers.size() < kMinimumPeers) return {};

    // One column: the job's rate first, then every peer's; the range is the
    // peers' alone.
    DedupScore result;
    result.usualMax = kUnknown;
    result.usualMin = kNoValue;
    FeatureMatrix matrix{{rate}};
    for (const ResultRow& peer : peers) {
      const double peerRate = peer.asDouble("DEDUP_RATE");
      if (peerRate > result.usualMax) result.usualMax = peerRate;
      if (peerRate < result.usualMin) result.usualMin = peerRate;
      matrix.push_back({peerRate});
    }
    normalizeFeatures(matrix);
    result.score = kNoValue;
    for (std::size_t i = 1; i < matrix.size(); ++i) {
      const double distance = std::fabs(matrix[i][0] - matrix[0][0]);
      if (distance < result.score) result.score = distance;
    }
    return result;
  } catch (const sqlite_exception& e) {
    logMessage(kLogFailure, kDetectionLogCategory, "Failed to get anomaly score. %s %s", e.what(),
               e.sqliteMessage().c_str());
  } catch (const std::exception& e) {
    logMessage(kLogFailure, kDetectionLogCategory, "Failed to get anomaly score. %s", e.what());
  }
  return {};
}

void DetectionEngine::seedDedupThresholds(const std::map<std::string, double>& table) {
  try {
    for (const auto& [workload, minimum] : table) {
      logMessage(kLogProgress, kDetectionLogCategory, "Setting threshold value %s = %f",
                 workload.c_str(), minimum);
      Statement statement(database_.handle(), kSeedThresholdSql);
      statement.bindText(1, workload);
      statement.bindDouble(2, minimum);
      database_.executeStatement(statement);
    }
  } catch (const sqlite_exception& e) {
    logMessage(kLogFailure, kDetectionLogCategory, "Failed to set deduplication threshold. %s %s",
               e.what(), e.sqliteMessage().c_str());
  } catch (const std::exception& e) {
    logMessage(kLogFailure, kDetectionLogCategory, "Failed to set deduplication threshold. %s",
               e.what());
  }
}

}  // namespace sfad
