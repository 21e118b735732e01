// purge_database: deletes anomalies, feedback, unmarked history and pending
// jobs older than the given number of months.
#include "cli/ActionHandlers.h"
#include "cli/PurgeCutoff.h"
#include "cli/WrappedDatabaseWork.h"
#include "platform/Platform.h"
#include "storage/Statement.h"

namespace sfad {

namespace {

// Run in this order, each committing by itself; history rows marked by feedback
// stay.
const char* const kPurgeStatements[] = {
    "DELETE FROM ANOMALY_DATA WHERE DETECTION_TIME < ? ;",
    "DELETE FROM ANOMALY_DATA_FEEDBACK WHERE CAPTURE_TIME < ? ;",
    "DELETE FROM HIST_DATA WHERE BACKUP_TIME < ? AND USER_IDENTIFIED_CLUSTER = "
    "-1;",
    "DELETE FROM DATA_TO_PROCESS WHERE BACKUP_TIME < ? ;",
};

}  // namespace

void purgeDatabaseAction(const ActionArguments& arguments, SQLiteDatabase& database) {
  const int months = arguments.number("-purge_interval_in_months");
  const int cutoff = purgeCutoffTime(platform::currentTime32(), months);
  runWrapped("Failed to purge database. ", "Unknown error occurred during purging database.", [&] {
    for (const char* sql : kPurgeStatements) {
      Quorvan::Stowfleet::UsageReporting::Statement statement(database.handle(), sql);
      statement.bindInt(1, cutoff);
      database.executeStatement(statement);
    }
  });
}

}  // namespace sfad
