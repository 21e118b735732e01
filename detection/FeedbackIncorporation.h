// Feedback incorporation: stored user feedback (ANOMALY_DATA_FEEDBACK) moves anomalous
// jobs into the training history with the feedback as their mark.
#pragma once

#include "detection/AnomalyStore.h"
#include "detection/FeedbackStore.h"
#include "detection/JobQueue.h"
#include "storage/SQLiteDatabase.h"

namespace sfad {

class FeedbackIncorporation {
 public:
  FeedbackIncorporation(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database,
                        AnomalyStore& anomalies, JobQueue& queue);

  // Retires every job held for an anomaly that has feedback 1 (confirmed) or 2 (silences
  // the deduplication rule), marked with it, and consumes that feedback. A failure to read
  // the feedback is logged and ends the step; any later failure is raised.
  void incorporate();

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  FeedbackStore feedbackStore_;
  AnomalyStore& anomalies_;
  JobQueue& queue_;
};

}  // namespace sfad
