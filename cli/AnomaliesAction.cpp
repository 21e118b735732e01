// anomalies: lists stored anomaly details, selected by backup time range or by
// job ids, as one JSON array on standard output.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ActionHandlers.h"
#include "cli/DetailsArray.h"
#include "cli/WrappedDatabaseWork.h"
#include "detection/AnomalyStore.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

const char kDatabaseFailure[] = "Failed to get anomalies from database. ";
const char kOtherFailure[] =
    "Unknown error occurred during reading database for anomalies database.";

// Splits like a line reader: "1,,2" gives an empty middle token, a trailing
// comma none.
std::vector<std::string> splitJobIds(const std::string& list) {
  std::vector<std::string> tokens;
  std::istringstream stream(list);
  std::string token;
  while (std::getline(stream, token, ',')) tokens.push_back(token);
  return tokens;
}

std::string anomaliesInTimeRange(const ActionArguments& arguments, SQLiteDatabase& database) {
  const int minimum = arguments.number("-min_backup_time");
  const int maximum = arguments.number("-max_backup_time");
  DetailsArray array;
  runWrapped(kDatabaseFailure, kOtherFailure, [&] {
    const QueryResult rows = AnomalyStore(database).detailsInBackupTimeRange(minimum, maximum);
    for (const auto& row : rows) array.add(row.text("ANOMALY_DETAILS"));
  });
  return array.text();
}

// The first anomaly of each listed job, in list order; an empty piece of the
// list names no job. A preparation failure is left to the dispatcher.
std::string anomaliesOfJobs(const ActionArguments& arguments, SQLiteDatabase& database) {
  JobAnomalyLookup lookup(database);
  DetailsArray array;
  for (const std::string& jobId : splitJobIds(arguments.value("-job_ids"))) {
    if (jobId.empty()) continue;
    runWrapped(kDatabaseFailure, kOtherFailure, [&] {
      const QueryResult rows = lookup.detailsOfJob(jobId);
      if (!rows.empty()) array.add(rows.front().text("ANOMALY_DETAILS"));
    });
  }
  return array.text();
}

void writeResult(const std::string& text) {
  std::cout << text << std::flush;
  if (!std::cout) throw action_failure("Failed to write anomalies to standard output.");
}

}  // namespace

void anomaliesAction(const ActionArguments& arguments, SQLiteDatabase& database) {
  if (arguments.has("-min_backup_time")) {
    writeResult(anomaliesInTimeRange(arguments, database));
  } else if (arguments.has("-job_ids")) {
    writeResult(anomaliesOfJobs(arguments, database));
  }
}

}  // namespace sfad
