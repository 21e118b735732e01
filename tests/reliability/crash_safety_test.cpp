// Requests killed with SIGKILL at seeded random moments: a data file is stored whole or
// not at all, a detection run leaves every record in exactly one disposition and no
// anomaly without its held record, the file stays sound and the next requests succeed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/reliability/JobDataFiles.h"
#include "tests/reliability/KilledRequest.h"
#include "tests/reliability/ReliabilityChecks.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

constexpr int kKills = 50;
constexpr int kNewestHistoryTime = 1765000000;

// Seeded, so that a failure can be replayed with the same moments.
class KillMoments {
 public:
  KillMoments(unsigned seed, int maxMilliseconds)
      : random_(seed), moments_(0, maxMilliseconds * 1000) {}
  std::chrono::microseconds next() { return std::chrono::microseconds(moments_(random_)); }

 private:
  std::mt19937 random_;
  std::uniform_int_distribution<int> moments_;
};

void initialise(const std::string& database) {
  const ToolResult result =
      runTool({"-post", "-action", "initialize_detection", "-database", database});
  ASSERT_EQ(result.exitCode, 0) << result.err;
}

void insertData(const std::string& database, const std::string& dataFile) {
  const ToolResult result =
      runTool({"-post", "-action", "insert_data", "-database", database, "-data_file", dataFile});
  ASSERT_EQ(result.exitCode, 0) << result.err;
}

// After a crash the database must serve requests again: a read, and a write.
void expectNextRequestsSucceed(const std::string& database, int round) {
  const ToolResult query = runTool({"-get", "-action", "anomalies", "-database", database,
                                    "-min_backup_time", "0", "-max_backup_time", "2147483647"});
  EXPECT_EQ(query.exitCode, 0) << "round " << round << ": " << query.err;
  const ToolResult feedback =
      runTool({"-post", "-action", "userfeedback", "-database", database, "-feedback", "3",
               "-anomaly_id", "no-such-anomaly-" + std::to_string(round)});
  EXPECT_EQ(feedback.exitCode, 0) << "round " << round << ": " << feedback.err;
}

void removeDatabase(const std::string& database) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((database + suffix).c_str());
}

int countOfKeys(const std::map<std::string, int>& counts, const std::vector<GeneratedJob>& jobs) {
  int present = 0;
  for (const GeneratedJob& job : jobs) present += counts.count(uniqueKeyOf(job));
  return present;
}

TEST(CrashSafetyTest, KilledInsertStoresAllOrNoneOfTheFile) {
  TempDir dir;
  std::vector<GeneratedJob> jobs;
  for (int point = 0; point < 20000; ++point) {
    jobs.push_back({point % 20, 1000000 + point, kNewestHistoryTime + point, 1.0});
  }
  const std::string dataFile = dir.file("big.json");
  writeFile(dataFile, jobDataFile("TRAINING_DATA", jobs));
  const std::string oneMoreJob = dir.file("one.json");
  writeFile(oneMoreJob, jobDataFile("TRAINING_DATA", {{0, 1, kNewestHistoryTime - 1, 1.0}}));
  KillMoments moments(20240611, 900);
  int killed = 0;
  for (int round = 0; round < kKills; ++round) {
    const std::string database = dir.file("round-" + std::to_string(round) + ".db");
    initialise(database);
    const KillOutcome outcome = runToolKilledAfter(
        {"-post", "-action", "insert_data", "-database", database, "-data_file", dataFile},
        moments.next(), dir.file("err.txt"));
    if (outcome.killed) {
      ++killed;
    } else {
      EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    }
    ASSERT_EQ(integrityCheck(database), "ok") << "round " << round;
    const int stored = std::stoi(queryValue(database, "SELECT COUNT(*) FROM HIST_DATA"));
    EXPECT_TRUE(stored == 0 || stored == 20000) << "round " << round << ": " << stored;
    if (!outcome.killed) {
      EXPECT_EQ(stored, 20000) << "round " << round;
    }
    expectNextRequestsSucceed(database, round);
    insertData(database, oneMoreJob);
    EXPECT_EQ(queryValue(database, "SELECT COUNT(*) FROM HIST_DATA"), std::to_string(stored + 1));
    removeDatabase(database);
  }
  EXPECT_GT(killed, 0) << "no request was killed before it finished";
}

