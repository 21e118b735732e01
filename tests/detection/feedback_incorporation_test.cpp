// Feedback incorporation and the move of a job into the training history,
// including the move of one feedback row as a single unit.
#include "tests/detection/EngineFixture.h"

namespace sfad::test {
namespace {

class FeedbackIncorporationTest : public EngineTest {
 protected:
  // A job held after detection: queued, processed, with an anomaly
  // "<jobId>_1000".
  void holdAnomalousJob(const std::string& jobId) {
    storeIntoQueue(db_, makeJob(jobId, 1000));
    executeSql(path_, "UPDATE DATA_TO_PROCESS SET PROCESSED_STATUS = 1 WHERE JOB_ID = " + jobId +
                          "; INSERT INTO ANOMALY_DATA VALUES ('" + jobId +
                          "_1000', '{}', 1, "
                          "'data_" +
                          jobId + "_c1_1000', 'c1', 2000);");
  }
  void giveFeedback(const std::string& anomalyId, const std::string& feedback) {
    executeSql(path_, "INSERT INTO ANOMALY_DATA_FEEDBACK VALUES ('" + anomalyId + "', " + feedback +
                          ", 3000);");
  }
  std::string count(const std::string& table) { return value("SELECT COUNT(*) FROM " + table); }
  // Fails the removal of one feedback row, after that row's job has been moved.
  void blockFeedbackRemoval(const std::string& anomalyId) {
    executeSql(path_,
               "CREATE TRIGGER block BEFORE DELETE ON ANOMALY_DATA_FEEDBACK WHEN "
               "OLD.ANOMALY_UNIQUE_ID = '" +
                   anomalyId + "' BEGIN SELECT RAISE(ABORT, 'blocked'); END;");
  }
};

TEST_F(FeedbackIncorporationTest, FeedbackOneOrTwoMovesTheHeldJobAndAnyOtherValueStays) {
  struct Case {
    const char* feedback;
    bool moved;
  };
  for (const Case c : {Case{"1", true}, Case{"2", true}, Case{"0", false}, Case{"3", false}}) {
    SCOPED_TRACE(c.feedback);
    executeSql(path_,
               "DELETE FROM HIST_DATA; DELETE FROM DATA_TO_PROCESS; DELETE FROM "
               "ANOMALY_DATA; DELETE FROM ANOMALY_DATA_FEEDBACK;");
    holdAnomalousJob("77");
    giveFeedback("77_1000", c.feedback);
    LogCapture log;
    engine_.feedback().incorporate();
    EXPECT_EQ(count("ANOMALY_DATA_FEEDBACK"), c.moved ? "0" : "1");
    EXPECT_EQ(count("DATA_TO_PROCESS"), c.moved ? "0" : "1");
    EXPECT_EQ(value("SELECT USER_IDENTIFIED_CLUSTER || ' ' || MODE FROM HIST_DATA"),
              c.moved ? std::string(c.feedback) + " 1" : "");
    EXPECT_EQ(value("SELECT PROCESSED || DETECTION_KEY FROM ANOMALY_DATA"), "1data_77_c1_1000");
    ASSERT_EQ(log.entries.size(), c.moved ? 1u : 0u);
    if (c.moved) {
      EXPECT_EQ(log.entries[0].level, kLogProgress);
      EXPECT_EQ(log.entries[0].message,
                "Updating user feedback for training for client = c1, policy = "
                "p1, policy_type "
                "= Standard, schedule_name = daily & app_type = NONE");
    }
  }
}

TEST_F(FeedbackIncorporationTest, FeedbackWithoutAnomalyOrQueuedJobStaysForLaterRuns) {
  giveFeedback("404_1000", "1");  // names no anomaly
  holdAnomalousJob("78");
  executeSql(path_, "DELETE FROM DATA_TO_PROCESS;");  // purged meanwhile
  giveFeedback("78_1000", "2");
  engine_.feedback().incorporate();
  EXPECT_EQ(count("ANOMALY_DATA_FEEDBACK"), "2");
  EXPECT_EQ(count("HIST_DATA"), "0");
}

TEST_F(FeedbackIncorporationTest, MovedJobKeepsEveryColumnAndLosesItsQueueRow) {
  JobRecord record = makeJob("77", 1000);
  record.streamNumber = 4;
  record.parentJobId = 12;
  record.startTime = 900;
  record.endTime = 960;
  record.imageSize = 2048.5;
  ResultRow job = queued(record);
  job.set("USER_IDENTIFIED_CLUSTER", "-1");
  engine_.queue().retire(job);
  EXPECT_EQ(rows("SELECT * FROM HIST_DATA"), (TextRows{{"c1_1000",
                                                        "1000",
                                                        "c1",
                                                        "p1",
                                                        "Standard",
                                                        "FULL",
                                                        "daily",
                                                        "NONE",
                                                        "10",
                                                        "2048.5",
                                                        "77",
                                                        "12",
                                                        "1024.0",
                                                        "900",
                                                        "960",
                                                        "60",
                                                        "50.0",
                                                        "1",
                                                        "-1",
                                                        "stu1",
                                                        "4",
                                                        "A1",
                                                        "data_77_c1_1000"}}));
  EXPECT_EQ(count("DATA_TO_PROCESS"), "0");
}

TEST_F(FeedbackIncorporationTest, FailedFeedbackRemovalUndoesThatJobsMoveOnly) {
  holdAnomalousJob("77");
  holdAnomalousJob("78");
  giveFeedback("77_1000", "1");
  giveFeedback("78_1000", "1");
  blockFeedbackRemoval("78_1000");
  EXPECT_THROW(engine_.feedback().incorporate(), sqlite_exception);
  // The first unit stays done; the failed one is as before: queued, not in
  // history.
  EXPECT_EQ(rows("SELECT JOB_ID FROM HIST_DATA"), (TextRows{{"77"}}));
  EXPECT_EQ(rows("SELECT JOB_ID FROM DATA_TO_PROCESS"), (TextRows{{"78"}}));
  EXPECT_EQ(rows("SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA_FEEDBACK"), (TextRows{{"78_1000"}}));
  EXPECT_FALSE(db_.inTransaction());
}

TEST_F(FeedbackIncorporationTest,
       FailedUnitInsideAnEnclosingTransactionLeavesTheTransactionUsable) {
  holdAnomalousJob("77");
  holdAnomalousJob("78");
  giveFeedback("77_1000", "1");
  giveFeedback("78_1000", "1");
  blockFeedbackRemoval("78_1000");
  db_.beginTransaction();
  EXPECT_THROW(engine_.feedback().incorporate(), sqlite_exception);
  ASSERT_TRUE(db_.inTransaction());
  db_.endTransaction();
  EXPECT_EQ(rows("SELECT JOB_ID FROM HIST_DATA"), (TextRows{{"77"}}));
  EXPECT_EQ(rows("SELECT JOB_ID FROM DATA_TO_PROCESS"), (TextRows{{"78"}}));
  EXPECT_EQ(count("ANOMALY_DATA_FEEDBACK"), "1");
}

TEST_F(FeedbackIncorporationTest, UnreadableFeedbackTableIsLoggedAndSkipped) {
  executeSql(path_, "DROP TABLE ANOMALY_DATA_FEEDBACK;");
  LogCapture log;
  EXPECT_NO_THROW(engine_.feedback().incorporate());
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].level, kLogProgress);
  EXPECT_EQ(log.entries[0].message,
            "Error while getting anomaly feedback data. Query execution failed "
            "for  SELECT * FROM "
            "ANOMALY_DATA_FEEDBACK. Return code : 1  no such table: "
            "ANOMALY_DATA_FEEDBACK");
}

}  // namespace
}  // namespace sfad::test
