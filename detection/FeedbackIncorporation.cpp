// Feedback incorporation: stored user feedback moves anomalous jobs into the
// training history with the feedback as their mark.
#include "detection/FeedbackIncorporation.h"

#include <string>

#include "detection/DiagnosticLog.h"
#include "storage/Savepoint.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::Savepoint;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

namespace {

const FailureLogFormat kFeedbackReadFailure = {
    kLogProgress, "Error while getting anomaly feedback data. %s  %s", kLogFailure,
    "Error while getting anomaly feedback data %s."};

// Feedback that confirms a job (1) or silences the deduplication rule for its
// group (2).
bool isIncorporated(int feedback) { return feedback == 1 || feedback == 2; }

}  // namespace

FeedbackIncorporation::FeedbackIncorporation(SQLiteDatabase& database, AnomalyStore& anomalies,
                                             JobQueue& queue)
    : database_(database), feedbackStore_(database), anomalies_(anomalies), queue_(queue) {}

void FeedbackIncorporation::incorporate() {
  QueryResult feedbackRows;
  try {
    feedbackStore_.all(feedbackRows);
  } catch (const std::exception& e) {
    logCaughtFailure(kFeedbackReadFailure, e);
    return;
  }

  for (const ResultRow& feedbackRow : feedbackRows) {
    const std::string& anomalyId = feedbackRow.text("ANOMALY_UNIQUE_ID");
    const int feedback = feedbackRow.asInt("FEEDBACK");
    if (!isIncorporated(feedback)) continue;

    QueryResult anomalies;
    anomalies_.detectionKeyOf(anomalyId, anomalies);
    if (anomalies.empty()) continue;

    QueryResult jobs;
    queue_.queuedRecord(anomalies.front().text("DETECTION_KEY"), jobs);
    if (jobs.empty()) continue;

    ResultRow job = jobs.front();
    job.set("USER_IDENTIFIED_CLUSTER", std::to_string(feedback));
    logMessage(kLogProgress, kDetectionLogCategory,
               "Updating user feedback for training for client = %s, policy = "
               "%s, policy_type = "
               "%s, schedule_name = %s & app_type = %s",
               job.text("CLIENT").c_str(), job.text("POLICY").c_str(),
               job.text("POLICY_TYPE").c_str(), job.text("SCHEDULE_NAME").c_str(),
               job.text("APP_TYPE").c_str());

    // The move and the removal of its feedback row succeed or fail together, so
    // a failure never leaves the job in both tables or its feedback consumed
    // without effect.
    Savepoint unit(database_, "incorporate_feedback");
    queue_.retire(job);
    feedbackStore_.consume(anomalyId);
    unit.release();
  }
}

}  // namespace sfad
