// Eight processes issue mixed requests against one database at the same time. No busy
// error may reach a caller, no request may wait without bound, every job record ends in
// exactly one table, and every stored anomaly is handed out by exactly one detect.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/reliability/JobDataFiles.h"
#include "tests/reliability/ReliabilityChecks.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

constexpr int kLanes = 8;
constexpr int kRequestsPerLane = 50;
constexpr int kGroups = 6;
constexpr int kHistoryPerGroup = 40;
constexpr int kNewestHistoryTime = 1765000000;
constexpr long long kMillisecondsBound = 60000;

// One lane's requests, run in a child process; its outcomes go to a report file that the
// parent reads once every lane has ended.
class Lane {
 public:
  Lane(const TempDir& dir, std::string database, std::string config, int lane)
      : dir_(dir),
        database_(std::move(database)),
        config_(std::move(config)),
        lane_(lane),
        random_(static_cast<unsigned>(1000 + lane)),
        report_(reportPath(dir, lane)) {}

  static std::string reportPath(const TempDir& dir, int lane) {
    return dir.file("lane-" + std::to_string(lane) + ".report");
  }

  void run() {
    for (int request = 0; request < kRequestsPerLane; ++request) runRequest(request);
  }

 private:
  std::string file(int request, const std::string& suffix) const {
    return dir_.file("lane-" + std::to_string(lane_) + "-" + std::to_string(request) + suffix);
  }

  // A few jobs of random groups, some far outside their group's usual range; every job id
  // is used once in the whole test.
  std::vector<GeneratedJob> newJobs(int request, bool withOutliers) {
    std::vector<GeneratedJob> jobs;
    const int count = 1 + static_cast<int>(random_() % 3);
    for (int k = 0; k < count; ++k) {
      GeneratedJob job;
      job.group = static_cast<int>(random_() % kGroups);
      job.jobId = 1000000LL * (lane_ + 1) + 100LL * request + k;
      job.backupTime = kNewestHistoryTime + 60 * (request * 10 + k + 1) + lane_;
      const unsigned kind = random_() % 4;
      job.scale = !withOutliers || kind < 2 ? 1.0 : (kind == 2 ? 40.0 : 0.02);
      jobs.push_back(job);
    }
    for (const GeneratedJob& job : jobs) report_ << "key " << uniqueKeyOf(job) << "\n";
    return jobs;
  }

  std::vector<std::string> argumentsOf(int request) {
    const std::string kind = kinds_[random_() % kinds_.size()];
    if (kind == "history" || kind == "queue" || kind == "detect") {
      const bool training = kind == "history";
      const std::string data = file(request, ".json");
      writeFile(data, jobDataFile(training ? "TRAINING_DATA" : "DETECTION_DATA",
                                  newJobs(request, !training)));
      if (kind != "detect") {
        return {"-post", "-action", "insert_data", "-database", database_, "-data_file", data};
      }
      return {"-post",
              "-action",
              "detect",
              "-database",
              database_,
              "-data_file",
              data,
              "-config_file",
              config_,
              "-output_file",
              file(request, ".out")};
    }
    if (kind == "feedback") {
      return {"-post",       "-action", "userfeedback",
              "-database",   database_, "-feedback",
              "1",           "-client", "client-" + std::to_string(random_() % kGroups),
              "-start_time", "0",       "-end_time",
              "2147483647"};
    }
    if (kind == "anomalies") {
      return {"-get", "-action",          "anomalies", "-database", database_, "-min_backup_time",
              "0",    "-max_backup_time", "2147483647"};
    }
    if (kind == "purge") {
      return {"-post",     "-action", "purge_database",
              "-database", database_, "-purge_interval_in_months",
              "1000"};
    }
    return {"-get", "-action", "status", "-database", database_};
  }

  void runRequest(int request) {
    const std::vector<std::string> arguments = argumentsOf(request);
    const auto start = std::chrono::steady_clock::now();
    const ToolResult result = runTool(arguments);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    report_ << "request " << arguments[2] << " " << result.exitCode << " " << elapsed.count()
            << "\n";
    if (!result.err.empty()) report_ << "stderr " << result.err << "\n";
    if (arguments[2] == "detect") report_ << "output " << arguments.back() << "\n";
    report_.flush();
  }

