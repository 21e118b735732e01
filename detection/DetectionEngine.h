// The detection engine of one run: the borrowed connection, the run's constants, and the
// concepts the run works with (the job queue, the history reads, the model store, the
// anomaly store, the deduplication rule and feedback incorporation).
#pragma once

#include <string>

#include "detection/AnomalyStore.h"
#include "detection/DedupRule.h"
#include "detection/FeedbackIncorporation.h"
#include "detection/JobHistory.h"
#include "detection/JobQueue.h"
#include "detection/ModelStore.h"
#include "storage/SQLiteDatabase.h"

namespace sfad {

// What the run does with a failure its steps cannot settle: raise it to the caller once
// logged, or end the run (or leave the record pending) and report nothing.
enum class FailurePolicy { kPropagate, kContain };

class DetectionEngine {
 public:
  // Seeds DEDUP_THRESHOLD from the built-in table.
  DetectionEngine(std::string configPath,
                  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database,
                  double defaultRadius = 2.5, double minNeighbourhood = 3.0,
                  FailurePolicy failures = FailurePolicy::kPropagate);
  DetectionEngine(const DetectionEngine&) = delete;
  DetectionEngine& operator=(const DetectionEngine&) = delete;

  const std::string& configPath() const { return configPath_; }
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database() const { return database_; }
  double defaultRadius() const { return defaultRadius_; }
  int minPts() const { return static_cast<int>(minNeighbourhood_); }
  bool propagateErrors() const { return failures_ == FailurePolicy::kPropagate; }

  JobQueue& queue() { return queue_; }
  JobHistory& history() { return history_; }
  ModelStore& models() { return models_; }
  AnomalyStore& anomalies() { return anomalies_; }
  DedupRule& dedupRule() { return dedupRule_; }
  FeedbackIncorporation& feedback() { return feedback_; }

 private:
  const std::string configPath_;
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  const double defaultRadius_;
  const double minNeighbourhood_;
  const FailurePolicy failures_;

  JobHistory history_;
  JobQueue queue_;
  ModelStore models_;
  AnomalyStore anomalies_;
  DedupRule dedupRule_;
  FeedbackIncorporation feedback_;
};

}  // namespace sfad
