// Requests on a file system that fills up part-way through them: insert_data, detect and
// purge_database report the error with a non-zero exit code, store nothing half, leave a
// sound file, and succeed once space is freed. The file system is a size-limited tmpfs,
// mounted only when the tests run as root; otherwise the suite is skipped.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/reliability/JobDataFiles.h"
#include "tests/reliability/ReliabilityChecks.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

constexpr int kNewestHistoryTime = 1765000000;
// The file system holds a few megabytes of database; the filler leaves this much free,
// enough for a request to open the database and start writing, far too little for the
// megabytes each request below has to write.
constexpr const char* kDiskSize = "size=16m";
constexpr unsigned long long kLeftFree = 768 * 1024;
// SQLITE_FULL, as the storage layer's messages end.
constexpr const char* kDiskFull = "Return code : 13";

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a size-limited tmpfs needs root";
    disk_ = dir_.file("disk");
    ASSERT_EQ(mkdir(disk_.c_str(), 0755), 0);
    if (mount("tmpfs", disk_.c_str(), "tmpfs", 0, kDiskSize) != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    }
    mounted_ = true;
    database_ = disk_ + "/detection.db";
    config_ = dir_.file("detection.ini");
    writeFile(config_, "");
    run({"-post", "-action", "initialize_detection", "-database", database_}, 0);
  }

  void TearDown() override {
    if (mounted_) {
      EXPECT_EQ(umount2(disk_.c_str(), MNT_DETACH), 0) << std::strerror(errno);
    }
  }

  // A data file outside the small file system.
  std::string dataFile(const std::string& name, const std::string& operation,
                       const std::vector<GeneratedJob>& jobs) {
    const std::string path = dir_.file(name);
    writeFile(path, jobDataFile(operation, jobs));
    return path;
  }

  ToolResult run(const std::vector<std::string>& arguments, int expectedExitCode) {
    const ToolResult result = runTool(arguments);
    EXPECT_EQ(result.exitCode, expectedExitCode) << result.err;
    return result;
  }

  // Writes a file of zeros (really allocated) until only kLeftFree bytes are free.
  void fillDisk() {
    struct statvfs status {};
    ASSERT_EQ(statvfs(disk_.c_str(), &status), 0);
    unsigned long long toWrite =
        static_cast<unsigned long long>(status.f_bavail) * status.f_frsize - kLeftFree;
    std::ofstream filler(disk_ + "/filler", std::ios::binary);
    const std::vector<char> block(64 * 1024, '\0');
    while (toWrite > 0) {
      const std::size_t size = std::min<unsigned long long>(toWrite, block.size());
      filler.write(block.data(), static_cast<std::streamsize>(size));
      toWrite -= size;
    }
    filler.close();
    ASSERT_TRUE(filler) << "the filler did not fit";
  }

  void freeDisk() { ASSERT_EQ(std::remove((disk_ + "/filler").c_str()), 0); }

  // The error object of a full disk: the code, its message, the start of the inner
  // message, and SQLite's code for a full disk.
  void expectDiskFullError(const ToolResult& result, int code, const std::string& message,
                           const std::string& innerStart) {
    EXPECT_EQ(result.exitCode, code);
    EXPECT_EQ(result.out, "");
    const std::string start = "{\"errorCode\": " + std::to_string(code) + ", \"errorMessage\": \"" +
                              message + "\", \"innerMessage\": \"" + innerStart;
    EXPECT_EQ(result.err.compare(0, start.size(), start), 0) << result.err;
    EXPECT_NE(result.err.find(kDiskFull), std::string::npos) << result.err;
  }

  TempDir dir_;
  std::string disk_;
  bool mounted_ = false;
  std::string database_;
  std::string config_;
};

TEST_F(FullDiskTest, InsertDataStoresAllOrNothingOfTheFile) {
  run({"-post", "-action", "insert_data", "-database", database_, "-data_file",
       dataFile("history.json", "TRAINING_DATA", historyJobs(20, 40, kNewestHistoryTime, 1))},
      0);
  const std::string big =
      dataFile("big.json", "TRAINING_DATA", historyJobs(20, 1000, kNewestHistoryTime, 100000));
  const std::string before = dumpDatabase(database_);
  fillDisk();

  const std::vector<std::string> insert = {
      "-post", "-action", "insert_data", "-database", database_, "-data_file", big};
  expectDiskFullError(runTool(insert), 2, "SQLite database error.", "");
  EXPECT_EQ(integrityCheck(database_), "ok");
  // Megabytes of rows: compared without printing them.
  EXPECT_TRUE(dumpDatabase(database_) == before) << "the failed request changed the database";

  freeDisk();
  run(insert, 0);
  EXPECT_EQ(queryValue(database_, "SELECT COUNT(*) FROM HIST_DATA"), "20800");
  EXPECT_EQ(integrityCheck(database_), "ok");
}

