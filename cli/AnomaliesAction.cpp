// anomalies: lists stored anomaly details, selected by backup time range or by
// job ids, as one JSON array on standard output.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ActionHandlers.h"
#include "cli/WrappedDatabaseWork.h"
#include "storage/Statement.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::Statement;

const char kByBackupTime[] =
    " SELECT * FROM  (  SELECT ANOMALY_DATA.ANOMALY_DETAILS,  "
    "CAST(substr(ANOMALY_UNIQUE_ID, 1, "
    "instr(ANOMALY_UNIQUE_ID, '_') - 1) AS INTEGER) AS JOB_ID,  "
    "CAST(substr(ANOMALY_UNIQUE_ID, "
    "instr(ANOMALY_UNIQUE_ID, '_') + 1) AS INTEGER) AS BACKUP_DATE  FROM "
    "ANOMALY_DATA WHERE "
    "BACKUP_DATE >= ? AND BACKUP_DATE <= ?  ) ";

// The job id is the text before the first "_" and is compared as text. A stored
// id made of digits only is also compared as a number, as it always was, so
// that "007" or " 7" still finds job 7; an id with any other character matches
// only its own text ("12" never finds job "12abc", "0" never job "abc").
const char kByJobId[] =
    " SELECT * FROM  (  SELECT ANOMALY_DATA.ANOMALY_DETAILS,  "
    "substr(ANOMALY_UNIQUE_ID, 1, "
    "instr(ANOMALY_UNIQUE_ID, '_') - 1) AS JOB_ID,  "
    "CAST(substr(ANOMALY_UNIQUE_ID, "
    "instr(ANOMALY_UNIQUE_ID, '_') + 1) AS INTEGER) AS BACKUP_DATE  FROM "
    "ANOMALY_DATA WHERE "
    "JOB_ID = ?1 OR (JOB_ID <> '' AND JOB_ID NOT GLOB '*[^0-9]*' AND "
    "CAST(JOB_ID AS NUMERIC) = ?1)  ) ";

const char kDatabaseFailure[] = "Failed to get anomalies from database. ";
const char kOtherFailure[] =
    "Unknown error occurred during reading database for anomalies database.";

// Collects the elements of the JSON array, commas between them.
class DetailsArray {
 public:
  void add(const std::string& details) {
    if (!elements_.empty()) elements_ += ",";
    elements_ += details;
  }
  std::string text() const { return "[" + elements_ + "]"; }

 private:
  std::string elements_;
};

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
    Statement statement(database.handle(), kByBackupTime);
    statement.bindInt(1, minimum);
    statement.bindInt(2, maximum);
    QueryResult rows;
    database.query(statement, rows);
    for (const auto& row : rows) array.add(row.text("ANOMALY_DETAILS"));
  });
  return array.text();
}

// The first anomaly of each listed job, in list order; an empty piece of the
// list names no job. A preparation failure is left to the dispatcher.
std::string anomaliesOfJobs(const ActionArguments& arguments, SQLiteDatabase& database) {
  Statement statement(database.handle(), kByJobId);
  DetailsArray array;
  for (const std::string& jobId : splitJobIds(arguments.value("-job_ids"))) {
    if (jobId.empty()) continue;
    runWrapped(kDatabaseFailure, kOtherFailure, [&] {
      statement.bindText(1, jobId);
      QueryResult rows;
      database.query(statement, rows);
      if (!rows.empty()) array.add(rows.front().text("ANOMALY_DETAILS"));
      statement.reset();
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
