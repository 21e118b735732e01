// The stored models (DBSCAN_MODEL_PARAMS): the neighbourhood radius of each job group,
// searched on its training set, and renewed when it ages out or is dropped.
#pragma once

#include "detection/TrainingFeatures.h"
#include "storage/ResultRow.h"
#include "storage/SQLiteDatabase.h"
#include "storage/StatementCache.h"

namespace sfad {

class ModelStore {
 public:
  // minPts: the neighbourhood size of the clustering the radius is searched for.
  ModelStore(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database, int minPts);

  // Appends the model of the job's group (EPS, CAPTURE_DATE), if there is one.
  void parameters(const Quorvan::Stowfleet::UsageReporting::ResultRow& job,
                  Quorvan::Stowfleet::UsageReporting::QueryResult& rows);

  // Whether the group has no model or one older than 14 days.
  bool isCalibrationDue(const Quorvan::Stowfleet::UsageReporting::ResultRow& job);

  // Searches the radius on the training rows (every feature of the mode) and stores it
  // with the current time.
  void calibrate(const Quorvan::Stowfleet::UsageReporting::ResultRow& job, const TrainingRows& rows,
                 TrainingMode mode);

  // Drops the group's model, so that its next job is calibrated anew.
  void remove(const Quorvan::Stowfleet::UsageReporting::ResultRow& job);

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  const int minPts_;
  // The per-job statements, prepared once per run.
  Quorvan::Stowfleet::UsageReporting::StatementCache statements_{database_.handle()};
};

}  // namespace sfad
