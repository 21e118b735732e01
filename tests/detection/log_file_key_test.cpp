// The LOG_FILE key: a detect run appends one line per engine message there, and
// without the key no log file appears.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/detection/DetectFixtures.h"

namespace sfad::test {
namespace {

constexpr long long kNextDay = kNewestHistoryBackup + kDay;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(text.substr(start, end - start));
  }
  return result;
}

class LogFileKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(
        work.insert(work.writeData("history.json", "TRAINING_DATA", {standardHistory()})).exitCode,
        0);
    JobGroup group;
    group.points = {largeImageJob("77", kNextDay), usualJob("78", kNextDay + 60)};
    jobs = work.writeData("jobs.json", "DETECTION_DATA", {group});
  }

  DetectWorkspace work;
  std::string jobs;
};

TEST_F(LogFileKeyTest, EveryEngineMessageIsOneLineInTheLogFile) {
  const std::string log = work.file("engine.log");
  work.writeConfig("[META_DATA]\nLOG_FILE=" + log + "\n");
  const ToolResult result = work.detect(jobs);
  ASSERT_EQ(result.exitCode, 0) << result.err;

  const std::vector<std::string> logged = lines(readFile(log));
  std::vector<std::string> messages;
  for (const std::string& line : logged) {
    // 2026-12-10T11:52:00Z [pid] level dbscan_detection: message
    ASSERT_GE(line.size(), 21u) << line;
    EXPECT_EQ(line[4], '-') << line;
    EXPECT_EQ(line[10], 'T') << line;
    EXPECT_EQ(line[19], 'Z') << line;
    const std::size_t category = line.find(" dbscan_detection: ");
    ASSERT_NE(category, std::string::npos) << line;
    const std::string message = line.substr(category + 19);
    // The decision and summary lines are checked by the detection suite.
    if (message.rfind("decision ", 0) == 0 || message.rfind("summary ", 0) == 0) continue;
    messages.push_back(message);
  }
  EXPECT_EQ(messages,
            (std::vector<std::string>{
                "Getting training set for detection client - c1, policy - p1 and job - 77.",
                "Calibrated model parameters for client - c1 , policy - p1, policy type - "
                "Standard, schedule name - daily",
                "Calling DBScan for detection for job 77",
                "Anomaly detected for job 77",
                "Getting training set for detection client - c1, policy - p1 and job - 78.",
                "Calling DBScan for detection for job 78",
            }));
}

TEST_F(LogFileKeyTest, WithoutTheKeyNoLogFileAppears) {
  work.writeConfig("[META_DATA]\nLOG_MODEL_DATA=0\n");
  const auto before = std::distance(std::filesystem::directory_iterator(work.file("")),
                                    std::filesystem::directory_iterator());
  ASSERT_EQ(work.detect(jobs).exitCode, 0);
  const auto after = std::distance(std::filesystem::directory_iterator(work.file("")),
                                   std::filesystem::directory_iterator());
  // Only the database's own -wal and -shm files may have appeared.
  EXPECT_LE(after - before, 2);
  EXPECT_FALSE(fileExists(work.file("engine.log")));
}

TEST_F(LogFileKeyTest, UnwritableLogFileDoesNotChangeTheOutcome) {
  work.writeConfig("[META_DATA]\nLOG_FILE=" + work.file("no/such/folder/engine.log") + "\n");
  const ToolResult result = work.detect(jobs);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find("\"anomalyId\": \"77_"), std::string::npos);
}

TEST_F(LogFileKeyTest, LogFileNamingTheDatabaseIsNotWrittenInto) {
  // Appending log lines to the database or its write-ahead log would corrupt it.
  for (const std::string& target : {work.database(), work.database() + "-wal"}) {
    work.writeConfig("[META_DATA]\nLOG_FILE=" + target + "\n");
    const ToolResult result = work.detect(jobs);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(queryValue(work.database(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(readFile(target).find("dbscan_detection"), std::string::npos) << target;
  }
}

}  // namespace
}  // namespace sfad::test
