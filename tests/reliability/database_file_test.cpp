// The database file on disk: whatever file-creation mask the caller has, it is created
// with mode 0644, and no request leaves anything beside it but SQLite's -wal and -shm.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/reliability/JobDataFiles.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

// Sets the test process's mask (inherited by the tool) for one scope.
class CallerMask {
 public:
  explicit CallerMask(mode_t mask) : previous_(umask(mask)) {}
  ~CallerMask() { umask(previous_); }
  CallerMask(const CallerMask&) = delete;
  CallerMask& operator=(const CallerMask&) = delete;

 private:
  const mode_t previous_;
};

std::set<std::string> entriesOf(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

mode_t permissionsOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

// Only the database and SQLite's own companions, each with the database's mode.
void expectOnlyDatabaseFiles(const std::string& folder, const std::string& request) {
  const std::set<std::string> allowed = {"detection.db", "detection.db-wal", "detection.db-shm"};
  for (const std::string& name : entriesOf(folder)) {
    EXPECT_TRUE(allowed.count(name)) << request << " left " << name << " beside the database";
    EXPECT_EQ(permissionsOf(folder + "/" + name), 0644u) << request << ": " << name;
  }
}

TEST(DatabaseFileTest, CreatedWithMode0644AndNothingBesideIt) {
  for (const mode_t callerMask : {mode_t{0}, mode_t{077}, mode_t{0222}}) {
    TempDir inputs;
    TempDir folder;
    const std::string database = folder.file("detection.db");
    writeFile(inputs.file("history.json"),
              jobDataFile("TRAINING_DATA", historyJobs(1, 35, 1765000000, 1)));
    writeFile(
        inputs.file("queue.json"),
        jobDataFile("DETECTION_DATA", {{0, 900, 1765000100, 40.0}, {0, 901, 1765000200, 1.0}}));
    writeFile(inputs.file("detection.ini"), "");
    const std::vector<std::vector<std::string>> requests = {
        {"-get", "-action", "status", "-database", database},
        {"-post", "-action", "initialize_detection", "-database", database},
        {"-post", "-action", "insert_data", "-database", database, "-data_file",
         inputs.file("history.json")},
        {"-post", "-action", "detect", "-database", database, "-data_file",
         inputs.file("queue.json"), "-config_file", inputs.file("detection.ini"), "-output_file",
         inputs.file("out.json")},
        {"-get", "-action", "anomalies", "-database", database, "-job_ids", "900"},
        {"-post", "-action", "userfeedback", "-database", database, "-feedback", "1", "-anomaly_id",
         "900_1765000100"},
        {"-post", "-action", "purge_database", "-database", database, "-purge_interval_in_months",
         "1000"},
    };
    const CallerMask mask(callerMask);
    for (const auto& request : requests) {
      const ToolResult result = runTool(request);
      EXPECT_EQ(result.exitCode, 0) << request[2] << ": " << result.err;
      expectOnlyDatabaseFiles(folder.path(), request[2]);
    }
    EXPECT_EQ(permissionsOf(database), 0644u) << "caller mask " << callerMask;
  }
}

}  // namespace
}  // namespace sfad::test
