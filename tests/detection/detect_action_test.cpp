// End-to-end tests of the detect action: storing, judging, handing out
// anomalies once, and the output file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <thread>

#include "tests/detection/DetectFixtures.h"

namespace sfad::test {
namespace {

constexpr long long kNextDay = kNewestHistoryBackup + kDay;

std::string largeImageDetails(const std::string& detectionTime, long long backupTime) {
  const std::string time = std::to_string(backupTime);
  return "{\"DetectionType\": \"dbscan\", \"DetectionTime\": \"" + detectionTime +
         "\", \"SizeUnit\": \"MB\", \"Attributes\": {\"jobid\": \"77\", "
         "\"clientName\": \"c1\", "
         "\"policyName\": \"p1\", \"policyType\": \"Standard\", "
         "\"scheduleName\": \"daily\", "
         "\"backupId\": \"c1_" +
         time + "\", \"backupTime\": \"" + time +
         "\", \"scheduleType\": \"FULL\", \"anomalyImageSize\": \"400.0000 MB "
         "(Usual: "
         "100.0000 MB - 104.0000 MB)\", \"anomalyFeedback\": \"Report as false "
         "positive\", "
         "\"anomalyId\": \"77_" +
         time +
         "\", \"anomalyType\": \"JOB_BASED\", \"summary\": "
         "\"Anomaly image size\", \"count\": \"1\", \"score\": \"6.48\", "
         "\"storageName\": "
         "\"pool\"}}";
}

class DetectActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(
        work.insert(work.writeData("history.json", "TRAINING_DATA", {standardHistory()})).exitCode,
        0);
  }

  // A detection file with the jobs in the standard group.
  std::string jobsFile(const std::vector<DataPoint>& points) const {
    JobGroup group;
    group.points = points;
    return work.writeData("jobs.json", "DETECTION_DATA", {group});
  }

  std::string queueState(const std::string& key) const {
    return queryValue(
        work.database(),
        "SELECT PROCESSED_STATUS FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = '" + key + "'");
  }

  DetectWorkspace work;
};

TEST_F(DetectActionTest, ClearAnomalyIsHandedOutOnceAndItsJobHeld) {
  const ToolResult first = work.detect(jobsFile({largeImageJob("77", kNextDay)}));
  const std::string id = "77_" + std::to_string(kNextDay);
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.out, "[" + largeImageDetails(detectionTime(work.database(), id), kNextDay) + "]");
  EXPECT_EQ(queueState("data_77_c1_" + std::to_string(kNextDay)), "1");
  EXPECT_EQ(queryRows(work.database(), "SELECT PROCESSED, DETECTION_KEY, CLIENT FROM ANOMALY_DATA"),
            (TextRows{{"1", "data_77_c1_" + std::to_string(kNextDay), "c1"}}));
  EXPECT_EQ(queryRows(work.database(),
                      "SELECT FEATURE, CURRENT_VALUE, MIN_VALUE, MAX_VALUE, UNIT FROM "
                      "ANOMALY_PER_FEATURE_DATA"),
            (TextRows{{"IMAGE_SIZE", "400.0", "100.0", "104.0", "MB"}}));

  const ToolResult second = work.detectQueued();
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(second.out, "[]");
}

TEST_F(DetectActionTest, NormalJobIsRetiredIntoHistory) {
  const ToolResult result = work.detect(jobsFile({usualJob("78", kNextDay)}));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "[]");
  EXPECT_EQ(queryValue(work.database(), "SELECT COUNT(*) FROM DATA_TO_PROCESS"), "0");
  EXPECT_EQ(queryRows(work.database(),
                      "SELECT JOB_ID, MODE, USER_IDENTIFIED_CLUSTER FROM HIST_DATA WHERE "
                      "JOB_ID = '78'"),
            (TextRows{{"78", "1", "-1"}}));
}

TEST_F(DetectActionTest, GroupWithoutHistoryIsJudgedByTheDedupRule) {
  executeSql(work.database(), "INSERT INTO DEDUP_THRESHOLD VALUES ('VMware', 40.0);");
  JobGroup vms;
  vms.client = "web-07";
  vms.policyType = "VMware";
  vms.points = {{"7001", kNextDay, 2048, 12, 2048, 300, 18.5}};
  JobGroup incremental = vms;
  incremental.scheduleType = "INCR";
  incremental.points = {{"7002", kNextDay, 2048, 12, 2048, 300, 18.5}};
  const ToolResult result =
      work.detect(work.writeData("vms.json", "DETECTION_DATA", {vms, incremental}));
  const std::string time = std::to_string(kNextDay);
  const std::string id = "7001_" + time;
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "[{\"DetectionType\": \"dbscan\", \"DetectionTime\": \"" +
                            detectionTime(work.database(), id) +
                            "\", \"SizeUnit\": \"MB\", \"Attributes\": {\"jobid\": \"7001\", "
                            "\"clientName\": "
                            "\"web-07\", \"policyName\": \"p1\", \"policyType\": \"VMware\", "
                            "\"scheduleName\": \"daily\", \"backupId\": \"web-07_" +
                            time + "\", \"backupTime\": \"" + time +
                            "\", \"scheduleType\": \"FULL\", \"anomalyDeduplicationRatio\": "
                            "\"18.5 (Usual: 0 "
                            "- 0)\", \"anomalyFeedback\": \"Report as false positive\", "
                            "\"anomalyId\": \"" +
                            id +
                            "\", \"anomalyType\": \"JOB_BASED_DEDUP_CUSTOM_RULE\", \"summary\": "
                            "\"Deduplication ratio\", \"count\": \"1\", \"score\": \"0.00\", "
                            "\"storageName\": \"pool\"}}]");
  EXPECT_EQ(queueState("data_7001_web-07_" + time), "1");
  EXPECT_EQ(queryValue(work.database(), "SELECT COUNT(*) FROM HIST_DATA WHERE JOB_ID = '7002'"),
            "1");
}

