// The detection run in process: exclusions, disabled features and the failure
// rules, with the diagnostic log captured.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detection/DetectionEngine.h"
#include "detection/DetectionRun.h"
#include "detection/DiagnosticLog.h"
#include "storage/Schema.h"
#include "tests/detection/DetectFixtures.h"

namespace sfad::test {
namespace {

using Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags;
using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

constexpr long long kNextDay = kNewestHistoryBackup + kDay;

struct LogLine {
  int level;
  std::string message;
  bool operator==(const LogLine& other) const {
    return level == other.level && message == other.message;
  }
};

class DetectionRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setLogSink([this](int level, const std::string& category, const std::string& message) {
      if (category == kDetectionLogCategory) log.push_back({level, message});
    });
    ASSERT_EQ(
        work.insert(work.writeData("history.json", "TRAINING_DATA", {standardHistory()})).exitCode,
        0);
  }
  void TearDown() override { setLogSink(nullptr); }

  void queue(const std::vector<JobGroup>& groups) {
    ASSERT_EQ(work.insert(work.writeData("queue.json", "DETECTION_DATA", groups)).exitCode, 0);
  }
  void queueStandardJobs(const std::vector<DataPoint>& points) {
    JobGroup group;
    group.points = points;
    queue({group});
  }

  void run(bool propagateErrors = true) {
    SQLiteDatabase database(work.database(), kDatabaseOpenFlags);
    DetectionEngine engine(work.configPath(), database, 2.5, 3.0,
                           propagateErrors ? FailurePolicy::kPropagate : FailurePolicy::kContain);
    runDetection(engine);
  }

  bool logged(int level, const std::string& message) const {
    for (const LogLine& line : log) {
      if (line == LogLine{level, message}) return true;
    }
    return false;
  }
  int countLogged(const std::string& message) const {
    int count = 0;
    for (const LogLine& line : log) count += line.message == message ? 1 : 0;
    return count;
  }
  std::string count(const std::string& sql) const { return queryValue(work.database(), sql); }

  DetectWorkspace work;
  std::vector<LogLine> log;
};

struct ExclusionCase {
  std::string config;
  std::string client;
  std::string policy;
  std::string policyType;
  std::string message;
};

TEST_F(DetectionRunTest, ExcludedJobsJoinTheHistoryUnjudged) {
  const std::vector<ExclusionCase> cases = {
      {"[EXCLUDE_CLIENTS]\nCLIENT_NAME=other,build-01\n", "Build-01", "p1", "Standard",
       "Ignoring client 'Build-01' for detection as per configuration."},
      {"[DISABLE_POLICY_TYPE]\nPOLICY_TYPE=ndmp\n", "Build-01", "p1", "NDMP",
       "Ignoring policy type 'NDMP' for detection as per configuration."},
      {"[EXCLUDE_CLIENT_POLICY]\nbuild-01=Scratch,tmp\n", "Build-01", "scratch", "Standard",
       "Ignoring policy 'scratch' on client 'Build-01' for detection as per "
       "configuration."},
  };
  int job = 50;
  for (const ExclusionCase& exclusion : cases) {
    SCOPED_TRACE(exclusion.message);
    const std::string jobId = std::to_string(job++);
    work.writeConfig(exclusion.config);
    JobGroup group;
    group.client = "Build-01";
    group.policy = exclusion.policy;
    group.policyType = exclusion.policyType;
    group.points = {largeImageJob(jobId, kNextDay)};
    queue({group});
    log.clear();
    run();
    EXPECT_TRUE(logged(kLogProgress, exclusion.message));
    EXPECT_EQ(count("SELECT COUNT(*) FROM DATA_TO_PROCESS"), "0");
    EXPECT_EQ(count("SELECT USER_IDENTIFIED_CLUSTER FROM HIST_DATA WHERE JOB_ID = '" + jobId + "'"),
              "-1");
    EXPECT_EQ(count("SELECT COUNT(*) FROM ANOMALY_DATA"), "0");
  }
}

// A job that can never be judged does not stay in the queue: it is retired once,
// with its message, like a job of a disabled policy type.
TEST_F(DetectionRunTest, AllFeaturesDisabledRetiresTheRecord) {
  work.writeConfig(
      "[DISABLE_FEATURE_PER_POLICY_TYPE]\n"
      "standard=NUM_FILES,IMAGE_SIZE,KB_TRANSFERRED,TOTAL_TIME,DEDUP_RATE\n");
  queueStandardJobs({largeImageJob("77", kNextDay)});
  const std::string message =
      "All features are disabled for policy type = Standard. "
      "Detection aborted.";
  run();
  run();
  EXPECT_EQ(countLogged(message), 1);
  EXPECT_TRUE(logged(kLogProgress, message));
  EXPECT_EQ(count("SELECT COUNT(*) FROM DATA_TO_PROCESS"), "0");
  EXPECT_EQ(count("SELECT USER_IDENTIFIED_CLUSTER FROM HIST_DATA WHERE JOB_ID = '77'"), "-1");
  EXPECT_EQ(count("SELECT COUNT(*) FROM ANOMALY_DATA"), "0");
}

