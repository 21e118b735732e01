// The database layout made by createSchema, read back from the file with sqlite3 directly:
// columns in order, keys, the history index, the catalogue rows, WAL mode, and failure texts.
#include "storage/Schema.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <stdexcept>

#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"

using namespace Quorvan::Stowfleet::UsageReporting;
using sfad::test::executeSql;
using sfad::test::queryRows;
using sfad::test::queryValue;
using sfad::test::TempDir;

namespace {

// "NAME TYPE" per column, joined by ", "; a column of the primary key adds " pk<position>".
// Every column of the layout is NOT NULL, which the helper checks as well.
std::string describeColumns(const std::string& path, const std::string& table) {
  std::ostringstream text;
  for (const auto& row :
       queryRows(path, "SELECT name, type, \"notnull\", pk FROM pragma_table_info('" + table +
                           "') ORDER BY cid")) {
    if (text.tellp() > 0) text << ", ";
    text << row[0] << " " << row[1];
    if (row[3] != "0") text << " pk" << row[3];
    if (row[2] != "1") text << " NULLABLE";
  }
  return text.str();
}

std::string runFailingCreate(const std::string& path) {
  try {
    createSchema(path);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  ADD_FAILURE() << "createSchema should fail";
  return "";
}

const char kJobColumns[] =
    "BACKUP_ID INT, BACKUP_TIME INT, CLIENT TEXT, POLICY TEXT, POLICY_TYPE TEXT, "
    "SCHEDULE_TYPE %s, SCHEDULE_NAME TEXT, APP_TYPE TEXT, NUM_FILES INT, IMAGE_SIZE REAL, "
    "JOB_ID INT, PARENT_JOB_ID INT, KB_TRANSFERRED REAL, START_TIME INT, END_TIME INT, "
    "TOTAL_TIME INT, DEDUP_RATE REAL, MODE INT, %s INT, DESTINATION_STORAGE_NAME TEXT, "
    "STREAM_NUMBER INT, ASSET_ID TEXT, UNIQUE_KEY TEXT pk1";

std::string jobColumns(const char* scheduleType, const char* statusColumn) {
  char text[1024];
  std::snprintf(text, sizeof text, kJobColumns, scheduleType, statusColumn);
  return text;
}

struct TableLayout {
  const char* table;
  std::string columns;
};

const TableLayout kLayout[] = {
    {"HIST_DATA", jobColumns("TEXT", "USER_IDENTIFIED_CLUSTER")},
    {"DATA_TO_PROCESS", jobColumns("INT", "PROCESSED_STATUS")},
    {"ANOMALY_DATA",
     "ANOMALY_UNIQUE_ID TEXT pk1, ANOMALY_DETAILS TEXT, PROCESSED INT, DETECTION_KEY TEXT, "
     "CLIENT TEXT, DETECTION_TIME INT"},
    {"ANOMALY_DATA_FEEDBACK", "ANOMALY_UNIQUE_ID TEXT pk1, FEEDBACK INT, CAPTURE_TIME INT"},
    {"LAST_BACKUP_DATA_CAPTURE", "LAST_BACKUP_TIME INT pk1"},
    {"DBSCAN_MODEL_PARAMS",
     "CLIENT TEXT pk1, POLICY TEXT pk2, POLICY_TYPE TEXT pk3, SCHEDULE_TYPE INT pk4, "
     "SCHEDULE_NAME TEXT pk5, APP_TYPE TEXT pk6, EPS REAL, CAPTURE_DATE INT, "
     "DESTINATION_STORAGE_NAME TEXT pk7, ASSET_ID TEXT"},
    {"CONFIGURATION_BASIC_SETTINGS", "CONFIG TEXT pk1, VALUE TEXT"},
    {"EXCLUDE_CLIENTS", "CLIENT_NAME TEXT pk1"},
    {"EXCLUDE_CLIENT_POLICY", "CLIENT TEXT pk1, POLICY TEXT pk2"},
    {"EXCLUDE_FEATURE_PER_POLICY_TYPE", "POLICY_TYPE TEXT pk1, FEATURE TEXT pk2"},
    {"EXCLUDE_POLICY_TYPES", "POLICY_TYPE TEXT pk1"},
    {"LAST_CONFIG_UPDATE", "UPDATE_TIME REAL"},
    {"ANOMALIES_REPORT",
     "jobid TEXT, backupId TEXT, createdDateTime TEXT, backupTime TEXT, clientName TEXT, "
     "id TEXT pk1, policyName TEXT, policyType TEXT, scheduleType TEXT, scheduleName TEXT, "
     "destinationStorage TEXT, anomalyStatus TEXT, anomalyCount INT, anomalyScore REAL, "
     "anomalyType TEXT, anomalySeverity TEXT, anomalySummary TEXT, extendedAttributes TEXT"},
    {"MIGRATION", "MIGRATION_TASK TEXT pk1, STATUS INT"},
    {"ANOMALY_PER_FEATURE_DATA",
     "ANOMALY_ID TEXT pk1, FEATURE TEXT pk2, FEATURE_DISPLAY TEXT, CURRENT_VALUE REAL, "
     "MIN_VALUE REAL, MAX_VALUE REAL, UNIT TEXT, EXTENDED_DATA TEXT"},
    {"ANOMALY_FEATURES", "displayName TEXT pk1, value TEXT pk2"},
    {"METADATA", "KEY TEXT pk1, VALUE TEXT"},
    {"DEDUP_THRESHOLD", "WORKLOAD TEXT pk1, MIN_DEDUP REAL"},
    {"EXTENSIONS", "NAME TEXT pk1, HASH_VALUE TEXT"},
    {"MALWARE_SCAN_STATUS",
     "id TEXT pk1, backupId TEXT, backupTime INT, jobId TEXT, scanStatus TEXT, "
     "extendedAttributes TEXT"},
    {"MALWARE_SCAN_LAST_RUN", "detectionTime INT"},
    {"MALWARE_SCAN_RESULT", "id TEXT pk1, result TEXT"},
};

const char kHistoryIndexColumns[] =
    "CLIENT, POLICY, POLICY_TYPE, SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, "
    "DESTINATION_STORAGE_NAME, ASSET_ID, STREAM_NUMBER, MODE, USER_IDENTIFIED_CLUSTER";

class SchemaTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.file("detection.db");

  // An empty file is an empty database, which the direct reader can then prepare.
  void prepareDatabase(const std::string& sql) {
    sfad::test::writeFile(path, "");
    executeSql(path, sql);
  }
};

TEST_F(SchemaTest, MissingFileGetsEveryTableInCreationOrder) {
  createSchema(path);

  std::vector<std::string> expectedTables;
  for (const auto& layout : kLayout) {
    expectedTables.push_back(layout.table);
    EXPECT_EQ(describeColumns(path, layout.table), layout.columns) << layout.table;
  }
  std::vector<std::string> tables;
  for (const auto& row :
       queryRows(path, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid")) {
    tables.push_back(row[0]);
  }
  EXPECT_EQ(tables, expectedTables);
}

// Index name -> its columns in order, a descending one marked " DESC", for every index
// other than SQLite's own for keys and UNIQUE.
std::map<std::string, std::string> describeIndexes(const std::string& path) {
  std::map<std::string, std::string> indexes;
  for (const auto& index : queryRows(path,
                                     "SELECT name FROM sqlite_master WHERE type = 'index' AND "
                                     "name NOT LIKE 'sqlite_autoindex_%'")) {
    std::string& columns = indexes[index[0]];
    for (const auto& row : queryRows(path, "SELECT name, desc FROM pragma_index_xinfo('" +
                                               index[0] + "') WHERE key ORDER BY seqno")) {
      columns += (columns.empty() ? "" : ", ") + row[0] + (row[1] == "1" ? " DESC" : "");
    }
  }
  return indexes;
}

const std::map<std::string, std::string> kReadIndexes = {
    {"HIST_ASSET_TIME_INDEX",
     "CLIENT, POLICY, POLICY_TYPE, SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, ASSET_ID, "
     "BACKUP_TIME DESC, DESTINATION_STORAGE_NAME, STREAM_NUMBER, MODE, USER_IDENTIFIED_CLUSTER"},
};

TEST_F(SchemaTest, HistoryReadIndexIsTheOnlyOther) {
  createSchema(path);

  EXPECT_EQ(describeIndexes(path), kReadIndexes);
}

// The history indexes of databases made before the read index: HIST_TABLE_INDEX alone,
// and the two read indexes the previous version made.
const std::string kEarlierIndexLayouts[] = {
    "DROP INDEX HIST_ASSET_TIME_INDEX; CREATE INDEX HIST_TABLE_INDEX ON HIST_DATA (" +
        std::string(kHistoryIndexColumns) + ");",
    "CREATE INDEX HIST_STORAGE_TIME_INDEX ON HIST_DATA (CLIENT, POLICY, POLICY_TYPE, "
    "SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, DESTINATION_STORAGE_NAME, ASSET_ID, BACKUP_TIME "
    "DESC, MODE, STREAM_NUMBER, USER_IDENTIFIED_CLUSTER);",
};

TEST_F(SchemaTest, SecondRunReplacesEarlierHistoryIndexesAndKeepsTheRows) {
  int made = 0;
  for (const std::string& layout : kEarlierIndexLayouts) {
    SCOPED_TRACE(layout);
    const std::string earlier = dir.file("earlier" + std::to_string(++made) + ".db");
    createSchema(earlier);
    executeSql(earlier, layout +
                            " INSERT INTO HIST_DATA VALUES (1, 2, 'c', 'p', 't', 'FULL', 's', 'a', "
                            "3, 4.5, 6, 0, 7.5, 8, 9, 10, 11.5, 1, -1, 'd', 0, 'NA', 'k');");
    const sfad::test::TextRows rows = queryRows(earlier, "SELECT * FROM HIST_DATA");

    createSchema(earlier);

    EXPECT_EQ(describeIndexes(earlier), kReadIndexes);
    EXPECT_EQ(queryRows(earlier, "SELECT * FROM HIST_DATA"), rows);
    EXPECT_EQ(queryValue(earlier, "PRAGMA integrity_check"), "ok");
  }
}

TEST_F(SchemaTest, WalModeAndFeatureCatalogue) {
  createSchema(path);

  EXPECT_EQ(queryValue(path, "PRAGMA journal_mode"), "wal");
  const sfad::test::TextRows expected = {{"Backup files count", "NUM_FILES"},
                                         {"Data transferred", "KB_TRANSFERRED"},
                                         {"Deduplication ratio", "DEDUP_RATE"},
                                         {"Image size", "IMAGE_SIZE"},
                                         {"Total time", "TOTAL_TIME"}};
  EXPECT_EQ(queryRows(path, "SELECT displayName, value FROM ANOMALY_FEATURES ORDER BY rowid"),
            expected);
}

TEST_F(SchemaTest, SecondRunChangesNothing) {
  createSchema(path);
  executeSql(path, "INSERT INTO METADATA VALUES ('k', 'v');");
  const std::string before = sfad::test::dumpDatabase(path);

  createSchema(path);

  EXPECT_EQ(sfad::test::dumpDatabase(path), before);
  EXPECT_EQ(queryValue(path, "SELECT count(*) FROM ANOMALY_FEATURES"), "5");
}

TEST_F(SchemaTest, ObsoleteQueueTableIsDropped) {
  prepareDatabase("CREATE TABLE QUEUED_TO_CAPTURE_DATA (X INT);");

  createSchema(path);

  EXPECT_EQ(queryValue(path,
                       "SELECT count(*) FROM sqlite_master WHERE name = "
                       "'QUEUED_TO_CAPTURE_DATA'"),
            "0");
}

TEST_F(SchemaTest, ForeignHistoryLayoutWithIndexColumnsIsKept) {
  prepareDatabase(
      "CREATE TABLE HIST_DATA (EXTRA TEXT, CLIENT TEXT, POLICY TEXT, POLICY_TYPE TEXT, "
      "SCHEDULE_TYPE TEXT, SCHEDULE_NAME TEXT, APP_TYPE TEXT, DESTINATION_STORAGE_NAME "
      "TEXT, ASSET_ID TEXT, STREAM_NUMBER INT, MODE INT, USER_IDENTIFIED_CLUSTER INT);");

  createSchema(path);

  EXPECT_EQ(queryValue(path, "SELECT count(*) FROM pragma_table_info('HIST_DATA')"), "12");
  EXPECT_EQ(queryValue(path, "SELECT name FROM pragma_table_info('HIST_DATA') WHERE cid = 0"),
            "EXTRA");
  EXPECT_EQ(queryValue(path, "SELECT count(*) FROM ANOMALY_FEATURES"), "5");
  // Without BACKUP_TIME the read index cannot exist; the earlier history index serves.
  EXPECT_EQ(describeIndexes(path),
            (std::map<std::string, std::string>{{"HIST_TABLE_INDEX", kHistoryIndexColumns}}));
}

TEST_F(SchemaTest, ForeignHistoryLayoutWithoutIndexColumnFailsAtTheIndex) {
  prepareDatabase("CREATE TABLE HIST_DATA (CLIENT TEXT);");

  const std::string text = runFailingCreate(path);

  EXPECT_EQ(text, std::string("Failed to generate schema.Failed to create database.Query "
                              "execution failed for  CREATE INDEX IF NOT EXISTS HIST_TABLE_INDEX "
                              "ON HIST_DATA (") +
                      kHistoryIndexColumns + ");. Return code : 1. no such column: POLICY");
  // The tables before the index stay created; those after it are missing.
  EXPECT_EQ(queryValue(path, "SELECT count(*) FROM sqlite_master WHERE name = 'DEDUP_THRESHOLD'"),
            "1");
  EXPECT_EQ(queryValue(path, "SELECT count(*) FROM sqlite_master WHERE name = 'EXTENSIONS'"), "0");
}

TEST_F(SchemaTest, FailedCreateReportsTheWrappedStatement) {
  // An index that already holds a table's name fails that table's CREATE, IF NOT EXISTS or not.
  prepareDatabase("CREATE TABLE OTHER (X INT); CREATE INDEX ANOMALY_DATA ON OTHER (X);");

  const std::string text = runFailingCreate(path);

  EXPECT_EQ(text,
            "Failed to generate schema.Failed to create database.Failed to create table with "
            "query CREATE TABLE if not exists ANOMALY_DATA (ANOMALY_UNIQUE_ID TEXT PRIMARY KEY "
            "NOT NULL, ANOMALY_DETAILS TEXT NOT NULL, PROCESSED INT NOT NULL, DETECTION_KEY TEXT "
            "NOT NULL, CLIENT TEXT NOT NULL, DETECTION_TIME INT NOT NULL);. Return code : 1. "
            "there is already an index named ANOMALY_DATA");
  EXPECT_EQ(queryValue(path, "SELECT count(*) FROM sqlite_master WHERE name = 'DATA_TO_PROCESS'"),
            "1");
}

TEST_F(SchemaTest, FailedOpenIsReportedAsTheDatabaseObject) {
  const std::string missing = dir.file("no/such/dir/detection.db");

  EXPECT_EQ(runFailingCreate(missing), "Failed to create database object.Could not open database " +
                                           missing + ". Return code : 14. ");
}

}  // namespace
