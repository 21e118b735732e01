// The stored anomalies (ANOMALY_DATA with its details document, ANOMALY_PER_FEATURE_DATA):
// storing a judged job's anomaly, and the reads of the detect and anomalies commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detection/DbscanClusterer.h"
#include "detection/Deviations.h"
#include "detection/TrainingFeatures.h"
#include "storage/ResultRow.h"
#include "storage/SQLiteDatabase.h"
#include "storage/Statement.h"
#include "storage/StatementCache.h"

namespace sfad {

class AnomalyStore {
 public:
  explicit AnomalyStore(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);

  // Stores the anomaly of the row (id JOB_ID + "_" + BACKUP_TIME, not yet handed out) with
  // its details document and one row per anomalous feature; an anomaly already stored
  // under that id is kept.
  void store(const Quorvan::Stowfleet::UsageReporting::ResultRow& row, const NearestCluster& score,
             TrainingMode mode, const AnomalousFeatures& features);

  // The details document of an anomaly, as one line of JSON.
  static std::string detailsDocument(const Quorvan::Stowfleet::UsageReporting::ResultRow& row,
                                     const AnomalousFeatures& features, TrainingMode mode,
                                     const std::string& anomalyId, const NearestCluster& score,
                                     std::int64_t detectionTime);

  // Appends the DETECTION_KEY (the queued job's UNIQUE_KEY) of a stored anomaly, if any.
  void detectionKeyOf(const std::string& anomalyId,
                      Quorvan::Stowfleet::UsageReporting::QueryResult& rows);

  // The details (ANOMALY_DETAILS) of every anomaly not yet handed out, in the order SQLite
  // returns them.
  Quorvan::Stowfleet::UsageReporting::QueryResult detailsNotHandedOut();
  // Marks every anomaly handed out.
  void markHandedOut();

  // The details of the anomalies whose backup time (from the anomaly id) lies within the
  // bounds, both included.
  Quorvan::Stowfleet::UsageReporting::QueryResult detailsInBackupTimeRange(int minimum,
                                                                           int maximum);

  // The ids of the client's anomalies detected within the window, bounds included.
  std::vector<std::string> idsOfClient(const std::string& client, int startTime, int endTime);

  // Deletes the anomalies detected before the cut-off (their per-feature rows stay until
  // purgeOrphanFeatureRows).
  void purgeDetectedBefore(int cutoff);
  // Deletes the per-feature rows of every anomaly that no longer exists.
  void purgeOrphanFeatureRows();

 private:
  void storeFeatureRows(const std::string& anomalyId, const AnomalousFeatures& features);

  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  // The per-anomaly statements, prepared once per run.
  Quorvan::Stowfleet::UsageReporting::StatementCache statements_{database_.handle()};
};

// The anomalies of one job id after another: the statement is prepared once, at
// construction, and run again for each id.
class JobAnomalyLookup {
 public:
  explicit JobAnomalyLookup(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);

  // The details of the anomalies whose id begins with the job id and "_".
  Quorvan::Stowfleet::UsageReporting::QueryResult detailsOfJob(const std::string& jobId);

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  Quorvan::Stowfleet::UsageReporting::Statement statement_;
};

}  // namespace sfad
