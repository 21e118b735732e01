// The anomalies listing: both selection forms on a small set of stored
// anomalies, and the failures on a database without tables.
#include <string>

#include "tests/cli/CliExpectations.h"
#include "tests/support/DatabaseDump.h"

namespace sfad::test {
namespace {

// Unique ids are job id, "_", backup time; job 10 has two anomalies, and
// "12_5_400" has an underscore after the job id, so its backup time reads as 5.
const char kFixture[] =
    "INSERT INTO ANOMALY_DATA VALUES ('7_100', '{\"j\": 7}', 0, 'k', 'c', 1);"
    "INSERT INTO ANOMALY_DATA VALUES ('8_200', '{\"j\": 8}', 0, 'k', 'c', 1);"
    "INSERT INTO ANOMALY_DATA VALUES ('9_300', '{\"j\": 9}', 0, 'k', 'c', 1);"
    "INSERT INTO ANOMALY_DATA VALUES ('10_500', '{\"j\": 10, \"n\": 1}', 0, "
    "'k', 'c', 1);"
    "INSERT INTO ANOMALY_DATA VALUES ('10_600', '{\"j\": 10, \"n\": 2}', 0, "
    "'k', 'c', 1);"
    "INSERT INTO ANOMALY_DATA VALUES ('12_5_400', '{\"j\": 12}', 1, 'k', 'c', "
    "1);";

class AnomaliesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = initializedDatabase(dir_);
    executeSql(database_, kFixture);
  }

  ToolResult listByTime(const std::string& minimum, const std::string& maximum) {
    return runTool({"-get", "-action", "anomalies", "-database", database_, "-min_backup_time",
                    minimum, "-max_backup_time", maximum});
  }
  ToolResult listByJobIds(const std::string& jobIds) {
    return runTool({"-get", "-action", "anomalies", "-database", database_, "-job_ids", jobIds});
  }

  TempDir dir_;
  std::string database_;
};

struct ListingCase {
  std::string first;  // minimum backup time, or the job id list
  std::string second;
  std::string expected;
};

void expectListing(const ToolResult& result, const std::string& expected) {
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(result.err, "");
}

TEST_F(AnomaliesTest, ByBackupTimeBoundsIncluded) {
  const ListingCase cases[] = {
      {"100", "300", "[{\"j\": 7},{\"j\": 8},{\"j\": 9}]"},
      {"101", "299", "[{\"j\": 8}]"},
      {"300", "100", "[]"},
      {"5", "5", "[{\"j\": 12}]"},
      {"601", "99999", "[]"},
      {" -5", "+100", "[{\"j\": 7},{\"j\": 12}]"},  // signs; a blank keeps "-"
                                                    // from reading as an option
  };
  for (const ListingCase& listing : cases) {
    SCOPED_TRACE(listing.first + ".." + listing.second);
    expectListing(listByTime(listing.first, listing.second), listing.expected);
  }
}

TEST_F(AnomaliesTest, ByJobIdsInListOrder) {
  const ListingCase cases[] = {
      {"7,7", "", "[{\"j\": 7},{\"j\": 7}]"},
      {"7,", "", "[{\"j\": 7}]"},
      {",7", "", "[{\"j\": 7}]"},
      {"9,,8", "", "[{\"j\": 9},{\"j\": 8}]"},
      {"10", "", "[{\"j\": 10, \"n\": 1}]"},  // only the first stored anomaly of a job
      {"12", "", "[{\"j\": 12}]"},
      {"7_100", "", "[]"},
      {"99", "", "[]"},
  };
  for (const ListingCase& listing : cases) {
    SCOPED_TRACE(listing.first);
    expectListing(listByJobIds(listing.first), listing.expected);
  }
}

