// Model calibration: the radius searched and stored per job group, and its age
// limit.
#include "platform/Platform.h"
#include "tests/detection/EngineFixture.h"

namespace sfad::test {
namespace {

class CalibrationTest : public EngineTest {
 protected:
  static TrainingRow trainingRow(double numFiles, double imageSize) {
    ResultRow row;
    row.set("NUM_FILES", std::to_string(numFiles));
    row.set("IMAGE_SIZE", std::to_string(imageSize));
    row.set("USER_IDENTIFIED_CLUSTER", "-1");
    return trainingRowOf(row);
  }
  // The stored radius as the REAL it is, every bit of it.
  double storedRadius() {
    Quorvan::Stowfleet::UsageReporting::Statement statement(db_.handle(),
                                                            "SELECT EPS FROM DBSCAN_MODEL_PARAMS");
    EXPECT_EQ(sqlite3_step(statement.handle()), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_type(statement.handle(), 0), SQLITE_FLOAT);
    return sqlite3_column_double(statement.handle(), 0);
  }
};

TEST_F(CalibrationTest, ColumnsWithoutDeviationKeepTheFirstRadius) {
  const ResultRow job = queued(makeJob("9", 5000));
  engine_.models().calibrate(job, TrainingRows(5, trainingRow(10, 2048)), TrainingMode::kReduced);
  EXPECT_EQ(storedRadius(), 2.5);
  QueryResult model;
  engine_.models().parameters(job, model);
  ASSERT_EQ(model.size(), 1u);
  EXPECT_EQ(model[0].asDouble("EPS"), 2.5);
}

TEST_F(CalibrationTest, JobFarFromAllOthersStoresTheValueAfterTheLastTry) {
  // Ten equal jobs and one that lies about 4.9 normalised units away from them.
  TrainingRows rows(10, trainingRow(10, 2048));
  rows.push_back(trainingRow(1e6, 1e9));
  engine_.models().calibrate(queued(makeJob("9", 5000)), rows, TrainingMode::kReduced);
  EXPECT_EQ(storedRadius(), 4.000000000000001);
  EXPECT_GT(storedRadius(), 4.0);
}

TEST_F(CalibrationTest, StoredModelRowCarriesTheGroupAndTheCaptureTime) {
  JobRecord record = makeJob("9", 5000);
  record.assetId = "NA";
  const int before = platform::currentTime32();
  engine_.models().calibrate(queued(record), TrainingRows(3, trainingRow(1, 1)),
                             TrainingMode::kFull);
  const TextRows stored = rows(
      "SELECT CLIENT, POLICY, POLICY_TYPE, SCHEDULE_TYPE, "
      "SCHEDULE_NAME, APP_TYPE, EPS, DESTINATION_STORAGE_NAME, "
      "ASSET_ID, CAPTURE_DATE FROM DBSCAN_MODEL_PARAMS");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(stored[0].begin(), stored[0].end() - 1),
            (std::vector<std::string>{"c1", "p1", "Standard", "FULL", "daily", "NONE", "2.5",
                                      "stu1", "NA"}));
  EXPECT_GE(std::stoi(stored[0].back()), before);
  engine_.models().remove(queued(record));
  EXPECT_EQ(value("SELECT COUNT(*) FROM DBSCAN_MODEL_PARAMS"), "0");
}

TEST_F(CalibrationTest, ModelIsDueWithoutRowAndOnceOlderThanFourteenDays) {
  const ResultRow job = queued(makeJob("9", 5000));
  EXPECT_TRUE(engine_.models().isCalibrationDue(job));
  struct Case {
    int age;
    bool due;
  };
  for (const Case c : {Case{1209600, false}, Case{1209601, true}, Case{0, false}}) {
    SCOPED_TRACE(c.age);
    // Retried until the clock stood still around the check, so the age is
    // exact.
    for (;;) {
      const int now = platform::currentTime32();
      executeSql(path_,
                 "INSERT OR REPLACE INTO DBSCAN_MODEL_PARAMS VALUES ('c1', 'p1', "
                 "'Standard', 'FULL', 'daily', 'NONE', 2.5, " +
                     std::to_string(now - c.age) + ", 'stu1', 'A1');");
      const bool due = engine_.models().isCalibrationDue(job);
      if (platform::currentTime32() != now) continue;
      EXPECT_EQ(due, c.due);
      break;
    }
  }
}

TEST_F(CalibrationTest, GroupsDifferingOnlyInAssetShareOneModelRow) {
  JobRecord other = makeJob("8", 5000);
  other.assetId = "A2";
  engine_.models().calibrate(queued(makeJob("9", 5000)), TrainingRows(3, trainingRow(1, 1)),
                             TrainingMode::kFull);
  engine_.models().calibrate(queued(other), TrainingRows(3, trainingRow(1, 1)),
                             TrainingMode::kFull);
  EXPECT_EQ(value("SELECT ASSET_ID FROM DBSCAN_MODEL_PARAMS"), "A2");
  EXPECT_TRUE(engine_.models().isCalibrationDue(queued(makeJob("9", 5000))));
}

}  // namespace
}  // namespace sfad::test
