// Anomaly records: the stored row, the details document byte for byte, the
// per-feature rows and the usual ranges of the nearest cluster.
#include <memory>

#include "tests/detection/EngineFixture.h"

namespace sfad::test {
namespace {

FeatureStats stats(double current, double low, double high, const std::string& displayName,
                   const std::string& unit) {
  FeatureStats result;
  result.currentValue = current;
  result.minValue = low;
  result.maxValue = high;
  result.displayName = displayName;
  result.unit = unit;
  return result;
}

NearestCluster scoreOf(double distance) {
  NearestCluster score;
  score.label = 1;
  score.distance = distance;
  return score;
}

class AnomalyRecordTest : public EngineTest {
 protected:
  // Job 77 of client c1 at backup time 1000.
  ResultRow job_ = queued(makeJob("77", 1000));
};

TEST_F(AnomalyRecordTest, ImageSizeAnomalyIsStoredWithItsExactDocumentAndFeatureRow) {
  const AnomalousFeatures features = {{"IMAGE_SIZE", stats(2048, 1024, 1536, "Image size", "MB")}};
  engine_.anomalies().store(job_, scoreOf(1.234), TrainingMode::kReduced, features);

  const TextRows anomaly = rows(
      "SELECT ANOMALY_UNIQUE_ID, PROCESSED, DETECTION_KEY, CLIENT, "
      "DETECTION_TIME, "
      "ANOMALY_DETAILS FROM ANOMALY_DATA");
  ASSERT_EQ(anomaly.size(), 1u);
  EXPECT_EQ(anomaly[0][0], "77_1000");
  EXPECT_EQ(anomaly[0][1], "0");
  EXPECT_EQ(anomaly[0][2], "data_77_c1_1000");
  EXPECT_EQ(anomaly[0][3], "c1");
  EXPECT_EQ(anomaly[0][5], "{\"DetectionType\": \"dbscan\", \"DetectionTime\": \"" + anomaly[0][4] +
                               "\", \"SizeUnit\": \"MB\", \"Attributes\": {\"jobid\": \"77\", "
                               "\"clientName\": "
                               "\"c1\", \"policyName\": \"p1\", \"policyType\": \"Standard\", "
                               "\"scheduleName\": "
                               "\"daily\", \"backupId\": \"c1_1000\", \"backupTime\": \"1000\", "
                               "\"scheduleType\": \"FULL\", \"anomalyImageSize\": \"2.0000 MB "
                               "(Usual: 1.0000 MB "
                               "- 1.5000 MB)\", \"anomalyFeedback\": \"Report as false positive\", "
                               "\"anomalyId\": \"77_1000\", \"anomalyType\": \"JOB_BASED\", "
                               "\"summary\": "
                               "\"Anomaly image size\", \"count\": \"1\", \"score\": \"1.23\", "
                               "\"storageName\": "
                               "\"stu1\"}}");

  EXPECT_EQ(rows("SELECT * FROM ANOMALY_PER_FEATURE_DATA"),
            (TextRows{{"77_1000", "IMAGE_SIZE", "Image size", "2.0", "1.0", "1.5", "MB", "{}"}}));
}

TEST_F(AnomalyRecordTest, DocumentMembersFollowFeaturesAndTrainingMode) {
  struct Case {
    const char* name;
    AnomalousFeatures features;
    TrainingMode mode;
    const char* member;
    const char* expectedText;  // "" for an absent member
    const char* expectedSummary;
    const char* expectedCount;
    const char* expectedType;
  };
  const Case cases[] = {
      {"counts are truncated",
       {{"NUM_FILES", stats(10.9, 2.2, 5.8, "Backup files count", "")}},
       TrainingMode::kFull,
       "anomalyBackupFilesCount",
       "10 (Usual: 2 - 5)",
       "Backup files count",
       "1",
       "JOB_BASED"},
      {"total time hidden in reduced mode",
       {{"TOTAL_TIME", stats(600, 10, 20, "Total time", "Seconds")}},
       TrainingMode::kReduced,
       "anomalyTimeTaken",
       "",
       "",
       "0",
       "JOB_BASED"},
      {"total time shown in full mode, without unit",
       {{"TOTAL_TIME", stats(600, 10, 20, "Total time", "Seconds")}},
       TrainingMode::kFull,
       "anomalyTimeTaken",
       "600 (Usual: 10 - 20)",
       "Total time",
       "1",
       "JOB_BASED"},
      {"deduplication rule",
       {{"DEDUP_RATE_EXT", stats(2.5, 10, 50, "Deduplication ratio", "%")}},
       TrainingMode::kFull,
       "anomalyDeduplicationRatio",
       "2.5 (Usual: 10 - 50)",
       "Deduplication ratio",
       "1",
       "JOB_BASED_DEDUP_CUSTOM_RULE"},
      {"rates in six significant digits",
       {{"DEDUP_RATE", stats(12.3456789, 1e-07, 1.0, "Deduplication ratio", "%")}},
       TrainingMode::kFull,
       "anomalyDeduplicationRatio",
       "12.3457 (Usual: 1e-07 - 1)",
       "Deduplication ratio",
       "1",
       "JOB_BASED"},
      {"two features in the engine's order",
       {{"NUM_FILES", stats(1, 2, 3, "Backup files count", "")},
        {"KB_TRANSFERRED", stats(512, 1024, 2048, "Data transferred", "MB")},
        {"IMAGE_SIZE", stats(1, 2, 3, "Image size", "MB")}},
       TrainingMode::kFull,
       "anomalyDataTransferred",
       "0.5000 MB (Usual: 1.0000 MB - 2.0000 MB)",
       "Anomaly image size, Backup files count, Data transferred",
       "3",
       "JOB_BASED"},
      {"nothing reported", {}, TrainingMode::kFull, "anomalyImageSize", "", "", "0", "JOB_BASED"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string details =
        AnomalyStore::detailsDocument(job_, c.features, c.mode, "77_1000", scoreOf(0.5), 42);
    EXPECT_EQ(attribute(details, c.member), c.expectedText);
    EXPECT_EQ(attribute(details, "summary"), c.expectedSummary);
    EXPECT_EQ(attribute(details, "count"), c.expectedCount);
    EXPECT_EQ(attribute(details, "anomalyType"), c.expectedType);
    EXPECT_EQ(attribute(details, "score"), "0.50");
  }
}

TEST_F(AnomalyRecordTest, FeatureHiddenInDetailsStillGetsItsRow) {
  const AnomalousFeatures features = {
      {"TOTAL_TIME", stats(600, 10, 20, "Total time", "Seconds")},
      {"KB_TRANSFERRED", stats(3000, 1000, 2000, "Data transferred", "MB")}};
  engine_.anomalies().store(job_, scoreOf(0.5), TrainingMode::kReduced, features);
  EXPECT_EQ(rows("SELECT FEATURE, CURRENT_VALUE, MIN_VALUE, MAX_VALUE, UNIT "
                 "FROM ANOMALY_PER_FEATURE_DATA ORDER BY FEATURE"),
            (TextRows{{"KB_TRANSFERRED", "2.93", "0.977", "1.953", "MB"},
                      {"TOTAL_TIME", "600.0", "10.0", "20.0", "Seconds"}}));
}

TEST_F(AnomalyRecordTest, DeduplicationRuleRowIsWrittenAsDedupRate) {
  engine_.anomalies().store(job_, scoreOf(0.0), TrainingMode::kFull,
                            {{"DEDUP_RATE_EXT", stats(2.5, 10, 50, "Deduplication ratio", "%")}});
  EXPECT_EQ(rows("SELECT FEATURE, CURRENT_VALUE, MIN_VALUE, MAX_VALUE, UNIT "
                 "FROM ANOMALY_PER_FEATURE_DATA"),
            (TextRows{{"DEDUP_RATE", "2.5", "10.0", "50.0", "%"}}));
}

TEST_F(AnomalyRecordTest, SecondStoreOfTheSameJobKeepsTheFirstRecord) {
  engine_.anomalies().store(job_, scoreOf(1.0), TrainingMode::kFull,
                            {{"NUM_FILES", stats(9, 1, 2, "Backup files count", "")}});
  const TextRows first = rows("SELECT * FROM ANOMALY_DATA");
  engine_.anomalies().store(job_, scoreOf(2.0), TrainingMode::kFull,
                            {{"NUM_FILES", stats(7, 1, 2, "Backup files count", "")}});
  EXPECT_EQ(rows("SELECT * FROM ANOMALY_DATA"), first);
  EXPECT_EQ(value("SELECT CURRENT_VALUE FROM ANOMALY_PER_FEATURE_DATA"), "9.0");
}

TEST_F(AnomalyRecordTest, ClusterValuesComeFromTrainingRowsOfTheNearestLabel) {
  TrainingRows training(3);
  const double numFiles[] = {5, 50, 7};
  for (int i = 0; i < 3; ++i) {
    training[i].values[trainingColumn("NUM_FILES")] = numFiles[i];
    training[i].values[trainingColumn("IMAGE_SIZE")] = 100;
  }
  // Point 0 is the job under test; points 1 and 3 share the nearest label.
  const ClusterValues values =
      collectClusterValues(1, training, {-1, 1, 2, 1}, TrainingMode::kReduced);
  EXPECT_EQ(values.size(), 2u);
  EXPECT_EQ(values.at("NUM_FILES"), (std::vector<double>{5, 7}));
  EXPECT_EQ(usualRange(values, "NUM_FILES"), std::make_pair(5.0, 7.0));
  EXPECT_EQ(usualRange(values, "TOTAL_TIME"), std::make_pair(-1.0, -1.0));

  const ClusterValues none = collectClusterValues(3, training, {-1, 1, 2, 1}, TrainingMode::kFull);
  EXPECT_EQ(none.size(), 5u);
  EXPECT_EQ(usualRange(none, "DEDUP_RATE"), std::make_pair(-1.0, -1.0));
}

}  // namespace
}  // namespace sfad::test
