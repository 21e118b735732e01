// The deduplication-ratio rule for jobs without enough history: a full backup
// whose deduplication rate is below its workload's minimum is reported, scored
// against the rates of its storage peers.
#include "detection/DedupRule.h"

#include <cmath>

#include "detection/DiagnosticLog.h"
#include "detection/FeatureMath.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;

namespace {

constexpr const char* kThresholdSql = "SELECT MIN_DEDUP  FROM DEDUP_THRESHOLD WHERE WORKLOAD = ? ";
constexpr const char* kSeedThresholdSql = "INSERT OR IGNORE INTO DEDUP_THRESHOLD VALUES (?, ? )";

constexpr const char* kFullSchedule = "FULL";
constexpr double kUnknown = -1.0;
// Peers needed for a score; fixed, independent of the configured minimum.
constexpr std::size_t kMinimumPeers = 30;
constexpr double kNoValue = 2147483647.0;

const FailureLogFormat kThresholdFailure = {
    kLogFailure, "Failed to get deduplication threshold. %s %s", kLogFailure,
    "Failed to get deduplication threshold. %s"};
const FailureLogFormat kScoreFailure = {kLogFailure, "Failed to get anomaly score. %s %s",
                                        kLogFailure, "Failed to get anomaly score. %s"};
const FailureLogFormat kSeedFailure = {kLogFailure, "Failed to set deduplication threshold. %s %s",
                                       kLogFailure, "Failed to set deduplication threshold. %s"};

}  // namespace

DedupRule::DedupRule(SQLiteDatabase& database, JobHistory& history, AnomalyStore& anomalies)
    : database_(database), history_(history), anomalies_(anomalies) {}

DedupVerdict DedupRule::judge(const ResultRow& job) {
  DedupVerdict verdict;
  if (job.text("SCHEDULE_TYPE") != kFullSchedule) return verdict;
  verdict.finding = DedupFinding::kNoThreshold;
  verdict.threshold = threshold(job.text("POLICY_TYPE"));
  if (verdict.threshold == kUnknown) return verdict;
  verdict.finding = DedupFinding::kNoRate;
  verdict.rate = job.asDouble("DEDUP_RATE");
  if (verdict.rate == kUnknown) return verdict;
  verdict.finding = DedupFinding::kNotBelow;
  if (verdict.threshold <= verdict.rate) return verdict;
  verdict.finding = DedupFinding::kSilenced;
  if (history_.hasDedupFeedback(job)) return verdict;

  verdict.finding = DedupFinding::kReported;
  verdict.score = score(job);
  AnomalousFeatures features;
  FeatureStats& stats = features["DEDUP_RATE_EXT"];
  stats.currentValue = verdict.rate;
  stats.minValue = verdict.score.usualMin;
  stats.maxValue = verdict.score.usualMax;
  stats.displayName = "Deduplication ratio";
  stats.unit = "%";
  NearestCluster nearest;
  nearest.label = -1;
  nearest.distance = verdict.score.score;
  anomalies_.store(job, nearest, TrainingMode::kFull, features);
  return verdict;
}

double DedupRule::threshold(const std::string& workload) {
  try {
    Statement statement(database_.handle(), kThresholdSql);
    statement.bindText(1, workload);
    QueryResult rows;
    database_.query(statement, rows);
    return rows.empty() ? kUnknown : rows.front().asDouble("MIN_DEDUP");
  } catch (const std::exception& e) {
    logCaughtFailure(kThresholdFailure, e);
  }
  return kUnknown;
}

DedupScore DedupRule::score(const ResultRow& job) {
  try {
    const double rate = job.asDouble("DEDUP_RATE");
    if (rate == kUnknown) return {};
    const std::vector<double>& peers = history_.peerDedupRates(job);
    if (peers.size() < kMinimumPeers) return {};

    // One column: the job's rate first, then every peer's, normalised together (the
    // arithmetic of normalizeFeatures in its order, without a copy of the column); the
    // range is the peers' alone.
    DedupScore result;
    result.usualMax = kUnknown;
    result.usualMin = kNoValue;
    const double count = static_cast<double>(peers.size() + 1);
    double sum = 0.0;
    sum += rate;
    for (const double peerRate : peers) {
      if (peerRate > result.usualMax) result.usualMax = peerRate;
      if (peerRate < result.usualMin) result.usualMin = peerRate;
      sum += peerRate;
    }
    const double average = sum / count;
    double squares = 0.0;
    squares += (rate - average) * (rate - average);
    for (const double peerRate : peers) squares += (peerRate - average) * (peerRate - average);
    const double deviation = std::sqrt(squares / count);
    const auto normalised = [average, deviation](double value) {
      return deviation == 0.0 ? 0.0 : (value - average) / deviation;
    };
    const double jobValue = normalised(rate);
    result.score = kNoValue;
    for (const double peerRate : peers) {
      const double distance = std::fabs(normalised(peerRate) - jobValue);
      if (distance < result.score) result.score = distance;
    }
    return result;
  } catch (const std::exception& e) {
    logCaughtFailure(kScoreFailure, e);
  }
  return {};
}

void DedupRule::seedThresholds(const std::map<std::string, double>& table) {
  try {
    for (const auto& [workload, minimum] : table) {
      logMessage(kLogProgress, kDetectionLogCategory, "Setting threshold value %s = %f",
                 workload.c_str(), minimum);
      Statement statement(database_.handle(), kSeedThresholdSql);
      statement.bindText(1, workload);
      statement.bindDouble(2, minimum);
      database_.executeStatement(statement);
    }
  } catch (const std::exception& e) {
    logCaughtFailure(kSeedFailure, e);
  }
}

}  // namespace sfad
