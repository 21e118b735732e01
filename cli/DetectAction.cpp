// The detect action: store the data file's jobs, run detection over the queue,
// and hand out every anomaly not handed out before as one JSON array, on
// standard output or in the output file. Reading, marking and writing the
// anomalies is one immediate transaction, committed only once the array was
// written completely, so that each anomaly is handed out exactly once, also
// across concurrent requests. With a log file, the request ends with one summary line
// there.
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <string>

#include "cli/ActionHandlers.h"
#include "cli/DetailsArray.h"
#include "cli/DetectionCliException.h"
#include "config/LogFileSetting.h"
#include "detection/DetectionEngine.h"
#include "detection/DetectionRun.h"
#include "detection/LogFile.h"
#include "intake/DataFile.h"
#include "storage/DatabaseFiles.h"
#include "storage/Transaction.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::namesDatabaseFile;
using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Transaction;
constexpr double kDefaultRadius = 2.5;
constexpr double kMinNeighbourhood = 3.0;

void detectPendingJobs(const std::string& configPath, SQLiteDatabase& database,
                       RunSummary& summary) {
  try {
    DetectionEngine engine(configPath, database, kDefaultRadius, kMinNeighbourhood,
                           FailurePolicy::kPropagate);
    runDetection(engine, summary);
  } catch (const sqlite_exception& error) {
    throw detection_cli_exception(kDetectionError,
                                  "Failed to get anomalies from database. " + error.report());
  } catch (const std::exception& error) {
    throw detection_cli_exception(
        kDetectionError, std::string("Failed to get anomalies from database. ") + error.what());
  } catch (...) {
    throw detection_cli_exception(kDetectionError,
                                  "Unknown error occurred during anomaly detection.");
  }
}

// Opens the transaction and reads the details of every anomaly not yet handed
// out, in the order SQLite returns them.
QueryResult readAnomaliesToHandOut(SQLiteDatabase& database, Transaction& handOut) {
  try {
    handOut.begin();
    return AnomalyStore(database).detailsNotHandedOut();
  } catch (const sqlite_exception& error) {
    throw action_failure(std::string("Failed to get anomalies from database. ") + error.what());
  } catch (...) {
    throw action_failure(
        "Unknown error occurred during reading database for anomalies "
        "databsae.");
  }
}

void markHandedOut(SQLiteDatabase& database) {
  try {
    AnomalyStore(database).markHandedOut();
  } catch (const sqlite_exception& error) {
    throw action_failure(std::string("Failed to update anomaly data in database. ") + error.what());
  } catch (...) {
    throw action_failure("Unknown error occurred during updating anomaly data in databsae.");
  }
}

void commitHandOut(Transaction& handOut) {
  try {
    handOut.end();
  } catch (const sqlite_exception& error) {
    throw action_failure(std::string("Failed to update anomaly data in database. ") + error.what());
  }
}

std::string anomalyArray(const QueryResult& anomalies) {
  DetailsArray array;
  for (const auto& anomaly : anomalies) array.add(anomaly.text("ANOMALY_DETAILS"));
  return array.text();
}

// Raises code 4 when the array could not be written completely, or when the output
// file is the database itself.
void writeAnomalyArray(const ActionArguments& arguments, const std::string& array,
                       const std::string& databasePath) {
  if (!arguments.has("-output_file")) {
    std::cout << array << std::flush;
    if (!std::cout) {
      throw detection_cli_exception(kDetectionError,
                                    "Failed to write anomalies to standard output");
    }
    return;
  }
  const std::string& path = arguments.value("-output_file");
  if (namesDatabaseFile(path, databasePath)) {
    throw detection_cli_exception(kDetectionError,
                                  "Failed to write anomalies to output file " + path);
  }
  std::ofstream file(path, std::ios::out | std::ios::trunc);
  file << array;
  file.close();
  if (!file) {
    throw detection_cli_exception(kDetectionError,
                                  "Failed to write anomalies to output file " + path);
  }
}

// Reads, marks and writes the anomalies in one transaction; any failure rolls
// it back, so that those anomalies are handed out by the next request. Answers
// how many were handed out.
std::size_t handOutAnomalies(const ActionArguments& arguments, SQLiteDatabase& database) {
  Transaction handOut(database, Transaction::Kind::Immediate);
  const QueryResult anomalies = readAnomaliesToHandOut(database, handOut);
  const std::string array = anomalyArray(anomalies);
  markHandedOut(database);
  writeAnomalyArray(arguments, array, database.path());
  commitHandOut(handOut);
  return anomalies.size();
}

bool isSameFile(const std::string& path, const std::string& other) {
  struct stat first {};
  struct stat second {};
  return stat(path.c_str(), &first) == 0 && stat(other.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Writes the request's summary line with its wall time. A log file that is also the
// output file gets none: the line would follow the anomaly array there.
void writeSummary(const RunSummary& summary, std::size_t handedOut,
                  std::chrono::steady_clock::time_point start, const std::string& logPath,
                  const ActionArguments& arguments) {
  if (arguments.has("-output_file") && isSameFile(logPath, arguments.value("-output_file"))) {
    return;
  }
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  summary.write(handedOut, seconds.count());
}

}  // namespace

void detectAction(const ActionArguments& arguments, SQLiteDatabase& database) {
  const std::string dataFile = arguments.value("-data_file");
  const std::string configFile = arguments.value("-config_file");
  parseAndStore(dataFile, database);
  // The engine's messages of this run go to the configured log file, if any; never
  // into the database's own files. The summary follows the hand-out, whose count it
  // reports (none when the request fails).
  const std::string logPath = readLogFilePath(configFile);
  ScopedLogFile log(namesDatabaseFile(logPath, database.path()) ? std::string() : logPath);
  const auto start = std::chrono::steady_clock::now();
  RunSummary summary;
  std::size_t handedOut = 0;
  try {
    detectPendingJobs(configFile, database, summary);
    handedOut = handOutAnomalies(arguments, database);
  } catch (...) {
    writeSummary(summary, 0, start, logPath, arguments);
    throw;
  }
  writeSummary(summary, handedOut, start, logPath, arguments);
}

}  // namespace sfad
