// The decision log of detect over the example data: one decision line per examined job,
// after that job's other messages, and the summary line at the end of the request.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

// The log's lines with what varies masked: the time and process id of every line
// ("T [pid]") and the wall time of the summary ("seconds=S").
std::vector<std::string> maskedLines(const std::string& text) {
  static const std::regex kTimeAndPid(R"(^\S+ \[[0-9]+\] )");
  static const std::regex kSeconds(R"(seconds=[0-9]+\.[0-9]{3}$)");
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    lines.push_back(std::regex_replace(std::regex_replace(line, kTimeAndPid, "T [pid] "), kSeconds,
                                       "seconds=S"));
  }
  return lines;
}

std::vector<std::string> linesContaining(const std::vector<std::string>& lines,
                                         const std::string& part) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.find(part) != std::string::npos) found.push_back(line);
  }
  return found;
}

// The README's example sequence on a fresh database, with LOG_FILE switched on in a copy of
// the example configuration.
class ExampleDecisionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string config = readFile(sourcePath("examples/detection.ini"));
    const std::string key = ";LOG_FILE=/tmp/sfanomalydetect.log";
    ASSERT_NE(config.find(key), std::string::npos);
    config.replace(config.find(key), key.size(), "LOG_FILE=" + log());
    writeFile(configPath(), config);
    ASSERT_EQ(
        runTool({"-post", "-action", "initialize_detection", "-database", database()}).exitCode, 0);
    ASSERT_EQ(runTool({"-post", "-action", "insert_data", "-database", database(), "-data_file",
                       sourcePath("examples/history.json")})
                  .exitCode,
              0);
    executeSql(database(), "INSERT OR REPLACE INTO DEDUP_THRESHOLD VALUES ('VMware', 40.0);");
  }

  ToolResult detect(const std::string& dataFile, const std::string& output = "anomalies.json") {
    return runTool({"-post", "-action", "detect", "-database", database(), "-data_file", dataFile,
                    "-config_file", configPath(), "-output_file", folder.file(output)});
  }

  // A data file with one job of the fileserver-01 group, its files, transfer and time like
  // 1042's; timeAndSize: its BACKUP_TIME and IMAGE_SIZE. The log is emptied for the request.
  std::string fileserverJob(const std::string& jobId, const std::string& timeAndSize) {
    const std::string path = folder.file("job-" + jobId + ".json");
    writeFile(path, R"({"operation": "DETECTION_DATA",
 "data_points_fields": "JOB_ID,BACKUP_TIME,IMAGE_SIZE,NUM_FILES,DATA_TRANSFERRED,TOTAL_TIME,DEDUP_RATE",
 "data": [{"client": "fileserver-01", "policy": "daily-files", "policy_type": "Standard",
   "schedule_type": "FULL", "schedule_name": "nightly", "destination_storage": "dedupe-pool-a",
   "data_points": [[")" +
                        jobId + "\", " + timeAndSize +
                        R"(, 809000, 305000000.0, 10750, 91.5]]}]})");
    writeFile(log(), "");
    return path;
  }

  std::string database() const { return folder.file("detection.db"); }
  std::string configPath() const { return folder.file("detection.ini"); }
  std::string log() const { return folder.file("detect.log"); }

  TempDir folder;
};

TEST_F(ExampleDecisionLogTest, EveryExampleJobHasItsDecisionLineAndTheRequestItsSummary) {
  const ToolResult result = detect(sourcePath("examples/detection.json"));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::vector<std::string> lines = maskedLines(readFile(log()));
  const std::string prefix = "T [pid] 2 dbscan_detection: ";
  const std::string fileserver =
      " client=fileserver-01 policy=daily-files schedule=nightly storage=dedupe-pool-a asset=NA: ";
  const std::string sql =
      " client=sql-prod-02 policy=sql-databases schedule=nightly-full storage=dedupe-pool-a "
      "asset=NA: ";
  const std::string mail =
      " client=mail-03 policy=exchange-daily schedule=daily storage=dedupe-pool-b asset=NA: ";
  EXPECT_EQ(
      linesContaining(lines, " dbscan_detection: decision "),
      (std::vector<std::string>{
          prefix + "decision 1040_1733878800" + fileserver +
              "in-cluster (cluster 1; radius=2.5 calibrated scaled=2.5 rows=40 mode=full)",
          prefix + "decision 1041_1733965200" + fileserver +
              "in-cluster (cluster 1; radius=2.5 stored scaled=2.5 rows=41 mode=full)",
          prefix + "decision 1042_1734051600" + fileserver +
              "reported (IMAGE_SIZE=314572800 outside 50382244.1-54496994.3, "
              "KB_TRANSFERRED=305135616 outside 48870776.8-52862084.4, NUM_FILES=810000 outside "
              "175135-185234, TOTAL_TIME=10800 outside 3437-3776; cluster 1 "
              "score=13.141264491335248; radius=2.5 stored scaled=2.5 rows=42 mode=full)",
          prefix + "decision 3040_1733878800" + sql +
              "in-cluster (cluster 1; radius=2.5 calibrated scaled=2.5 rows=40 mode=full)",
          prefix + "decision 3041_1733965200" + sql +
              "in-cluster (cluster 1; radius=2.5 stored scaled=2.5 rows=41 mode=full)",
          prefix + "decision 3042_1734051600" + sql +
              "reported (IMAGE_SIZE=5242880 outside 100898124.4-108802866.3, "
              "KB_TRANSFERRED=5085593.6 outside 97871180.7-105538780.4, TOTAL_TIME=540 outside "
              "5140-5667; cluster 1 score=10.968059219601182; radius=2.5 stored scaled=2.5 "
              "rows=42 mode=full)",
          prefix + "decision 5040_1733878800" + mail +
              "in-cluster (cluster 1; radius=2.5 calibrated scaled=2.5 rows=40 mode=full)",
          prefix + "decision 5041_1733965200" + mail +
              "in-cluster (cluster 1; radius=2.5 stored scaled=2.5 rows=41 mode=full)",
          prefix + "decision 5042_1734051600" + mail +
              "reported (DEDUP_RATE=12 outside 94-95.95; cluster 1 score=6.591208046167691; "
              "radius=2.5 stored scaled=2.5 rows=42 mode=full)",
          prefix + "decision 7001_1734051600 client=web-07 policy=vm-images schedule=weekly-full "
                   "storage=dedupe-pool-b asset=NA: dedup-reported (no history of the asset; "
                   "threshold=40 (VMware) rate=18.5 below; score=0 usual 0-0)",
      }));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), prefix +
                              "summary examined=10 retired=6 (in-cluster=6) held=4 "
                              "(dedup-reported=1 reported=3) pending=0 skipped=0 handed_out=4 "
                              "calibrated=3 seconds=S");
  EXPECT_EQ(linesContaining(lines, " dbscan_detection: summary ").size(), 1u);

  // Each job's decision line follows every other message that names the job.
  for (const std::string job :
       {"1040", "1041", "1042", "3040", "3041", "3042", "5040", "5041", "5042", "7001"}) {
    SCOPED_TRACE(job);
    std::size_t decision = lines.size();
    std::size_t lastMention = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].find("decision " + job + "_") != std::string::npos) {
        decision = i;
      } else if (lines[i].find("job " + job) != std::string::npos ||
                 lines[i].find("job - " + job + ".") != std::string::npos) {
        lastMention = i;
      }
    }
    ASSERT_LT(decision, lines.size());
    EXPECT_LT(lastMention, decision);
  }
}