  const std::vector<std::string> kinds_ = {"history",  "queue",     "detect", "detect", "detect",
                                           "feedback", "anomalies", "purge",  "status"};
  const TempDir& dir_;
  const std::string database_;
  const std::string config_;
  const int lane_;
  std::mt19937 random_;
  std::ofstream report_;
};

struct LaneReports {
  std::vector<std::string> failures;  // requests that did not exit 0 or took too long
  std::set<std::string> sentKeys;
  std::vector<std::string> detectOutputs;
  std::map<std::string, int> requestsByAction;
};

void readReport(const std::string& path, LaneReports& reports) {
  std::ifstream report(path);
  for (std::string line; std::getline(report, line);) {
    std::istringstream fields(line);
    std::string tag;
    fields >> tag;
    if (tag == "key") {
      std::string key;
      fields >> key;
      reports.sentKeys.insert(key);
    } else if (tag == "output") {
      std::string output;
      fields >> output;
      reports.detectOutputs.push_back(output);
    } else if (tag == "request") {
      std::string action;
      int exitCode;
      long long milliseconds;
      fields >> action >> exitCode >> milliseconds;
      ++reports.requestsByAction[action];
      if (exitCode != 0 || milliseconds >= kMillisecondsBound) reports.failures.push_back(line);
    } else {
      reports.failures.push_back(line);
    }
  }
}

TEST(ConcurrentRequestsTest, MixedRequestsOfEightProcessesKeepEveryRecordAndAnomaly) {
  TempDir dir;
  const std::string database = dir.file("detection.db");
  const std::string config = dir.file("detection.ini");
  writeFile(config, "[ANOMALY_MODEL_SETTINGS]\nMIN_OBSERVATIONS_FOR_TRAINING=30\n");
  ASSERT_EQ(runTool({"-post", "-action", "initialize_detection", "-database", database}).exitCode,
            0);
  const std::vector<GeneratedJob> history =
      historyJobs(kGroups, kHistoryPerGroup, kNewestHistoryTime, 1);
  writeFile(dir.file("history.json"), jobDataFile("TRAINING_DATA", history));
  ASSERT_EQ(runTool({"-post", "-action", "insert_data", "-database", database, "-data_file",
                     dir.file("history.json")})
                .exitCode,
            0);

  std::vector<pid_t> children;
  for (int lane = 0; lane < kLanes; ++lane) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Lane(dir, database, config, lane).run();
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  LaneReports reports;
  for (const GeneratedJob& job : history) reports.sentKeys.insert(uniqueKeyOf(job));
  for (int lane = 0; lane < kLanes; ++lane) readReport(Lane::reportPath(dir, lane), reports);
  EXPECT_EQ(reports.failures, std::vector<std::string>{});
  int requests = 0;
  for (const auto& [action, count] : reports.requestsByAction) requests += count;
  EXPECT_EQ(requests, kLanes * kRequestsPerLane);

  // One last detect hands out whatever the others left waiting.
  writeFile(dir.file("empty.json"), R"({"operation": "DETECTION_DATA", "data": []})");
  const ToolResult last = runTool({"-post", "-action", "detect", "-database", database,
                                   "-data_file", dir.file("empty.json"), "-config_file", config});
  ASSERT_EQ(last.exitCode, 0) << last.err;

  EXPECT_EQ(integrityCheck(database), "ok");
  std::map<std::string, int> expectedCounts;
  for (const std::string& key : reports.sentKeys) expectedCounts[key] = 1;
  EXPECT_EQ(jobRecordCounts(database), expectedCounts);

  std::multiset<std::string> handedOut;
  for (const std::string& output : reports.detectOutputs) {
    for (const std::string& id : anomalyIdsOfDetectOutput(readFile(output))) handedOut.insert(id);
  }
  for (const std::string& id : anomalyIdsOfDetectOutput(last.out)) handedOut.insert(id);
  const std::vector<std::string> stored = storedAnomalyIds(database);
  EXPECT_EQ(handedOut, std::multiset<std::string>(stored.begin(), stored.end()));
  EXPECT_GT(stored.size(), 0u) << "the generated outliers must be detected";
  EXPECT_EQ(anomaliesWithoutHeldJob(database), std::vector<std::string>{});
  EXPECT_EQ(queryValue(database, "SELECT COUNT(*) FROM ANOMALY_DATA WHERE PROCESSED != 1"), "0");
}

}  // namespace
}  // namespace sfad::test
