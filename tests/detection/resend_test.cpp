// End-to-end: a data file delivered again, before or after detect and feedback, in
// either operation, keeps every feedback mark, keeps each job in one table, hands out
// no anomaly twice, and leaves the job with the values of the last sending.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/detection/DetectFixtures.h"

namespace sfad::test {
namespace {

constexpr long long kNextDay = kNewestHistoryBackup + kDay;

// Three anomalous jobs (77 gets feedback 1, 78 feedback 2, 79 none) and a normal one.
std::vector<DataPoint> sentJobs(double numFiles) {
  std::vector<DataPoint> jobs = {largeImageJob("77", kNextDay), largeImageJob("78", kNextDay + 1),
                                 largeImageJob("79", kNextDay + 2), usualJob("80", kNextDay + 3)};
  for (DataPoint& job : jobs) job.numFiles = numFiles;
  return jobs;
}

std::string anomalyId(const std::string& jobId, long long backupTime) {
  return jobId + "_" + std::to_string(backupTime);
}

// The anomaly ids in a detect output, in order.
std::vector<std::string> handedOutIds(const std::string& output) {
  const std::string member = "\"anomalyId\": \"";
  std::vector<std::string> ids;
  for (std::size_t at = output.find(member); at != std::string::npos;
       at = output.find(member, at + 1)) {
    const std::size_t start = at + member.size();
    ids.push_back(output.substr(start, output.find('"', start) - start));
  }
  return ids;
}

enum class Step { SendDetection, ResendTraining, ResendDetection, Detect, Feedback };

struct ResendScenario {
  const char* name;
  std::vector<Step> steps;
};

class ResendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(
        work.insert(work.writeData("history.json", "TRAINING_DATA", {standardHistory()})).exitCode,
        0);
  }

  void send(const std::string& operation, double numFiles) {
    JobGroup group;
    group.points = sentJobs(numFiles);
    const ToolResult stored = work.insert(work.writeData("jobs.json", operation, {group}));
    ASSERT_EQ(stored.exitCode, 0) << stored.err;
  }

  void detect() {
    const ToolResult result = work.detectQueued();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const std::string& id : handedOutIds(result.out)) ++handedOut[id];
  }

  void feedback(const std::string& id, const char* value) {
    const ToolResult result = runTool({"-post", "-action", "userfeedback", "-database",
                                       work.database(), "-anomaly_id", id, "-feedback", value});
    ASSERT_EQ(result.exitCode, 0) << result.err;
  }

  void perform(Step step) {
    switch (step) {
      case Step::SendDetection:
        return send("DETECTION_DATA", 1002);
      case Step::ResendTraining:
        return send("TRAINING_DATA", 1003);
      case Step::ResendDetection:
        return send("DETECTION_DATA", 1003);
      case Step::Detect:
        return detect();
      case Step::Feedback:
        feedback(anomalyId("77", kNextDay), "1");
        return feedback(anomalyId("78", kNextDay + 1), "2");
    }
  }

  TextRows rows(const std::string& sql) const { return queryRows(work.database(), sql); }

  DetectWorkspace work;
  std::map<std::string, int> handedOut;
};

TEST_F(ResendTest, SendingAgainKeepsMarksTablesAndHandOutsWhateverTheMoment) {
  using S = Step;
  const ResendScenario scenarios[] = {
      {"training, before detect",
       {S::SendDetection, S::ResendTraining, S::Detect, S::Feedback, S::Detect}},
      {"detection, before detect",
       {S::SendDetection, S::ResendDetection, S::Detect, S::Feedback, S::Detect}},
      {"training, after detect",
       {S::SendDetection, S::Detect, S::ResendTraining, S::Feedback, S::Detect}},
      {"detection, after detect",
       {S::SendDetection, S::Detect, S::ResendDetection, S::Feedback, S::Detect}},
      {"training, after feedback was stored",
       {S::SendDetection, S::Detect, S::Feedback, S::ResendTraining, S::Detect}},
      {"detection, after feedback was stored",
       {S::SendDetection, S::Detect, S::Feedback, S::ResendDetection, S::Detect}},
      {"training, after feedback was incorporated",
       {S::SendDetection, S::Detect, S::Feedback, S::Detect, S::ResendTraining, S::Detect}},
      {"detection, after feedback was incorporated",
       {S::SendDetection, S::Detect, S::Feedback, S::Detect, S::ResendDetection, S::Detect}},
      {"both operations, twice",
       {S::SendDetection, S::Detect, S::ResendDetection, S::ResendTraining, S::Detect, S::Feedback,
        S::Detect, S::ResendTraining, S::ResendDetection, S::Detect}},
  };
  for (const ResendScenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    executeSql(work.database(),
               "DELETE FROM DATA_TO_PROCESS; DELETE FROM ANOMALY_DATA; "
               "DELETE FROM ANOMALY_PER_FEATURE_DATA; DELETE FROM ANOMALY_DATA_FEEDBACK; "
               "DELETE FROM HIST_DATA WHERE JOB_ID IN (77, 78, 79, 80);");
    handedOut.clear();
    for (const Step step : scenario.steps) {
      perform(step);
      ASSERT_FALSE(HasFatalFailure());
    }

    // Each anomaly handed out once; feedback consumed; the marks and the held job.
    EXPECT_EQ(handedOut, (std::map<std::string, int>{{anomalyId("77", kNextDay), 1},
                                                     {anomalyId("78", kNextDay + 1), 1},
                                                     {anomalyId("79", kNextDay + 2), 1}}));
    EXPECT_EQ(rows("SELECT COUNT(*) FROM ANOMALY_DATA_FEEDBACK"), (TextRows{{"0"}}));
    EXPECT_EQ(rows("SELECT JOB_ID, USER_IDENTIFIED_CLUSTER, NUM_FILES FROM HIST_DATA "
                   "WHERE JOB_ID IN (77, 78, 79, 80) ORDER BY JOB_ID"),
              (TextRows{{"77", "1", "1003"}, {"78", "2", "1003"}, {"80", "-1", "1003"}}));
    EXPECT_EQ(rows("SELECT JOB_ID, PROCESSED_STATUS, NUM_FILES FROM DATA_TO_PROCESS"),
              (TextRows{{"79", "1", "1003"}}));
  }
}

// A database written before a job was kept in one table may hold a pending copy of
// a history job: the next run retires it into its history row, whose mark stays and
// whose values become the queued copy's, without judging it again.
TEST_F(ResendTest, PendingCopyOfAHistoryJobIsRetiredKeepingItsMark) {
  send("DETECTION_DATA", 1002);
  ASSERT_FALSE(HasFatalFailure());
  executeSql(work.database(),
             "INSERT INTO HIST_DATA SELECT * FROM DATA_TO_PROCESS; "
             "UPDATE HIST_DATA SET USER_IDENTIFIED_CLUSTER = 1, NUM_FILES = 5 "
             "WHERE JOB_ID IN (77, 78, 79, 80);");
  detect();
  EXPECT_TRUE(handedOut.empty());
  EXPECT_EQ(rows("SELECT COUNT(*) FROM DATA_TO_PROCESS"), (TextRows{{"0"}}));
  EXPECT_EQ(
      rows("SELECT JOB_ID, USER_IDENTIFIED_CLUSTER, NUM_FILES FROM HIST_DATA "
           "WHERE JOB_ID IN (77, 78, 79, 80) ORDER BY JOB_ID"),
      (TextRows{
          {"77", "1", "1002"}, {"78", "1", "1002"}, {"79", "1", "1002"}, {"80", "1", "1002"}}));
}

}  // namespace
}  // namespace sfad::test