// The run commits its dispositions every 100 records, so a run that fails part-way keeps
// the records it finished; each one stays in exactly one disposition, no anomaly is
// handed out, and the next run takes up the rest.
TEST_F(FullDiskTest, DetectLeavesEveryRecordInOneDisposition) {
  const std::vector<GeneratedJob> history = historyJobs(20, 40, kNewestHistoryTime, 1);
  std::vector<GeneratedJob> queue;  // the history's groups, a quarter far above and a
                                    // quarter far below their usual range
  const double scales[] = {1.0, 40.0, 1.0, 0.02};
  for (int k = 0; k < 3000; ++k) {
    queue.push_back({k % 20, 5000000 + k, kNewestHistoryTime + k, scales[k % 4]});
  }
  run({"-post", "-action", "insert_data", "-database", database_, "-data_file",
       dataFile("history.json", "TRAINING_DATA", history)},
      0);
  run({"-post", "-action", "insert_data", "-database", database_, "-data_file",
       dataFile("queue.json", "DETECTION_DATA", queue)},
      0);
  std::map<std::string, int> everyJobOnce;
  for (const GeneratedJob& job : history) everyJobOnce[uniqueKeyOf(job)] = 1;
  for (const GeneratedJob& job : queue) everyJobOnce[uniqueKeyOf(job)] = 1;
  const std::string empty = dataFile("empty.json", "DETECTION_DATA", {});
  const std::string output = dir_.file("anomalies.json");
  const std::vector<std::string> detect = {"-post",   "-action",      "detect", "-database",
                                           database_, "-data_file",   empty,    "-config_file",
                                           config_,   "-output_file", output};
  fillDisk();

  expectDiskFullError(runTool(detect), 4, "Anomaly detection error.",
                      "Failed to get anomalies from database. ");
  EXPECT_EQ(integrityCheck(database_), "ok");
  const std::string pending =
      queryValue(database_, "SELECT COUNT(*) FROM DATA_TO_PROCESS WHERE PROCESSED_STATUS = 0");
  EXPECT_NE(pending, "0") << "the disk did not fill up before the run ended";
  EXPECT_NE(pending, "3000") << "the disk filled up before the run began";
  EXPECT_EQ(jobRecordCounts(database_), everyJobOnce);
  EXPECT_EQ(anomaliesWithoutHeldJob(database_), std::vector<std::string>{});
  EXPECT_EQ(queryValue(database_, "SELECT COUNT(*) FROM ANOMALY_DATA WHERE PROCESSED = 1"), "0");
  EXPECT_FALSE(fileExists(output));

  freeDisk();
  run(detect, 0);
  EXPECT_EQ(integrityCheck(database_), "ok");
  EXPECT_EQ(
      queryValue(database_, "SELECT COUNT(*) FROM DATA_TO_PROCESS WHERE PROCESSED_STATUS = 0"),
      "0");
  EXPECT_EQ(jobRecordCounts(database_), everyJobOnce);
  // Every anomaly, those of the failed run included, is handed out by this one.
  const std::vector<std::string> handedOut = anomalyIdsOfDetectOutput(readFile(output));
  EXPECT_GT(handedOut.size(), 0u);
  EXPECT_EQ(handedOut, storedAnomalyIds(database_));
}

TEST_F(FullDiskTest, PurgeDeletesAllOrNothing) {
  run({"-post", "-action", "insert_data", "-database", database_, "-data_file",
       dataFile("history.json", "TRAINING_DATA", historyJobs(20, 1000, kNewestHistoryTime, 1))},
      0);
  executeSql(database_,
             "INSERT INTO ANOMALY_DATA VALUES ('1_10', '{}', 1, 'k', 'c', 1000);"
             "INSERT INTO ANOMALY_PER_FEATURE_DATA VALUES ('1_10', 'NUM_FILES', 'f', 1.0, 1.0, "
             "1.0, 'u', '{}');"
             "INSERT INTO ANOMALY_DATA_FEEDBACK VALUES ('1_10', 1, 1000);");
  const std::string before = dumpDatabase(database_);
  // A negative interval puts the cut-off at the largest storable time: everything goes.
  const std::vector<std::string> purge = {"-post",     "-action", "purge_database",
                                          "-database", database_, "-purge_interval_in_months",
                                          " -1000"};
  fillDisk();

  expectDiskFullError(runTool(purge), 2, "SQLite database error.", "Failed to purge database. ");
  EXPECT_EQ(integrityCheck(database_), "ok");
  EXPECT_TRUE(dumpDatabase(database_) == before) << "the failed request changed the database";

  freeDisk();
  run(purge, 0);
  EXPECT_EQ(integrityCheck(database_), "ok");
  for (const char* table : {"HIST_DATA", "ANOMALY_DATA", "ANOMALY_PER_FEATURE_DATA",
                            "ANOMALY_DATA_FEEDBACK", "DATA_TO_PROCESS"}) {
    EXPECT_EQ(queryValue(database_, std::string("SELECT COUNT(*) FROM ") + table), "0") << table;
  }
}

}  // namespace
}  // namespace sfad::test
