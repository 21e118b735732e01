// userfeedback: stores a feedback value for the anomalies named by one id, an
// ids file, or a client and detection-time window.
#include <string>
#include <vector>

#include "cli/ActionHandlers.h"
#include "cli/UserFeedback.h"
#include "cli/WrappedDatabaseWork.h"
#include "detection/AnomalyStore.h"
#include "detection/FeedbackStore.h"
#include "platform/Platform.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

// The ids named by the first form given; none when no form is given. An ids
// file is read whole, so a fault in it is found before anything is written.
std::vector<std::string> anomalyIdsOfRequest(const ActionArguments& arguments,
                                             SQLiteDatabase& database) {
  std::vector<std::string> ids;
  if (arguments.has("-anomaly_id")) {
    ids.push_back(arguments.value("-anomaly_id"));
  } else if (arguments.has("-anomaly_ids")) {
    readAnomalyIds(arguments.value("-anomaly_ids"), ids);
  } else if (arguments.has("-client")) {
    ids = AnomalyStore(database).idsOfClient(
        arguments.value("-client"), arguments.number("-start_time"), arguments.number("-end_time"));
  }
  return ids;
}

}  // namespace

// Each row commits by itself: rows stored before a failure stay stored.
void userFeedbackAction(const ActionArguments& arguments, SQLiteDatabase& database) {
  const std::vector<std::string> ids = anomalyIdsOfRequest(arguments, database);
  const int feedback = arguments.number("-feedback");
  const int captureTime = platform::currentTime32();
  FeedbackStore feedbackStore(database);
  for (const std::string& id : ids) {
    runWrapped("Failed to insert user feedback. ",
               "Unknown error occurred inserting user feedback.",
               [&] { feedbackStore.record(id, feedback, captureTime); });
  }
}

}  // namespace sfad