// Job ids are any text. They used to be compared as numbers, so that "abc"
// found nothing, "0" found job "abc" and "12" job "12abc"; now the id is
// compared as text, and only a stored id of digits alone also as a number, as
// before.
TEST(AnomaliesJobIdTest, IdsAreComparedAsText) {
  TempDir dir;
  const std::string database = initializedDatabase(dir);
  executeSql(database,
             "INSERT INTO ANOMALY_DATA VALUES ('7_100', '\"7\"', 0, 'k', 'c', 1);"
             "INSERT INTO ANOMALY_DATA VALUES ('abc_200', '\"abc\"', 0, 'k', 'c', 1);"
             "INSERT INTO ANOMALY_DATA VALUES ('12abc_300', '\"12abc\"', 0, 'k', 'c', "
             "1);"
             "INSERT INTO ANOMALY_DATA VALUES ('_400', '\"empty\"', 0, 'k', 'c', 1);"
             "INSERT INTO ANOMALY_DATA VALUES ('0042_500', '\"0042\"', 0, 'k', 'c', "
             "1);"
             "INSERT INTO ANOMALY_DATA VALUES (' 8_600', '\" 8\"', 0, 'k', 'c', 1);");
  const ListingCase cases[] = {
      // Ids of digits: numeric equality, as before.
      {"7", "", "[\"7\"]"},
      {"007,+7, 7,7 ", "", "[\"7\",\"7\",\"7\",\"7\"]"},
      {"42,0042", "", "[\"0042\",\"0042\"]"},
      // Any other id: its own text only.
      {"abc", "", "[\"abc\"]"},
      {"12abc", "", "[\"12abc\"]"},
      {" 8", "", "[\" 8\"]"},
      {"0,12,ABC,8", "", "[]"},
      // An empty piece of the list names no job, not even the job without an
      // id.
      {",abc,", "", "[\"abc\"]"},
  };
  for (const ListingCase& listing : cases) {
    SCOPED_TRACE(listing.first);
    const ToolResult result =
        runTool({"-get", "-action", "anomalies", "-database", database, "-job_ids", listing.first});
    expectListing(result, listing.expected);
  }
}

TEST_F(AnomaliesTest, ListingChangesNothing) {
  const std::string before = dumpDatabase(database_);
  expectListing(listByJobIds("7"), "[{\"j\": 7}]");
  EXPECT_EQ(dumpDatabase(database_), before);
}

TEST(AnomaliesEmptyTest, NoAnomaliesGiveAnEmptyArray) {
  TempDir dir;
  const std::string database = initializedDatabase(dir);
  expectListing(runTool({"-get", "-action", "anomalies", "-database", database, "-min_backup_time",
                         "0", "-max_backup_time", "2000000000"}),
                "[]");
  expectListing(runTool({"-get", "-action", "anomalies", "-database", database, "-job_ids", "1"}),
                "[]");
}

// The time form wraps its preparation; the job-id form leaves it to the
// dispatcher, which adds SQLite's (here empty) text.
TEST(AnomaliesEmptyTest, DatabaseWithoutTablesFails) {
  TempDir dir;
  const std::string prepareFailed = "sqlite prepare statement failed for query - ";
  expectFailure(runTool({"-get", "-action", "anomalies", "-database", dir.file("a.db"),
                         "-min_backup_time", "0", "-max_backup_time", "1"}),
                2,
                "Failed to get anomalies from database. " + prepareFailed +
                    " SELECT * FROM  (  SELECT ANOMALY_DATA.ANOMALY_DETAILS,  "
                    "CAST(substr(ANOMALY_UNIQUE_ID, 1, instr(ANOMALY_UNIQUE_ID, '_') - "
                    "1) AS INTEGER) AS "
                    "JOB_ID,  CAST(substr(ANOMALY_UNIQUE_ID, instr(ANOMALY_UNIQUE_ID, "
                    "'_') + 1) AS INTEGER) "
                    "AS BACKUP_DATE  FROM ANOMALY_DATA WHERE BACKUP_DATE >= ? AND "
                    "BACKUP_DATE <= ?  ) "
                    ". Return code : 1");
  expectFailure(
      runTool({"-get", "-action", "anomalies", "-database", dir.file("b.db"), "-job_ids", "1"}), 2,
      prepareFailed +
          " SELECT * FROM  (  SELECT ANOMALY_DATA.ANOMALY_DETAILS,  "
          "substr(ANOMALY_UNIQUE_ID, 1, "
          "instr(ANOMALY_UNIQUE_ID, '_') - 1) AS JOB_ID,  "
          "CAST(substr(ANOMALY_UNIQUE_ID, "
          "instr(ANOMALY_UNIQUE_ID, '_') + 1) AS INTEGER) "
          "AS BACKUP_DATE  FROM ANOMALY_DATA WHERE JOB_ID = ?1 OR "
          "(JOB_ID <> '' AND JOB_ID NOT "
          "GLOB '*[^0-9]*' AND CAST(JOB_ID AS NUMERIC) = ?1)  ) . "
          "Return code : 1. ");
}

}  // namespace
}  // namespace sfad::test
