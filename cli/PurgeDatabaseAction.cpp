// purge_database: deletes anomalies with their per-feature rows, feedback,
// unmarked history and pending jobs older than the given number of months.
#include "cli/ActionHandlers.h"
#include "cli/PurgeCutoff.h"
#include "cli/WrappedDatabaseWork.h"
#include "detection/AnomalyStore.h"
#include "detection/FeedbackStore.h"
#include "detection/JobHistory.h"
#include "detection/JobQueue.h"
#include "intake/JobRecord.h"
#include "platform/Platform.h"
#include "storage/Transaction.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Transaction;

// Each table's owner deletes its rows older than the cut-off, in this order; history
// rows marked by feedback stay. The per-feature rows of anomalies that no longer exist
// go last.
void runPurge(SQLiteDatabase& database, int cutoff) {
  AnomalyStore anomalies(database);
  FeedbackStore feedback(database);
  JobHistory history(database);
  JobQueue queue(database, history);
  anomalies.purgeDetectedBefore(cutoff);
  feedback.purgeCapturedBefore(cutoff);
  purgeUnmarkedHistory(database, cutoff);
  queue.purgeBefore(cutoff);
  anomalies.purgeOrphanFeatureRows();
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