// The issue's case: a huge job 647 days after its group's newest backup was logged only as
// "Calling DBScan for detection for job 1099".
TEST_F(ExampleDecisionLogTest, LateJobNamesTheGapAndTheLimit) {
  ASSERT_EQ(detect(sourcePath("examples/detection.json")).exitCode, 0);
  // 647 days after 1041, the group's newest history backup (1042 is held as anomalous).
  const std::string backupTime = std::to_string(1733965200LL + 647LL * 86400);
  const ToolResult result = detect(fileserverJob("1099", backupTime + ", 314572800.0"));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(readFile(folder.file("anomalies.json")), "[]");
  EXPECT_EQ(maskedLines(readFile(log())),
            (std::vector<std::string>{
                "T [pid] 2 dbscan_detection: Getting training set for detection client - "
                "fileserver-01, policy - daily-files and job - 1099.",
                "T [pid] 2 dbscan_detection: Calling DBScan for detection for job 1099",
                "T [pid] 2 dbscan_detection: decision 1099_" + backupTime +
                    " client=fileserver-01 policy=daily-files schedule=nightly "
                    "storage=dedupe-pool-a asset=NA: late (gap 647.00 days > limit 365 days; "
                    "radius=2.5 stored scaled=2.5 rows=42 mode=full)",
                "T [pid] 2 dbscan_detection: summary examined=1 retired=1 (late=1) held=0 "
                "pending=0 skipped=0 handed_out=0 calibrated=0 seconds=S",
            }));
}