TEST_F(DetectionRunTest, AnomalyIsLoggedAndHeld) {
  queueStandardJobs({largeImageJob("77", kNextDay), usualJob("78", kNextDay)});
  run();
  EXPECT_TRUE(logged(kLogProgress,
                     "Getting training set for detection client - c1, policy - "
                     "p1 and job - 77."));
  EXPECT_TRUE(logged(kLogProgress, "Calling DBScan for detection for job 77"));
  EXPECT_TRUE(logged(kLogProgress, "Anomaly detected for job 77"));
  EXPECT_FALSE(logged(kLogProgress, "Anomaly detected for job 78"));
  EXPECT_EQ(count("SELECT PROCESSED_STATUS FROM DATA_TO_PROCESS"), "1");
}

// An anomaly row stored before a failing per-feature row does not outlive the
// failure: the record stays pending without it, and the run goes on with the
// next record.
TEST_F(DetectionRunTest, FailureWhileJudgingUndoesTheRecordAndLeavesItPending) {
  queueStandardJobs({largeImageJob("77", kNextDay), usualJob("78", kNextDay)});
  executeSql(work.database(), "DROP TABLE ANOMALY_PER_FEATURE_DATA;");
  EXPECT_NO_THROW(run());
  EXPECT_EQ(count("SELECT COUNT(*) FROM ANOMALY_DATA"), "0");
  EXPECT_EQ(count("SELECT PROCESSED_STATUS FROM DATA_TO_PROCESS WHERE JOB_ID = '77'"), "0");
  EXPECT_EQ(count("SELECT COUNT(*) FROM HIST_DATA WHERE JOB_ID = '78'"), "1");
  bool failureLogged = false;
  for (const LogLine& line : log) {
    failureLogged |= line.level == kLogProgress &&
                     line.message.rfind("Error while doing detection. Details: sqlite", 0) == 0;
  }
  EXPECT_TRUE(failureLogged);
}

// A failure of another kind while judging goes to the diagnostic log, never to
// standard output, and leaves the record pending.
TEST_F(DetectionRunTest, UnexpectedFailureWhileJudgingIsLoggedNotPrinted) {
  queueStandardJobs({largeImageJob("77", kNextDay)});
  setLogSink([this](int level, const std::string& category, const std::string& message) {
    if (message == "Calling DBScan for detection for job 77") throw 7;
    if (category == kDetectionLogCategory) log.push_back({level, message});
  });
  testing::internal::CaptureStdout();
  EXPECT_NO_THROW(run());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(logged(kLogFailure, "Unexpected error during anomaly detection."));
  EXPECT_EQ(count("SELECT PROCESSED_STATUS FROM DATA_TO_PROCESS WHERE JOB_ID = '77'"), "0");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().message.substr(log.back().message.find(": ")),
            ": pending (failure while judging: Unexpected error during anomaly detection.; "
            "radius=2.5 calibrated scaled=2.5 rows=40 mode=full)");
}

// A failure before clustering ends the run; the dispositions made before it
// stay, the failing and later records stay pending.
TEST_F(DetectionRunTest, FailureBeforeClusteringEndsTheRunKeepingEarlierDispositions) {
  work.writeConfig("[EXCLUDE_CLIENTS]\nCLIENT_NAME=build-01\n");
  JobGroup excluded;
  excluded.client = "Build-01";
  excluded.points = {usualJob("40", kNextDay)};
  JobGroup judged;
  judged.points = {usualJob("41", kNextDay), usualJob("42", kNextDay + 1)};
  queue({excluded, judged});
  executeSql(work.database(), "DROP TABLE DBSCAN_MODEL_PARAMS;");
  for (const bool propagate : {true, false}) {
    SCOPED_TRACE(propagate);
    if (propagate) {
      EXPECT_THROW(run(propagate), sqlite_exception);
    } else {
      EXPECT_NO_THROW(run(propagate));
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM HIST_DATA WHERE JOB_ID = '40'"), "1");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DATA_TO_PROCESS WHERE PROCESSED_STATUS = 0"), "2");
  }
}

}  // namespace
}  // namespace sfad::test