// Exactly the configured number of days after the newest history backup a job
// is still judged; one second later it joins the history unjudged. A job on
// another storage is judged in reduced mode against the group's history on every
// storage, and the same bound applies to it.
TEST_F(DetectActionTest, LateJobBoundIsInclusiveInBothTrainingModes) {
  for (const char* storage : {"pool", "elsewhere"}) {
    SCOPED_TRACE(storage);
    DetectWorkspace fresh;
    ASSERT_EQ(fresh.insert(fresh.writeData("history.json", "TRAINING_DATA", {standardHistory()}))
                  .exitCode,
              0);
    fresh.writeConfig("[ANOMALY_MODEL_SETTINGS]\nDAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY=2\n");
    const long long bound = kNewestHistoryBackup + 2LL * kDay;
    JobGroup group;
    group.storage = storage;
    group.points = {largeImageJob("77", bound), largeImageJob("79", bound + 1)};
    const ToolResult result = fresh.detect(fresh.writeData("jobs.json", "DETECTION_DATA", {group}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("\"anomalyId\": \"77_" + std::to_string(bound) + "\""),
              std::string::npos)
        << result.out;
    EXPECT_EQ(queryRows(fresh.database(), "SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA"),
              (TextRows{{"77_" + std::to_string(bound)}}));
    EXPECT_EQ(queryValue(fresh.database(), "SELECT COUNT(*) FROM HIST_DATA WHERE JOB_ID = '79'"),
              "1");
  }
}

// A day count whose product with 86400 leaves the 32-bit range still bounds the
// gap.
TEST_F(DetectActionTest, LargeDayCountDoesNotWrap) {
  work.writeConfig(
      "[ANOMALY_MODEL_SETTINGS]\nDAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY="
      "30000\n");
  const ToolResult result = work.detect(jobsFile({largeImageJob("77", kNextDay)}));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(queryValue(work.database(), "SELECT COUNT(*) FROM ANOMALY_DATA"), "1");
}

TEST_F(DetectActionTest, FeedbackBetweenRunsMovesTheJobIntoHistory) {
  ASSERT_EQ(work.detect(jobsFile({largeImageJob("77", kNextDay)})).exitCode, 0);
  const std::string id = "77_" + std::to_string(kNextDay);
  const ToolResult feedback = runTool({"-post", "-action", "userfeedback", "-database",
                                       work.database(), "-anomaly_id", id, "-feedback", "1"});
  ASSERT_EQ(feedback.exitCode, 0) << feedback.err;

  const ToolResult next = work.detectQueued();
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(next.out, "[]");
  EXPECT_EQ(queryValue(work.database(), "SELECT COUNT(*) FROM DATA_TO_PROCESS"), "0");
  EXPECT_EQ(queryValue(work.database(), "SELECT COUNT(*) FROM ANOMALY_DATA_FEEDBACK"), "0");
  EXPECT_EQ(queryRows(work.database(),
                      "SELECT MODE, USER_IDENTIFIED_CLUSTER FROM HIST_DATA "
                      "WHERE JOB_ID = '77'"),
            (TextRows{{"1", "1"}}));
}

TEST_F(DetectActionTest, OutputFileIsReplacedAndStandardOutputStaysEmpty) {
  const std::string output = work.file("anomalies.json");
  writeFile(output, "an older and much longer content of the output file");
  const ToolResult result =
      work.detect(jobsFile({largeImageJob("77", kNextDay)}), {"-output_file", output});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  const std::string id = "77_" + std::to_string(kNextDay);
  EXPECT_EQ(readFile(output), "[" + storedDetails(work.database(), id) + "]");
}

// An output file that cannot be written fails the request, and its anomalies
// stay for the next request instead of being lost.
TEST_F(DetectActionTest, UnwritableOutputKeepsAnomaliesForTheNextRequest) {
  const std::string output = work.file("missing-folder/anomalies.json");
  const ToolResult failed =
      work.detect(jobsFile({largeImageJob("77", kNextDay)}), {"-output_file", output});
  EXPECT_EQ(failed.exitCode, 4);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err,
            "{\"errorCode\": 4, \"errorMessage\": \"Anomaly detection error.\", "
            "\"innerMessage\": \"Failed to write anomalies to output file " +
                output + "\"}");
  EXPECT_EQ(queryValue(work.database(), "SELECT PROCESSED FROM ANOMALY_DATA"), "0");

  const ToolResult next = work.detectQueued();
  EXPECT_EQ(next.exitCode, 0) << next.err;
  const std::string id = "77_" + std::to_string(kNextDay);
  EXPECT_EQ(next.out, "[" + storedDetails(work.database(), id) + "]");
}