// A batch of new jobs of the twenty groups, a quarter of them far above and a quarter far
// below their group's usual range.
std::vector<GeneratedJob> detectionJobs(int round, int count) {
  std::vector<GeneratedJob> jobs;
  const double scales[] = {1.0, 40.0, 1.0, 0.02};
  for (int k = 0; k < count; ++k) {
    jobs.push_back({k % 20, 5000000LL + 1000LL * round + k, kNewestHistoryTime + 3600 * round + k,
                    scales[k % 4]});
  }
  return jobs;
}

TEST(CrashSafetyTest, KilledDetectLeavesEveryRecordInOneDisposition) {
  TempDir dir;
  const std::string database = dir.file("detection.db");
  const std::string config = dir.file("detection.ini");
  writeFile(config, "");
  initialise(database);
  const std::vector<GeneratedJob> history = historyJobs(20, 40, kNewestHistoryTime, 1);
  writeFile(dir.file("history.json"), jobDataFile("TRAINING_DATA", history));
  insertData(database, dir.file("history.json"));
  std::vector<GeneratedJob> sent = history;

  // Kill moments span twice what one such request takes unkilled on a copy of the
  // database, so that the kills fall inside the request however fast the machine and the
  // engine are.
  const std::string probe = dir.file("probe.db");
  writeFile(probe, readFile(database));
  writeFile(dir.file("probe.json"), jobDataFile("DETECTION_DATA", detectionJobs(0, 60)));
  const auto probeStart = std::chrono::steady_clock::now();
  const ToolResult probeRun = runTool({"-post", "-action", "detect", "-database", probe,
                                       "-data_file", dir.file("probe.json"), "-config_file", config,
                                       "-output_file", dir.file("probe-out.json")});
  ASSERT_EQ(probeRun.exitCode, 0) << probeRun.err;
  const auto requestMilliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - probeStart)
                                       .count();
  KillMoments moments(20240612, static_cast<int>(std::max<long long>(20, 2 * requestMilliseconds)));
  int killed = 0;
  for (int round = 0; round < kKills; ++round) {
    const std::vector<GeneratedJob> jobs = detectionJobs(round, 60);
    const std::string dataFile = dir.file("queue.json");
    writeFile(dataFile, jobDataFile("DETECTION_DATA", jobs));
    const KillOutcome outcome =
        runToolKilledAfter({"-post", "-action", "detect", "-database", database, "-data_file",
                            dataFile, "-config_file", config, "-output_file", dir.file("out.json")},
                           moments.next(), dir.file("err.txt"));
    if (outcome.killed) {
      ++killed;
    } else {
      EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    }

    ASSERT_EQ(integrityCheck(database), "ok") << "round " << round;
    const std::map<std::string, int> counts = jobRecordCounts(database);
    const int stored = countOfKeys(counts, jobs);
    EXPECT_TRUE(stored == 0 || stored == static_cast<int>(jobs.size()))
        << "round " << round << ": " << stored << " of the file's records stored";
    if (stored != 0) sent.insert(sent.end(), jobs.begin(), jobs.end());
    std::map<std::string, int> expected;
    for (const GeneratedJob& job : sent) expected[uniqueKeyOf(job)] = 1;
    EXPECT_EQ(counts, expected) << "round " << round;
    EXPECT_EQ(queryValue(database,
                         "SELECT COUNT(*) FROM DATA_TO_PROCESS WHERE "
                         "PROCESSED_STATUS NOT IN (0, 1)"),
              "0");
    EXPECT_EQ(anomaliesWithoutHeldJob(database), std::vector<std::string>{}) << "round " << round;
    expectNextRequestsSucceed(database, round);
  }
  EXPECT_GT(killed, 0) << "no request was killed before it finished";

  // The next run, not killed, takes up whatever the killed ones left pending.
  writeFile(dir.file("empty.json"), R"({"operation": "DETECTION_DATA", "data": []})");
  const ToolResult last = runTool({"-post", "-action", "detect", "-database", database,
                                   "-data_file", dir.file("empty.json"), "-config_file", config});
  ASSERT_EQ(last.exitCode, 0) << last.err;
  EXPECT_EQ(queryValue(database, "SELECT COUNT(*) FROM DATA_TO_PROCESS WHERE PROCESSED_STATUS = 0"),
            "0");
  EXPECT_EQ(queryValue(database, "SELECT COUNT(*) FROM ANOMALY_DATA WHERE PROCESSED != 1"), "0");
  EXPECT_GT(storedAnomalyIds(database).size(), 0u);
  EXPECT_EQ(integrityCheck(database), "ok");
}

}  // namespace
}  // namespace sfad::test