// A job like 1042 after feedback confirmed 1042 as normal: the line gives the distance to
// the confirmed job, measured as the confirmed-job check measures it.
TEST_F(ExampleDecisionLogTest, JobNearAConfirmedJobNamesTheDistance) {
  ASSERT_EQ(detect(sourcePath("examples/detection.json")).exitCode, 0);
  ASSERT_EQ(runTool({"-post", "-action", "userfeedback", "-database", database(), "-anomaly_id",
                     "1042_1734051600", "-feedback", "1"})
                .exitCode,
            0);
  const ToolResult result = detect(fileserverJob("1043", "1734138000, 314000000.0"));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::vector<std::string> lines = maskedLines(readFile(log()));
  EXPECT_EQ(linesContaining(lines, "decision 1043_"),
            std::vector<std::string>{
                "T [pid] 2 dbscan_detection: decision 1043_1734138000 client=fileserver-01 "
                "policy=daily-files schedule=nightly storage=dedupe-pool-a asset=NA: "
                "near-confirmed (confirmed job at distance 0.03586709404016133 <= radius 2.5; "
                "radius=2.5 stored scaled=2.5 rows=43 mode=full)"});
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "T [pid] 2 dbscan_detection: summary examined=1 retired=1 (near-confirmed=1) held=0 "
            "pending=0 skipped=0 handed_out=0 calibrated=0 seconds=S");
}

// The summary counts only what the request handed out: none when the array cannot be written,
// and the same anomalies when the next request hands them out.
TEST_F(ExampleDecisionLogTest, SummaryCountsTheAnomaliesActuallyHandedOut) {
  const ToolResult failed = detect(sourcePath("examples/detection.json"), "no/such/folder.json");
  ASSERT_EQ(failed.exitCode, 4) << failed.err;
  std::vector<std::string> lines = maskedLines(readFile(log()));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "T [pid] 2 dbscan_detection: summary examined=10 retired=6 (in-cluster=6) held=4 "
            "(dedup-reported=1 reported=3) pending=0 skipped=0 handed_out=0 calibrated=3 "
            "seconds=S");

  writeFile(log(), "");
  ASSERT_EQ(detect(sourcePath("examples/history.json")).exitCode, 0);
  EXPECT_EQ(maskedLines(readFile(log())),
            std::vector<std::string>{"T [pid] 2 dbscan_detection: summary examined=0 retired=0 "
                                     "held=0 pending=0 skipped=0 handed_out=4 calibrated=0 "
                                     "seconds=S"});
}

}  // namespace
}  // namespace sfad::test
