// Storing JobRecords: the key, where a record sent again is stored, the fixed MODE and
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

// A record sent again is stored where its key already is, with the values of the
// last sending and the mark or status of the stored row; only a new key goes to
// the table named. A key that an earlier version left in both tables is updated
// in both.
struct ResendCase {
  const char* name;
  JobTable first;
  const char* afterFirst;  // SQL run after the first sending
  JobTable again;
  TextRows history;  // NUM_FILES, USER_IDENTIFIED_CLUSTER
  TextRows queue;    // NUM_FILES, PROCESSED_STATUS
};

TEST_F(JobRecordTest, RecordSentAgainStaysWhereItIsWithItsMarkOrStatus) {
  const char* const kBoth =
      "INSERT INTO DATA_TO_PROCESS SELECT * FROM HIST_DATA; "
      "UPDATE DATA_TO_PROCESS SET PROCESSED_STATUS = 1;";
  // One case per two lines reads as a table.
  // clang-format off
  const ResendCase cases[] = {
      {"new key, history", JobTable::History, "DELETE FROM HIST_DATA;", JobTable::History,
       {{"77", "-1"}}, {}},
      {"new key, queue", JobTable::Queue, "DELETE FROM DATA_TO_PROCESS;", JobTable::Queue, {},
       {{"77", "0"}}},
      {"confirmed, training", JobTable::History,
       "UPDATE HIST_DATA SET USER_IDENTIFIED_CLUSTER = 1;", JobTable::History, {{"77", "1"}}, {}},
      {"confirmed, detection", JobTable::History,
       "UPDATE HIST_DATA SET USER_IDENTIFIED_CLUSTER = 2;", JobTable::Queue, {{"77", "2"}}, {}},
      {"retired, detection", JobTable::History, "", JobTable::Queue, {{"77", "-1"}}, {}},
      {"held, detection", JobTable::Queue, "UPDATE DATA_TO_PROCESS SET PROCESSED_STATUS = 1;",
       JobTable::Queue, {}, {{"77", "1"}}},
      {"held, training", JobTable::Queue, "UPDATE DATA_TO_PROCESS SET PROCESSED_STATUS = 1;",
       JobTable::History, {}, {{"77", "1"}}},
      {"pending, training", JobTable::Queue, "", JobTable::History, {}, {{"77", "0"}}},
      {"in both tables, training", JobTable::History, kBoth, JobTable::History, {{"77", "-1"}},
       {{"77", "1"}}},
      {"in both tables, detection", JobTable::History, kBoth, JobTable::Queue, {{"77", "-1"}},
       {{"77", "1"}}},
  };
  // clang-format on
  for (const ResendCase& resend : cases) {
    SCOPED_TRACE(resend.name);
    executeSql(databasePath, "DELETE FROM HIST_DATA; DELETE FROM DATA_TO_PROCESS;");
    JobRecordWriter(database(), resend.first).store(sampleRecord());
    executeSql(databasePath, resend.afterFirst);
    JobRecord again = sampleRecord();
    again.numFiles = 77;
    JobRecordWriter(database(), resend.again).store(again);

    EXPECT_EQ(queryRows(databasePath, "SELECT NUM_FILES, USER_IDENTIFIED_CLUSTER FROM HIST_DATA"),
              resend.history);
    EXPECT_EQ(queryRows(databasePath, "SELECT NUM_FILES, PROCESSED_STATUS FROM DATA_TO_PROCESS"),
              resend.queue);
  }
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
  JobRecord queued = sampleRecord();
  queued.jobId = "1235";
  storeIntoHistory(database(), sampleRecord());
  storeIntoQueue(database(), queued);

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
