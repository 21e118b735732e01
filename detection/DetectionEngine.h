// The detection engine: the borrowed connection, the feature tables, and the
// operations on training sets, models, anomaly records, the deduplication rule and
// feedback that the detection run uses.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "detection/DbscanClusterer.h"
#include "detection/FeatureVector.h"
#include "storage/ResultRow.h"
#include "storage/SQLiteDatabase.h"
#include "storage/StatementCache.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

// Training modes.
constexpr int kReducedTraining = 0;  // NUM_FILES and IMAGE_SIZE only
constexpr int kFullTraining = 1;     // all five features, the job's own storage

// The features of a training mode in the engine's order: NUM_FILES, IMAGE_SIZE and, in
// full mode, KB_TRANSFERRED, TOTAL_TIME, DEDUP_RATE.
const std::vector<std::string>& trainingFeatures(int mode);

// One feature outside its usual range.
struct FeatureStats {
  double currentValue = 0.0;
  double minValue = 0.0;
  double maxValue = 0.0;
  std::string displayName;
  std::string unit;
};

// Feature name (or DEDUP_RATE_EXT) to its stats, ordered by name.
using AnomalousFeatures = std::map<std::string, FeatureStats>;

// Per feature, the values of the training jobs of the nearest cluster.
using ClusterValues = std::map<std::string, std::vector<double>>;

struct DedupScore {
  double usualMax = 0.0;
  double usualMin = 0.0;
  double score = 0.0;
};

class DetectionEngine {
 public:
  // Fills the feature tables and seeds DEDUP_THRESHOLD from the built-in table.
  DetectionEngine(std::string configPath, SQLiteDatabase& database, double defaultRadius = 2.5,
                  double minNeighbourhood = 3.0, bool propagateErrors = true);

  const std::string& configPath() const { return configPath_; }
  SQLiteDatabase& database() const { return database_; }
  double defaultRadius() const { return defaultRadius_; }
  int minPts() const { return static_cast<int>(minNeighbourhood_); }
  bool propagateErrors() const { return propagateErrors_; }
  // Statements prepared once per engine, also for the run's own per-record statements.
  Quorvan::Stowfleet::UsageReporting::StatementCache& statements() { return statements_; }
  // IMAGE_SIZE, NUM_FILES, KB_TRANSFERRED, TOTAL_TIME, DEDUP_RATE.
  const std::vector<std::string>& featureList() const { return featureList_; }
  const std::string& displayName(const std::string& feature) const;
  const std::string& unit(const std::string& feature) const;

  // Training sets.
  bool hasStreamHistory(const ResultRow& job);
  int getRequiredObservations(const ResultRow& job, int minObservations, int& maxStreamNumber);
  int getTrainingSet(const ResultRow& job, QueryResult& rows, int required, int limit);
  void appendFeature(const std::set<std::string>& disabled, const std::string& name,
                     const ResultRow& row, FeatureVector& vector) const;
  void buildFeatureVectors(const QueryResult& rows, FeatureMatrix& matrix, int mode,
                           const std::set<std::string>& disabled) const;
  int getLastBackupTime(const ResultRow& job, int mode);
  bool isFarFromConfirmedJobs(const ResultRow& job, const QueryResult& rows,
                              const FeatureMatrix& matrix, double threshold,
                              const DbscanClusterer& clusterer) const;

  // Calibration.
  bool isCalibrationDue(const ResultRow& job);
  void calibrateModel(const ResultRow& job, const QueryResult& rows, int mode);
  void getModelParams(const ResultRow& job, QueryResult& rows);
  void deleteModelParams(const ResultRow& job);

  // Anomaly records.
  void storeAnomaly(const ResultRow& row, const NearestCluster& score, int mode,
                    const AnomalousFeatures& features);
  void storeDedupAnomaly(const ResultRow& row, const NearestCluster& score,
                         const AnomalousFeatures& features);
  std::string buildAnomalyDetails(const ResultRow& row, const AnomalousFeatures& features,
                                  int mode, const std::string& anomalyId,
                                  const NearestCluster& score,
                                  std::int64_t detectionTime) const;
  void storeFeatureRows(const std::string& anomalyId, const AnomalousFeatures& features);
  ClusterValues collectClusterValues(int nearestLabel, const QueryResult& rows,
                                     const std::vector<int>& labels, int mode) const;
  static std::pair<double, double> usualRange(const ClusterValues& values,
                                              const std::string& feature);

  // Deduplication-ratio rule.
  bool applyDedupRule(const ResultRow& job);
  double getDedupThreshold(const std::string& workload);
  bool hasDedupFeedback(const ResultRow& job);
  DedupScore getDedupScore(const ResultRow& job);
  void seedDedupThresholds(const std::map<std::string, double>& table);

  // Feedback.
  void incorporateFeedback();
  void moveToHistory(const ResultRow& job);

 private:
  void setUpFeatureTables();

  const std::string configPath_;
  SQLiteDatabase& database_;
  const double defaultRadius_;
  const double minNeighbourhood_;
  const bool propagateErrors_;
  std::vector<std::string> featureList_;
  std::map<std::string, std::string> displayNames_;
  std::map<std::string, std::string> units_;
  // The operations' statements, prepared once per engine since they run once per job.
  Quorvan::Stowfleet::UsageReporting::StatementCache statements_{database_.handle()};
};

}  // namespace sfad
