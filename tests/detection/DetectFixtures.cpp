// Builders of the detect suite's data files and the tool calls on its
// workspace.
#include "tests/detection/DetectFixtures.h"

#include <gtest/gtest.h>

#include <sstream>

namespace sfad::test {

namespace {

constexpr const char* kDataPointFields =
    "JOB_ID,BACKUP_TIME,IMAGE_SIZE,NUM_FILES,DATA_TRANSFERRED,TOTAL_TIME,DEDUP_"
    "RATE";

void writePoint(std::ostringstream& out, const DataPoint& point) {
  out << "[\"" << point.jobId << "\", " << point.backupTime << ", " << point.imageSize << ", "
      << point.numFiles << ", " << point.kbTransferred << ", " << point.totalTime << ", "
      << point.dedupRate << "]";
}

void writeGroup(std::ostringstream& out, const JobGroup& group) {
  out << "{\"client\": \"" << group.client << "\", \"policy\": \"" << group.policy
      << "\", \"policy_type\": \"" << group.policyType << "\", \"schedule_type\": \""
      << group.scheduleType << "\", \"schedule_name\": \"" << group.scheduleName
      << "\", \"destination_storage\": \"" << group.storage << "\", \"data_points\": [";
  for (std::size_t i = 0; i < group.points.size(); ++i) {
    if (i != 0) out << ", ";
    writePoint(out, group.points[i]);
  }
  out << "]}";
}

}  // namespace

JobGroup standardHistory(const std::string& client) {
  JobGroup group;
  group.client = client;
  for (int day = 0; day < 40; ++day) {
    const int step = day % 5;
    group.points.push_back(DataPoint{"h" + std::to_string(day), kHistoryStart + day * kDay,
                                     (100.0 + step) * 1024, 1000.0 + step, (100.0 + step) * 1024,
                                     600.0 + step, 90.0 + step});
  }
  return group;
}

DataPoint usualJob(const std::string& jobId, long long backupTime) {
  return DataPoint{jobId, backupTime, 102.0 * 1024, 1002, 102.0 * 1024, 602, 92};
}

DataPoint largeImageJob(const std::string& jobId, long long backupTime) {
  return DataPoint{jobId, backupTime, 400.0 * 1024, 1002, 102.0 * 1024, 602, 92};
}

std::string dataFileText(const std::string& operation, const std::vector<JobGroup>& groups) {
  std::ostringstream out;
  out << "{\"operation\": \"" << operation << "\", \"data_points_fields\": \"" << kDataPointFields
      << "\", \"data\": [";
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (i != 0) out << ", ";
    writeGroup(out, groups[i]);
  }
  out << "]}";
  return out.str();
}

DetectWorkspace::DetectWorkspace() : database_(folder_.file("detection.db")) {
  const ToolResult created =
      runTool({"-post", "-action", "initialize_detection", "-database", database_});
  EXPECT_EQ(created.exitCode, 0) << created.err;
  writeConfig("");
}

std::string DetectWorkspace::writeData(const std::string& name, const std::string& operation,
                                       const std::vector<JobGroup>& groups) const {
  const std::string path = folder_.file(name);
  writeFile(path, dataFileText(operation, groups));
  return path;
}

void DetectWorkspace::writeConfig(const std::string& text) const { writeFile(configPath(), text); }

ToolResult DetectWorkspace::insert(const std::string& dataPath) const {
  return runTool(
      {"-post", "-action", "insert_data", "-database", database_, "-data_file", dataPath});
}

ToolResult DetectWorkspace::detect(const std::string& dataPath,
                                   const std::vector<std::string>& extra) const {
  std::vector<std::string> arguments{"-post",     "-action",      "detect",
                                     "-database", database_,      "-data_file",
                                     dataPath,    "-config_file", configPath()};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return runTool(arguments);
}

ToolResult DetectWorkspace::detectQueued(const std::vector<std::string>& extra) const {
  return detect(writeData("nothing.json", "TRAINING_DATA", {}), extra);
}

std::string storedDetails(const std::string& database, const std::string& anomalyId) {
  return queryValue(database,
                    "SELECT ANOMALY_DETAILS FROM ANOMALY_DATA WHERE "
                    "ANOMALY_UNIQUE_ID = '" +
                        anomalyId + "'");
}

std::string detectionTime(const std::string& database, const std::string& anomalyId) {
  return queryValue(database,
                    "SELECT DETECTION_TIME FROM ANOMALY_DATA WHERE "
                    "ANOMALY_UNIQUE_ID = '" +
                        anomalyId + "'");
}

}  // namespace sfad::test
