// Storing JobRecords: the key, the replacement of an earlier sending, the fixed MODE and
// status columns, and the column affinities of the two tables.
#include <gtest/gtest.h>

#include "intake/JobRecord.h"
#include "tests/intake/IntakeFixture.h"
#include "tests/support/DatabaseDump.h"

namespace sfad::test {
namespace {

using Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

JobRecord sampleRecord() {
  JobRecord record;
  record.client = "c1";
  record.backupTime = 1000;
  record.backupId = "c1_1000";
  record.jobId = "1234";
  record.policy = "p1";
  record.policyType = "Standard";
  record.scheduleType = "5";
  record.scheduleName = "daily";
  record.destinationStorageName = "pool1";
  return record;
}

class JobRecordTest : public IntakeTest {
 protected:
  SQLiteDatabase& database() {
    if (!database_) database_ = std::make_unique<SQLiteDatabase>(databasePath, kDatabaseOpenFlags);
    return *database_;
  }

 private:
  std::unique_ptr<SQLiteDatabase> database_;
};

TEST(JobRecordKey, JoinsJobIdAndBackupId) {
  JobRecord record = sampleRecord();
  EXPECT_EQ(record.uniqueKey(), "data_1234_c1_1000");
  record.jobId.clear();
  EXPECT_EQ(record.uniqueKey(), "data__c1_1000");
}

TEST_F(JobRecordTest, QueuedAgainIsExaminedAgain) {
  storeIntoQueue(database(), sampleRecord());
  executeSql(databasePath, "UPDATE DATA_TO_PROCESS SET PROCESSED_STATUS = 1;");

  JobRecord again = sampleRecord();
  again.numFiles = 77;
  storeIntoQueue(database(), again);

  EXPECT_EQ(
      queryRows(databasePath, "SELECT MODE, PROCESSED_STATUS, NUM_FILES FROM DATA_TO_PROCESS"),
      (TextRows{{"1", "0", "77"}}));
}

TEST_F(JobRecordTest, HistoryReplacementResetsTheUserCluster) {
  storeIntoHistory(database(), sampleRecord());
  executeSql(databasePath, "UPDATE HIST_DATA SET USER_IDENTIFIED_CLUSTER = 1;");

  storeIntoHistory(database(), sampleRecord());

  EXPECT_EQ(queryRows(databasePath, "SELECT MODE, USER_IDENTIFIED_CLUSTER FROM HIST_DATA"),
            (TextRows{{"1", "-1"}}));
}

TEST_F(JobRecordTest, KeyDecidesWhatIsOneRow) {
  JobRecord otherJob = sampleRecord();
  otherJob.jobId = "1235";
  JobRecord otherPolicy = sampleRecord();
  otherPolicy.policy = "p2";

  storeIntoQueue(database(), sampleRecord());
  storeIntoQueue(database(), otherJob);
  storeIntoQueue(database(), otherPolicy);

  EXPECT_EQ(queryRows(databasePath, "SELECT UNIQUE_KEY, POLICY FROM DATA_TO_PROCESS ORDER BY 1"),
            (TextRows{{"data_1234_c1_1000", "p2"}, {"data_1235_c1_1000", "p1"}}));
}

TEST_F(JobRecordTest, ColumnAffinityDecidesTheStoredTypes) {
  storeIntoHistory(database(), sampleRecord());
  storeIntoQueue(database(), sampleRecord());

  const char kTypes[] =
      "SELECT typeof(SCHEDULE_TYPE), typeof(JOB_ID), typeof(BACKUP_ID), typeof(IMAGE_SIZE) FROM ";
  EXPECT_EQ(queryRows(databasePath, std::string(kTypes) + "HIST_DATA"),
            (TextRows{{"text", "integer", "text", "real"}}));
  EXPECT_EQ(queryRows(databasePath, std::string(kTypes) + "DATA_TO_PROCESS"),
            (TextRows{{"integer", "integer", "text", "real"}}));
}

TEST_F(JobRecordTest, OneWriterStoresManyRecords) {
  JobRecordWriter writer(database(), JobTable::Queue);
  for (int time = 1000; time < 1003; ++time) {
    JobRecord record = sampleRecord();
    record.backupTime = time;
    record.backupId = "c1_" + std::to_string(time);
    writer.store(record);
  }

  EXPECT_EQ(queryValue(databasePath, "SELECT group_concat(BACKUP_TIME) FROM DATA_TO_PROCESS"),
            "1000,1001,1002");
}

}  // namespace
}  // namespace sfad::test
