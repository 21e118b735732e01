// Training-set selection: history requirements, full and reduced sets, feature
// vectors, the group's last backup and the confirmed-job check.
#include "tests/detection/EngineFixture.h"

namespace sfad::test {
namespace {

class TrainingSetTest : public EngineTest {
 protected:
  // Stores `count` history jobs of the group from backup time `firstTime` on;
  // NUM_FILES carries the backup time so that the order of a set can be read
  // back.
  void storeHistory(int count, int firstTime, const std::string& storage = "stu1",
                    const std::string& asset = "A1", int stream = 0) {
    for (int i = 0; i < count; ++i) {
      JobRecord job = makeJob(storage + asset + std::to_string(stream) + "_" + std::to_string(i),
                              firstTime + i);
      job.destinationStorageName = storage;
      job.assetId = asset;
      job.streamNumber = stream;
      job.numFiles = firstTime + i;
      storeIntoHistory(db_, job);
    }
  }
};

TEST_F(TrainingSetTest, ShortHistoryOnOwnStorageFallsBackToReducedSetOverAllStorages) {
  storeHistory(29, 1000, "stu1");
  storeHistory(10, 2000, "stu2");
  TrainingRows rows;
  EXPECT_EQ(engine_.history().trainingSet(queued(makeJob("9", 5000)), rows, 30, 365),
            TrainingMode::kReduced);
  ASSERT_EQ(rows.size(), 39u);
  EXPECT_EQ(rows[0].value("NUM_FILES"), 2009.0);  // newest first, from any storage
  EXPECT_EQ(rows[0].value("TOTAL_TIME"), 0.0);    // not read in reduced mode

  FeatureMatrix matrix;
  buildFeatureVectors(rows, matrix, TrainingMode::kReduced, {});
  ASSERT_EQ(matrix.size(), 39u);
  EXPECT_EQ(matrix[0], (FeatureVector{2009.0, 2048.0}));

  storeHistory(1, 3000, "stu1");
  rows.clear();
  EXPECT_EQ(engine_.history().trainingSet(queued(makeJob("9", 5000)), rows, 30, 365),
            TrainingMode::kFull);
  EXPECT_EQ(rows.size(), 30u);
}

TEST_F(TrainingSetTest, SetIsNewestFirstAndCutAtTheLimit) {
  storeHistory(400, 1);
  TrainingRows rows;
  EXPECT_EQ(engine_.history().trainingSet(queued(makeJob("9", 5000)), rows, 30, 365),
            TrainingMode::kFull);
  ASSERT_EQ(rows.size(), 365u);
  EXPECT_EQ(rows.front().value("NUM_FILES"), 400.0);
  EXPECT_EQ(rows.back().value("NUM_FILES"), 36.0);  // the 35 oldest are left out
}

TEST_F(TrainingSetTest, RequiredObservationsFollowAssetAndHighestStream) {
  struct Case {
    const char* name;
    std::string historyAsset;
    std::vector<int> historyStreams;
    std::string jobAsset;
    int expectedRequired;
    int expectedMaxStream;
  };
  const Case cases[] = {
      {"real asset", "A1", {0, 2}, "A1", 30, 0},
      {"lower-case na is an asset", "na", {0, 3}, "na", 30, 0},
      {"mixed-case Na is an asset", "Na", {1}, "Na", 30, 0},
      {"streams 0 to 3 need three minimums", "NA", {0, 1, 2, 3}, "NA", 90, 3},
      {"highest stream 0 needs one minimum", "NA", {0}, "NA", 30, 0},
      {"no history of the asset", "A2", {0}, "A1", -1, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    executeSql(path_, "DELETE FROM HIST_DATA;");
    for (int stream : c.historyStreams)
      storeHistory(1, 1000 + stream, "stu1", c.historyAsset, stream);
    JobRecord job = makeJob("9", 5000);
    job.assetId = c.jobAsset;
    int maxStream = 7;
    EXPECT_EQ(engine_.history().requiredObservations(queued(job), 30, maxStream),
              c.expectedRequired);
    EXPECT_EQ(maxStream, c.expectedMaxStream);
  }
}

TEST_F(TrainingSetTest, StreamHistoryIsCountedPerStreamNumber) {
  storeHistory(1, 1000, "stu1", "NA", 2);
  JobRecord job = makeJob("9", 5000);
  job.assetId = "NA";
  job.streamNumber = 2;
  EXPECT_TRUE(engine_.history().hasStreamHistory(queued(job)));
  job.streamNumber = 3;
  EXPECT_FALSE(engine_.history().hasStreamHistory(queued(job)));
}

TEST_F(TrainingSetTest, DisabledFeaturesAreLeftOutByLowerCasedName) {
  ResultRow row;
  for (const auto& [column, text] :
       std::vector<std::pair<std::string, std::string>>{{"NUM_FILES", "10"},
                                                        {"IMAGE_SIZE", "2048.5"},
                                                        {"KB_TRANSFERRED", "7"},
                                                        {"TOTAL_TIME", "60"},
                                                        {"DEDUP_RATE", "1.5"}}) {
    row.set(column, text);
  }
  FeatureMatrix matrix;
  buildFeatureVectors({trainingRowOf(row)}, matrix, TrainingMode::kFull, {"image_size"});
  EXPECT_EQ(matrix, (FeatureMatrix{{10.0, 7.0, 60.0, 1.5}}));
  matrix.clear();
  buildFeatureVectors({trainingRowOf(row)}, matrix, TrainingMode::kReduced,
                      {"num_files", "image_size", "total_time"});
  EXPECT_EQ(matrix, (FeatureMatrix{{}}));  // an empty vector still makes a row
}

// Reduced mode looks at the rows its training set is drawn from: every storage of
// the job's asset.
TEST_F(TrainingSetTest, LastBackupTimeOfReducedModeSpansAllStoragesOfTheAsset) {
  storeHistory(3, 1000, "stu1");
  storeHistory(2, 1500, "stu2");
  storeHistory(1, 1800, "stu2", "A2");
  const ResultRow job = queued(makeJob("9", 5000));
  EXPECT_EQ(engine_.history().lastBackupTime(job, TrainingMode::kFull), 1002);
  EXPECT_EQ(engine_.history().lastBackupTime(job, TrainingMode::kReduced), 1501);
  storeHistory(1, 1600, "NA");
  EXPECT_EQ(engine_.history().lastBackupTime(job, TrainingMode::kReduced), 1600);
}

TEST_F(TrainingSetTest, ConfirmedJobWithinThresholdIsInclusive) {
  const FeatureMatrix matrix = {{0.0, 0.0}, {0.0, 0.0}, {3.0, 4.0}};
  TrainingRow unmarked, confirmed;
  unmarked.mark = -1;
  confirmed.mark = 1;
  const DbscanClusterer clusterer(2.5, 3, STOP_WHEN_FIRST_CLUSTERED);
  const JobHistory& history = engine_.history();
  // The unmarked job at distance 0 never counts; the confirmed one lies at
  // exactly 5.
  EXPECT_FALSE(history.isFarFromConfirmedJobs({unmarked, confirmed}, matrix, 5.0, clusterer));
  EXPECT_TRUE(history.isFarFromConfirmedJobs({unmarked, confirmed}, matrix, 4.999, clusterer));
  EXPECT_TRUE(history.isFarFromConfirmedJobs({unmarked, unmarked}, matrix, 5.0, clusterer));
}

}  // namespace
}  // namespace sfad::test
