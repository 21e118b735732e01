// A detection engine on a fresh, fully laid-out temporary database, with
// helpers that store job records and capture the engine's log messages.
#pragma once

#include <gtest/gtest.h>
#include <jansson.h>

#include <string>
#include <utility>
#include <vector>

#include "detection/DetectionEngine.h"
#include "detection/DiagnosticLog.h"
#include "intake/JobRecord.h"
#include "json/JsonOwner.h"
#include "storage/SQLiteDatabase.h"
#include "storage/Schema.h"
#include "storage/Statement.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"

namespace sfad::test {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

struct LogEntry {
  int level;
  std::string message;
};

// Collects the engine's log messages while it lives.
class LogCapture {
 public:
  LogCapture() {
    setLogSink([this](int level, const std::string& category, const std::string& message) {
      EXPECT_EQ(category, kDetectionLogCategory);
      entries.push_back({level, message});
    });
  }
  ~LogCapture() { setLogSink(nullptr); }
  std::vector<LogEntry> entries;
};

// One member of a details document's Attributes, read after parsing it ("" when absent).
inline std::string attribute(const std::string& details, const char* key) {
  const JsonPtr document(json_loads(details.c_str(), 0, nullptr));
  if (!document) return "<not JSON>";
  const char* text =
      json_string_value(json_object_get(json_object_get(document.get(), "Attributes"), key));
  return text ? text : "";
}

// Client c1, policy p1, a full schedule on storage stu1, asset A1.
inline JobRecord makeJob(const std::string& jobId, int backupTime) {
  JobRecord job;
  job.client = "c1";
  job.backupTime = backupTime;
  job.backupId = "c1_" + std::to_string(backupTime);
  job.policy = "p1";
  job.policyType = "Standard";
  job.scheduleType = "FULL";
  job.scheduleName = "daily";
  job.appType = "NONE";
  job.jobId = jobId;
  job.destinationStorageName = "stu1";
  job.assetId = "A1";
  job.numFiles = 10;
  job.imageSize = 2048.0;
  job.kbTransferred = 1024.0;
  job.totalTime = 60;
  job.dedupRate = 50.0;
  return job;
}

class EngineTest : public ::testing::Test {
 protected:
  EngineTest()
      : path_((Quorvan::Stowfleet::UsageReporting::createSchema(dir_.file("detect.db")),
               dir_.file("detect.db"))),
        db_(path_, Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags),
        engine_("", db_) {}

  // The job as the detection run sees it: its DATA_TO_PROCESS row, read back.
  ResultRow queued(const JobRecord& job) {
    storeIntoQueue(db_, job);
    Quorvan::Stowfleet::UsageReporting::Statement statement(
        db_.handle(), "SELECT * FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = ?");
    statement.bindText(1, job.uniqueKey());
    QueryResult rows;
    db_.query(statement, rows);
    return rows.at(0);
  }

  std::string value(const std::string& sql) { return queryValue(path_, sql); }
  TextRows rows(const std::string& sql) { return queryRows(path_, sql); }

  TempDir dir_;
  const std::string path_;
  SQLiteDatabase db_;
  DetectionEngine engine_;
};

}  // namespace sfad::test
