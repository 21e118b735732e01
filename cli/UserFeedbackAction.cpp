// userfeedback: stores a feedback value for the anomalies named by one id, an
// ids file, or a client and detection-time window.
#include <string>
#include <vector>

#include "cli/ActionHandlers.h"
#include "cli/UserFeedback.h"
#include "cli/WrappedDatabaseWork.h"
#include "platform/Platform.h"
#include "storage/Statement.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;

const char kInsertFeedback[] = "INSERT OR REPLACE INTO ANOMALY_DATA_FEEDBACK VALUES ( ?, ?, ? ); ";
const char kAnomaliesOfClient[] =
    "SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA  WHERE CLIENT = ? AND "
    "DETECTION_TIME >= ? AND  "
    "DETECTION_TIME <= ? ";

// The anomalies detected for the client within the window, bounds included.
std::vector<std::string> anomaliesOfClient(const ActionArguments& arguments,
                                           SQLiteDatabase& database) {
  Statement statement(database.handle(), kAnomaliesOfClient);
  statement.bindText(1, arguments.value("-client"));
  statement.bindInt(2, arguments.number("-start_time"));
  statement.bindInt(3, arguments.number("-end_time"));
  QueryResult rows;
  database.query(statement, rows);
  std::vector<std::string> ids;
  for (const auto& row : rows) ids.push_back(row.text("ANOMALY_UNIQUE_ID"));
  return ids;
}

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
    ids = anomaliesOfClient(arguments, database);
  }
  return ids;
}

}  // namespace

void insertFeedback(const std::string& anomalyId, int feedback, int captureTime,
                    SQLiteDatabase& database) {
  Statement statement(database.handle(), kInsertFeedback);
  statement.bindText(1, anomalyId);
  statement.bindInt(2, feedback);
  statement.bindInt(3, captureTime);
  database.executeStatement(statement);
}

// Each row commits by itself: rows stored before a failure stay stored.
void userFeedbackAction(const ActionArguments& arguments, SQLiteDatabase& database) {
  const std::vector<std::string> ids = anomalyIdsOfRequest(arguments, database);
  const int feedback = arguments.number("-feedback");
  const int captureTime = platform::currentTime32();
  for (const std::string& id : ids) {
    runWrapped("Failed to insert user feedback. ",
               "Unknown error occurred inserting user feedback.",
               [&] { insertFeedback(id, feedback, captureTime, database); });
  }
}

}  // namespace sfad
