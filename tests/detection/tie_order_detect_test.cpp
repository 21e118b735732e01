// detect on a history whose training sets are cut inside runs of rows sharing one
// BACKUP_TIME (the streams of one backup; one asset's backups to two storages at once)
// gives the same anomalies, stored rows and radii on a database made before the read
// indexes as on one brought up to date; an index that orders such rows otherwise
// changes the stored radius, so the comparison would see it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "storage/Schema.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

using sfad::test::executeSql;
using sfad::test::queryRows;
using sfad::test::readFile;
using sfad::test::runTool;
using sfad::test::TempDir;
using sfad::test::writeFile;

namespace {

constexpr long long kStart = 1700000000;
constexpr int kDay = 86400;
constexpr int kBackups = 30;
constexpr int kStreams = 4;
// Ten backups of four streams and two rows of the eleventh.
constexpr int kTrainingLimit = 42;

const char kFields[] =
    "JOB_ID,BACKUP_TIME,IMAGE_SIZE,NUM_FILES,DATA_TRANSFERRED,TOTAL_TIME,DEDUP_RATE,"
    "STREAM_NUMBER";

// One data point; each stream (or storage) has values of its own size.
std::string point(int job, long long time, int scale, int stream) {
  char text[200];
  std::snprintf(text, sizeof text, "[\"%d\", %lld, %.2f, %d, %.2f, %d, %.2f, %d]", job, time,
                1.0e6 * scale * (1.0 + 0.013 * (job % 7)), 1000 * scale + job % 5,
                5.0e5 * scale * (1.0 + 0.011 * (job % 3)), 60 * scale + job % 4,
                50.0 + scale + 0.1 * (job % 6), stream);
  return text;
}

std::string group(const std::string& storage, const std::string& asset,
                  const std::vector<std::string>& points) {
  std::string text =
      "{\"client\": \"c1\", \"policy\": \"p1\", \"policy_type\": \"Standard\", "
      "\"schedule_type\": \"FULL\", \"schedule_name\": \"daily\", "
      "\"destination_storage\": \"" +
      storage + "\"";
  if (!asset.empty()) text += ", \"asset_id\": \"" + asset + "\"";
  text += ", \"data_points\": [";
  for (std::size_t i = 0; i < points.size(); ++i) text += (i ? ", " : "") + points[i];
  return text + "]}";
}

std::string dataFile(const char* operation, const std::vector<std::string>& groups) {
  std::string text = std::string("{\"operation\": \"") + operation +
                     "\", \"data_points_fields\": \"" + kFields + "\", \"data\": [";
  for (std::size_t i = 0; i < groups.size(); ++i) text += (i ? ", " : "") + groups[i];
  return text + "]}";
}

// The multi-stream group: streams 1 to 4 of every backup share its time, stored in
// stream order. Streams 3 and 4 of the backup the training set is cut in are ten times
// larger than any other row: whether they are in the set shows in the usual range stored
// with an anomaly. The asset group: 200 backups written to two storages at the same time,
// 400 rows, of which the reduced training set keeps 365.
std::string historyFile() {
  std::vector<std::string> streams;
  for (int backup = 0; backup < kBackups; ++backup) {
    for (int stream = 1; stream <= kStreams; ++stream) {
      const bool cut = backup == kBackups - 11 && stream > 2;
      streams.push_back(
          point(backup * 10 + stream, kStart + backup * kDay, cut ? 10 * stream : stream, stream));
    }
  }
  std::vector<std::string> first;
  std::vector<std::string> second;
  for (int backup = 0; backup < 200; ++backup) {
    first.push_back(point(5000 + backup, kStart + backup * kDay / 2, 1, 0));
    second.push_back(point(6000 + backup, kStart + backup * kDay / 2, 3, 0));
  }
  return dataFile("TRAINING_DATA", {group("pool", "", streams), group("d2", "vm", second),
                                    group("d1", "vm", first)});
}

// Some rows sent again: INSERT OR REPLACE gives them new rowids, at the end of the table.
std::string resentFile() {
  std::vector<std::string> streams;
  for (int backup = 18; backup < 21; ++backup) {
    streams.push_back(point(backup * 10 + 1, kStart + backup * kDay, 1, 1));
  }
  std::vector<std::string> second;
  for (int backup = 10; backup < 20; ++backup) {
    second.push_back(point(6000 + backup, kStart + backup * kDay / 2, 3, 0));
  }
  return dataFile("TRAINING_DATA", {group("pool", "", streams), group("d2", "vm", second)});
}

// One job of every stream after the history, the first far outside every range, and
// one of the asset on a new storage (no history there: the reduced training set).
std::string pendingFile() {
  std::vector<std::string> streams;
  for (int stream = 1; stream <= kStreams; ++stream) {
    const int scale = stream == 1 ? 500 : stream;
    streams.push_back(point(900 + stream, kStart + kBackups * kDay, scale, stream));
  }
  return dataFile("DETECTION_DATA", {group("pool", "", streams),
                                     group("d3", "vm", {point(7000, kStart + 101 * kDay, 2, 0)})});
}

const char kOlderLayout[] =
    "DROP INDEX HIST_ASSET_TIME_INDEX; "
    "CREATE INDEX HIST_TABLE_INDEX ON HIST_DATA (CLIENT, POLICY, POLICY_TYPE, SCHEDULE_TYPE, "
    "SCHEDULE_NAME, APP_TYPE, DESTINATION_STORAGE_NAME, ASSET_ID, STREAM_NUMBER, MODE, "
    "USER_IDENTIFIED_CLUSTER);";
// Newest first by BACKUP_TIME alone: rows of one time come in reverse rowid order.
const char kTimeOnlyLayout[] =
    "DROP INDEX HIST_ASSET_TIME_INDEX; "
    "CREATE INDEX BY_TIME ON HIST_DATA (CLIENT, POLICY, POLICY_TYPE, SCHEDULE_TYPE, "
    "SCHEDULE_NAME, APP_TYPE, DESTINATION_STORAGE_NAME, ASSET_ID, MODE, BACKUP_TIME);";

// What a detect request leaves: its output and the stored rows, detection and
// calibration times masked, radii with all 17 digits.
struct Outcome {
  std::string output;
  sfad::test::TextRows rows;
  bool operator==(const Outcome& other) const {
    return output == other.output && rows == other.rows;
  }
};

std::string maskTimes(const std::string& text) {
  return std::regex_replace(text, std::regex("\"DetectionTime\": ?\"[0-9]+\""), "T");
}

class TieOrderDetectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir.file("history.json"), historyFile());
    writeFile(dir.file("resent.json"), resentFile());
    writeFile(dir.file("pending.json"), pendingFile());
    writeFile(dir.file("detection.ini"),
              "[ANOMALY_MODEL_SETTINGS]\nMIN_OBSERVATIONS_FOR_TRAINING=30\n"
              "MAX_OBSERVATIONS_FOR_TRAINING=" +
                  std::to_string(kTrainingLimit) + "\n");
    expectSuccess({"-post", "-action", "initialize_detection", "-database", base});
    for (const char* file : {"history.json", "resent.json"}) {
      expectSuccess(
          {"-post", "-action", "insert_data", "-database", base, "-data_file", dir.file(file)});
    }
  }

  void expectSuccess(const std::vector<std::string>& arguments) {
    const sfad::test::ToolResult result = runTool(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  }

  // detect on a copy of the history with the given change of layout (SQL, or none).
  Outcome detect(const std::string& name, const std::string& layout) {
    const std::string database = dir.file(name + ".db");
    std::filesystem::copy_file(base, database);
    if (!layout.empty()) executeSql(database, layout);
    const std::string output = dir.file(name + ".json");
    expectSuccess({"-post", "-action", "detect", "-database", database, "-data_file",
                   dir.file("pending.json"), "-config_file", dir.file("detection.ini"),
                   "-output_file", output});
    Outcome outcome{maskTimes(readFile(output)), {}};
    for (const char* sql :
         {"SELECT * FROM HIST_DATA ORDER BY rowid",
          "SELECT UNIQUE_KEY, PROCESSED_STATUS FROM DATA_TO_PROCESS ORDER BY rowid",
          "SELECT ANOMALY_UNIQUE_ID, ANOMALY_DETAILS FROM ANOMALY_DATA ORDER BY rowid",
          "SELECT * FROM ANOMALY_PER_FEATURE_DATA ORDER BY rowid",
          "SELECT CLIENT, DESTINATION_STORAGE_NAME, ASSET_ID, printf('%!.17g', EPS) FROM "
          "DBSCAN_MODEL_PARAMS ORDER BY rowid"}) {
      for (auto row : queryRows(database, sql)) {
        for (std::string& value : row) value = maskTimes(value);
        outcome.rows.push_back(row);
      }
    }
    return outcome;
  }

  TempDir dir;
  const std::string base = dir.file("base.db");
};

TEST_F(TieOrderDetectTest, OlderAndUpToDateLayoutsJudgeAlike) {
  const Outcome older = detect("older", kOlderLayout);
  const Outcome current = detect("current", "");

  EXPECT_EQ(current.output, older.output);
  EXPECT_EQ(current.rows, older.rows);
  // Both groups were calibrated on their cut training sets, and the outlier reported.
  EXPECT_EQ(queryRows(dir.file("current.db"), "SELECT COUNT(*) FROM DBSCAN_MODEL_PARAMS"),
            (sfad::test::TextRows{{"2"}}));
  EXPECT_NE(current.output.find("\"DetectionType\""), std::string::npos) << current.output;
}

TEST_F(TieOrderDetectTest, AnotherOrderOfEqualTimesWouldBeSeen) {
  EXPECT_FALSE(detect("time-only", kTimeOnlyLayout) == detect("older", kOlderLayout));
}

}  // namespace
