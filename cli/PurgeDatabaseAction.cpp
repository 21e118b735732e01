// purge_database: deletes anomalies with their per-feature rows, feedback,
// unmarked history and pending jobs older than the given number of months.
#include "cli/ActionHandlers.h"
#include "cli/PurgeCutoff.h"
#include "cli/WrappedDatabaseWork.h"
#include "platform/Platform.h"
#include "storage/Statement.h"
#include "storage/Transaction.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::Transaction;

// Run in this order, each with the cut-off bound; history rows marked by
// feedback stay.
const char* const kPurgeStatements[] = {
    "DELETE FROM ANOMALY_DATA WHERE DETECTION_TIME < ? ;",
    "DELETE FROM ANOMALY_DATA_FEEDBACK WHERE CAPTURE_TIME < ? ;",
    "DELETE FROM HIST_DATA WHERE BACKUP_TIME < ? AND USER_IDENTIFIED_CLUSTER = "
    "-1;",
    "DELETE FROM DATA_TO_PROCESS WHERE BACKUP_TIME < ? ;",
};

// The per-feature rows of every anomaly that no longer exists: those purged
// just now, and those left behind by purges that did not remove them yet. An
// anomaly and its per-feature rows are stored in one transaction, so no other
// request can show per-feature rows whose anomaly is still to come.
const char kPurgeOrphanFeatureRows[] =
    "DELETE FROM ANOMALY_PER_FEATURE_DATA WHERE ANOMALY_ID NOT IN "
    "(SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA) ;";

void runPurge(SQLiteDatabase& database, int cutoff) {
  for (const char* sql : kPurgeStatements) {
    Statement statement(database.handle(), sql);
    statement.bindInt(1, cutoff);
    database.executeStatement(statement);
  }
  Statement orphans(database.handle(), kPurgeOrphanFeatureRows);
  database.executeStatement(orphans);
}

}  // namespace

// One immediate transaction: a purge that fails (a full disk, a damaged table)
// deletes nothing, and one that succeeds never leaves per-feature rows behind.
void purgeDatabaseAction(const ActionArguments& arguments, SQLiteDatabase& database) {
  const int months = arguments.number("-purge_interval_in_months");
  const int cutoff = purgeCutoffTime(platform::currentTime32(), months);
  runWrapped("Failed to purge database. ", "Unknown error occurred during purging database.", [&] {
    Transaction purge(database, Transaction::Kind::Immediate);
    purge.begin();
    runPurge(database, cutoff);
    purge.end();
  });
}

}  // namespace sfad
