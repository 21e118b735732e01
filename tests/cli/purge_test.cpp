// The purge action: rows older than the cut-off go, with the per-feature rows
// of their anomalies; history marked by feedback stays; intervals too large for
// 32-bit times neither wrap nor delete recent rows; a failed purge deletes
// nothing.
#include <climits>
#include <ctime>
#include <string>

#include "cli/PurgeCutoff.h"
#include "tests/cli/CliExpectations.h"
#include "tests/support/DatabaseDump.h"

namespace sfad::test {
namespace {

constexpr long long kMonth = 2592000;

std::string historyRow(const std::string& key, long long backupTime, int userCluster) {
  return "INSERT INTO HIST_DATA VALUES (1, " + std::to_string(backupTime) +
         ", 'c', 'p', 'pt', 'st', 'sn', 'app', 1, 1.0, 1, 0, 1.0, 0, 0, 0, "
         "1.0, 1, " +
         std::to_string(userCluster) + ", 'dst', 0, 'NA', '" + key + "');";
}

std::string pendingRow(const std::string& key, long long backupTime) {
  return "INSERT INTO DATA_TO_PROCESS VALUES (1, " + std::to_string(backupTime) +
         ", 'c', 'p', 'pt', 1, 'sn', 'app', 1, 1.0, 1, 0, 1.0, 0, 0, 0, 1.0, "
         "1, 0, 'dst', 0, 'NA', '" +
         key + "');";
}

// Each table gets an "old" row just before a two-month cut-off, a "recent" one
// just after it and a "far" one at the largest storable time; the history also
// gets old rows marked by feedback (1 and 2). Each anomaly has two per-feature
// rows, and "gone" has per-feature rows whose anomaly an earlier purge removed.
std::string fixture(long long now) {
  std::string sql;
  const struct {
    const char* key;
    long long time;
  } rows[] = {
      {"old", now - 2 * kMonth - 100}, {"recent", now - 2 * kMonth + 100}, {"far", INT_MAX}};
  for (const auto& row : rows) {
    const std::string time = std::to_string(row.time);
    sql += "INSERT INTO ANOMALY_DATA VALUES ('" + std::string(row.key) + "', '{}', 0, 'k', 'c', " +
           time + ");";
    sql += "INSERT INTO ANOMALY_DATA_FEEDBACK VALUES ('" + std::string(row.key) + "', 1, " + time +
           ");";
    sql += historyRow(row.key, row.time, -1) + pendingRow(row.key, row.time);
  }
  for (const char* key : {"old", "recent", "far", "gone"}) {
    for (const char* feature : {"NUM_FILES", "IMAGE_SIZE"}) {
      sql += "INSERT INTO ANOMALY_PER_FEATURE_DATA VALUES ('" + std::string(key) + "', '" +
             feature + "', 'f', 1.0, 1.0, 1.0, 'u', '{}');";
    }
  }
  return sql + historyRow("marked1", 0, 1) + historyRow("marked2", 0, 2);
}

// The keys left in each table, e.g. "A:far,recent F:... H:... D:... P:...".
std::string remainingRows(const std::string& database) {
  const struct {
    const char* label;
    const char* sql;
  } tables[] = {
      {"A", "SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA ORDER BY 1"},
      {"F", "SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA_FEEDBACK ORDER BY 1"},
      {"H", "SELECT UNIQUE_KEY FROM HIST_DATA ORDER BY 1"},
      {"D", "SELECT UNIQUE_KEY FROM DATA_TO_PROCESS ORDER BY 1"},
      {"P", "SELECT DISTINCT ANOMALY_ID FROM ANOMALY_PER_FEATURE_DATA ORDER BY 1"},
  };
  std::string text;
  for (const auto& table : tables) {
    std::string keys;
    for (const auto& row : queryRows(database, table.sql))
      keys += (keys.empty() ? "" : ",") + row[0];
    text += (text.empty() ? "" : " ") + std::string(table.label) + ":" + keys;
  }
  return text;
}

TEST(PurgeTest, DeletesRowsOlderThanTheCutoff) {
  const std::string everything =
      "A:far,old,recent F:far,old,recent H:far,marked1,marked2,old,recent "
      "D:far,old,recent P:far,old,recent";
  const std::string onlyFar = "A:far F:far H:far,marked1,marked2 D:far P:far";
  const struct {
    const char* interval;
    std::string remaining;
  } cases[] = {
      {"2",
       "A:far,recent F:far,recent H:far,marked1,marked2,recent D:far,recent "
       "P:far,recent"},
      {"0", onlyFar},
      {" -1", onlyFar},  // a leading blank keeps a negative value from reading
                         // as an option,
      // The cut-off stops at the largest storable time, which is itself kept.
      {" -1000000", onlyFar},
      // Intervals reaching before the smallest storable time delete nothing;
      // 1657 months used to wrap around to a cut-off just after now.
      {"1000", everything},
      {"1657", everything},
      {"2147483647", everything},
  };
  for (const auto& purge : cases) {
    SCOPED_TRACE(purge.interval);
    TempDir dir;
    const std::string database = initializedDatabase(dir);
    executeSql(database, fixture(static_cast<long long>(std::time(nullptr))));
    expectSilentSuccess(runTool({"-post", "-action", "purge_database", "-database", database,
                                 "-purge_interval_in_months", purge.interval}));
    EXPECT_EQ(remainingRows(database), purge.remaining);
  }
}

TEST(PurgeTest, CutoffIsClampedToThirtyTwoBits) {
  const long long now = 1700000000;
  const struct {
    int months;
    int cutoff;
  } cases[] = {
      {0, 1700000000},
      {2, 1700000000 - 2 * 2592000},
      {1000, static_cast<int>(now - 1000 * kMonth)},
      {1657, INT_MIN},
      {INT_MAX, INT_MIN},
      {-1000, INT_MAX},
      {INT_MIN, INT_MAX},
  };
  for (const auto& purge : cases) {
    EXPECT_EQ(sfad::purgeCutoffTime(now, purge.months), purge.cutoff) << purge.months;
  }
}

TEST(PurgeTest, EmptyDatabaseSucceedsAndBareOneFails) {
  TempDir dir;
  expectSilentSuccess(runTool({"-post", "-action", "purge_database", "-database",
                               initializedDatabase(dir), "-purge_interval_in_months", "1"}));
  expectFailure(runTool({"-post", "-action", "purge_database", "-database", dir.file("bare.db"),
                         "-purge_interval_in_months", "1"}),
                2,
                "Failed to purge database. sqlite prepare statement failed for query - "
                "DELETE FROM "
                "ANOMALY_DATA WHERE DETECTION_TIME < ? ;. Return code : 1");
}

// The purge used to commit statement by statement, so that a failing later
// statement left the earlier deletions done.
TEST(PurgeTest, FailedPurgeDeletesNothing) {
  TempDir dir;
  const std::string database = initializedDatabase(dir);
  executeSql(database,
             fixture(static_cast<long long>(std::time(nullptr))) + "DROP TABLE DATA_TO_PROCESS;");
  const std::string before = dumpDatabase(database);
  expectFailure(runTool({"-post", "-action", "purge_database", "-database", database,
                         "-purge_interval_in_months", "0"}),
                2,
                "Failed to purge database. sqlite prepare statement failed for query - "
                "DELETE FROM DATA_TO_PROCESS WHERE BACKUP_TIME < ? ;. Return code : 1");
  EXPECT_EQ(dumpDatabase(database), before);
}

}  // namespace
}  // namespace sfad::test