TEST_F(DetectActionTest, UnwritableStandardOutputKeepsAnomaliesForTheNextRequest) {
  const std::string jobs = jobsFile({largeImageJob("77", kNextDay)});
  const ToolResult failed = runProgram(
      {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", toolPath(), "-post", "-action", "detect",
       "-database", work.database(), "-data_file", jobs, "-config_file", work.configPath()});
  EXPECT_EQ(failed.exitCode, 4);
  EXPECT_EQ(failed.err,
            "{\"errorCode\": 4, \"errorMessage\": \"Anomaly detection error.\", "
            "\"innerMessage\": \"Failed to write anomalies to standard output\"}");
  EXPECT_EQ(queryValue(work.database(), "SELECT PROCESSED FROM ANOMALY_DATA"), "0");
}

TEST_F(DetectActionTest, DataFileErrorStopsBeforeDetection) {
  executeSql(work.database(),
             "INSERT INTO ANOMALY_DATA VALUES ('1_1', '{}', 0, 'data_1_c1_1', "
             "'c1', 1);");
  ASSERT_EQ(work.insert(jobsFile({largeImageJob("77", kNextDay)})).exitCode, 0);
  const std::string before = dumpDatabase(work.database());
  const std::string broken = work.file("broken.json");
  writeFile(broken, "{\"operation\": \"DETECTION_DATA\", \"data\": [{\"client\": \"c1\"}]}");
  const ToolResult result = work.detect(broken);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "{\"errorCode\": 1, \"errorMessage\": \"JSON parsing error.\", "
            "\"innerMessage\": "
            "\"Invalid json input. Missing field under data section - policy\"}");
  EXPECT_EQ(dumpDatabase(work.database()), before);
}

TEST_F(DetectActionTest, FailureBeforeClusteringFailsTheRequestWithCode4) {
  executeSql(work.database(), "DROP TABLE DBSCAN_MODEL_PARAMS;");
  const ToolResult result = work.detect(jobsFile({usualJob("78", kNextDay)}));
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "{\"errorCode\": 4, \"errorMessage\": \"Anomaly detection error.\", "
            "\"innerMessage\": \"Failed to get anomalies from database. sqlite prepare statement "
            "failed for query - SELECT EPS, CAPTURE_DATE FROM DBSCAN_MODEL_PARAMS  WHERE CLIENT = "
            "? AND POLICY = ? AND POLICY_TYPE = ?   AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? "
            "AND APP_TYPE = ? AND DESTINATION_STORAGE_NAME = ? AND ASSET_ID = ?. Return code : "
            "1. \"}");
  EXPECT_EQ(queueState("data_78_c1_" + std::to_string(kNextDay)), "0");
}

// Concurrent requests hand out every waiting anomaly exactly once between them.
TEST(DetectHandOutTest, ConcurrentRequestsHandOutEachAnomalyOnce) {
  DetectWorkspace work;
  std::string rows;
  std::set<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    const std::string details = "{\"n\": " + std::to_string(i) + "}";
    expected.insert(details);
    rows += "INSERT INTO ANOMALY_DATA VALUES ('" + std::to_string(i) + "_1', '" + details +
            "', 0, 'k', 'c1', 1);";
  }
  executeSql(work.database(), rows);
  const std::string nothing = work.writeData("nothing.json", "TRAINING_DATA", {});
  std::vector<ToolResult> results(4);
  std::vector<std::thread> requests;
  for (ToolResult& result : results) {
    requests.emplace_back([&work, &nothing, &result] { result = work.detect(nothing); });
  }
  for (std::thread& request : requests) request.join();

  std::multiset<std::string> handedOut;
  for (const ToolResult& result : results) {
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string& array = result.out;
    ASSERT_GE(array.size(), 2u);
    std::size_t start = array.find('{');
    while (start != std::string::npos) {
      const std::size_t end = array.find('}', start);
      handedOut.insert(array.substr(start, end - start + 1));
      start = array.find('{', end);
    }
  }
  EXPECT_EQ(handedOut, std::multiset<std::string>(expected.begin(), expected.end()));
}

}  // namespace
}  // namespace sfad::test
