// Job groups, data files and configuration files of the detect suite, and a
// temporary database initialised by the tool.
#pragma once

#include <string>
#include <vector>

#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {

// Newest backup of the standard history is kHistoryStart + 39 days.
constexpr int kHistoryStart = 1700000000;
constexpr int kDay = 86400;
constexpr int kNewestHistoryBackup = kHistoryStart + 39 * kDay;

// One data point in the column order of kDataPointFields.
struct DataPoint {
  std::string jobId;
  long long backupTime = 0;
  double imageSize = 0;
  double numFiles = 0;
  double kbTransferred = 0;
  double totalTime = 0;
  double dedupRate = 0;
};

struct JobGroup {
  std::string client = "c1";
  std::string policy = "p1";
  std::string policyType = "Standard";
  std::string scheduleType = "FULL";
  std::string scheduleName = "daily";
  std::string storage = "pool";
  std::vector<DataPoint> points;
};

// 40 daily jobs whose five features cycle through five close values: one tight
// cluster with image sizes of 100 to 104 MB.
JobGroup standardHistory(const std::string& client = "c1");
// A job of the standard group with usual values, or with an image size of 400
// MB.
DataPoint usualJob(const std::string& jobId, long long backupTime);
DataPoint largeImageJob(const std::string& jobId, long long backupTime);

std::string dataFileText(const std::string& operation, const std::vector<JobGroup>& groups);

// A temporary folder holding an initialised database and the files of one test.
class DetectWorkspace {
 public:
  DetectWorkspace();

  const std::string& database() const { return database_; }
  std::string file(const std::string& name) const { return folder_.file(name); }
  // Writes a data file and answers its path.
  std::string writeData(const std::string& name, const std::string& operation,
                        const std::vector<JobGroup>& groups) const;
  // Writes the configuration file used by detect() (empty text: all defaults).
  void writeConfig(const std::string& text) const;
  std::string configPath() const { return folder_.file("detection.ini"); }

  ToolResult insert(const std::string& dataPath) const;
  ToolResult detect(const std::string& dataPath, const std::vector<std::string>& extra = {}) const;
  // detect with a data file that adds nothing.
  ToolResult detectQueued(const std::vector<std::string>& extra = {}) const;

 private:
  TempDir folder_;
  std::string database_;
};

// The stored details of an anomaly, and their DETECTION_TIME as text.
std::string storedDetails(const std::string& database, const std::string& anomalyId);
std::string detectionTime(const std::string& database, const std::string& anomalyId);

}  // namespace sfad::test
