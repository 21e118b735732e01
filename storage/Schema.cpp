// The layout of the detection database: the tables, the history index, the feature
// catalogue and the drop of obsolete tables, issued in a fixed order without a transaction.
#include "storage/Schema.h"

#include <map>
#include <stdexcept>

#include "storage/Savepoint.h"
#include "storage/Statement.h"

namespace Quorvan::Stowfleet::UsageReporting {

namespace {

// Tables created with createTable before the history index, in creation order.
const char* const kLeadingTables[] = {
    "CREATE TABLE if not exists HIST_DATA (BACKUP_ID INT NOT NULL, BACKUP_TIME INT NOT NULL, "
    "CLIENT TEXT NOT NULL, POLICY TEXT NOT NULL, POLICY_TYPE TEXT NOT NULL, "
    "SCHEDULE_TYPE TEXT NOT NULL, SCHEDULE_NAME TEXT NOT NULL, APP_TYPE TEXT NOT NULL, "
    "NUM_FILES INT NOT NULL, IMAGE_SIZE REAL NOT NULL, JOB_ID INT NOT NULL, "
    "PARENT_JOB_ID INT NOT NULL, KB_TRANSFERRED REAL NOT NULL, START_TIME INT NOT NULL, "
    "END_TIME INT NOT NULL, TOTAL_TIME INT NOT NULL, DEDUP_RATE REAL NOT NULL, "
    "MODE INT NOT NULL, USER_IDENTIFIED_CLUSTER INT NOT NULL, "
    "DESTINATION_STORAGE_NAME TEXT NOT NULL, STREAM_NUMBER INT NOT NULL, "
    "ASSET_ID TEXT NOT NULL, UNIQUE_KEY TEXT PRIMARY KEY NOT NULL);",

    "CREATE TABLE if not exists DATA_TO_PROCESS (BACKUP_ID INT NOT NULL, "
    "BACKUP_TIME INT NOT NULL, CLIENT TEXT NOT NULL, POLICY TEXT NOT NULL, "
    "POLICY_TYPE TEXT NOT NULL, SCHEDULE_TYPE INT NOT NULL, SCHEDULE_NAME TEXT NOT NULL, "
    "APP_TYPE TEXT NOT NULL, NUM_FILES INT NOT NULL, IMAGE_SIZE REAL NOT NULL, "
    "JOB_ID INT NOT NULL, PARENT_JOB_ID INT NOT NULL, KB_TRANSFERRED REAL NOT NULL, "
    "START_TIME INT NOT NULL, END_TIME INT NOT NULL, TOTAL_TIME INT NOT NULL, "
    "DEDUP_RATE REAL NOT NULL, MODE INT NOT NULL, PROCESSED_STATUS INT NOT NULL, "
    "DESTINATION_STORAGE_NAME TEXT NOT NULL, STREAM_NUMBER INT NOT NULL, "
    "ASSET_ID TEXT NOT NULL, UNIQUE_KEY TEXT PRIMARY KEY NOT NULL);",

    "CREATE TABLE if not exists ANOMALY_DATA (ANOMALY_UNIQUE_ID TEXT PRIMARY KEY NOT NULL, "
    "ANOMALY_DETAILS TEXT NOT NULL, PROCESSED INT NOT NULL, DETECTION_KEY TEXT NOT NULL, "
    "CLIENT TEXT NOT NULL, DETECTION_TIME INT NOT NULL);",

    "CREATE TABLE if not exists ANOMALY_DATA_FEEDBACK (ANOMALY_UNIQUE_ID TEXT PRIMARY KEY NOT "
    "NULL, FEEDBACK INT NOT NULL, CAPTURE_TIME INT NOT NULL);",

    "CREATE TABLE if not exists LAST_BACKUP_DATA_CAPTURE (LAST_BACKUP_TIME INT PRIMARY KEY NOT "
    "NULL);",

    "CREATE TABLE if not exists DBSCAN_MODEL_PARAMS (CLIENT TEXT NOT NULL, POLICY TEXT NOT NULL, "
    "POLICY_TYPE TEXT NOT NULL, SCHEDULE_TYPE INT NOT NULL, SCHEDULE_NAME TEXT NOT NULL, "
    "APP_TYPE TEXT NOT NULL, EPS REAL NOT NULL, CAPTURE_DATE INT NOT NULL, "
    "DESTINATION_STORAGE_NAME TEXT NOT NULL, ASSET_ID TEXT NOT NULL, "
    "PRIMARY KEY (CLIENT, POLICY, POLICY_TYPE, SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, "
    "DESTINATION_STORAGE_NAME));",

    "CREATE TABLE if not exists CONFIGURATION_BASIC_SETTINGS (CONFIG TEXT PRIMARY KEY NOT NULL, "
    "VALUE TEXT NOT NULL);",

    "CREATE TABLE if not exists EXCLUDE_CLIENTS (CLIENT_NAME TEXT PRIMARY KEY NOT NULL);",

    "CREATE TABLE if not exists EXCLUDE_CLIENT_POLICY (CLIENT TEXT NOT NULL, "
    "POLICY TEXT NOT NULL, PRIMARY KEY('CLIENT', 'POLICY'));",

    "CREATE TABLE if not exists EXCLUDE_FEATURE_PER_POLICY_TYPE (POLICY_TYPE TEXT NOT NULL, "
    "FEATURE TEXT NOT NULL, PRIMARY KEY('POLICY_TYPE', 'FEATURE'));",

    "CREATE TABLE if not exists EXCLUDE_POLICY_TYPES (POLICY_TYPE TEXT PRIMARY KEY NOT NULL);",

    "CREATE TABLE if not exists LAST_CONFIG_UPDATE (UPDATE_TIME REAL NOT NULL);",

    "CREATE TABLE if not exists ANOMALIES_REPORT (jobid TEXT NOT NULL, backupId TEXT NOT NULL, "
    "createdDateTime TEXT NOT NULL, backupTime TEXT NOT NULL, clientName TEXT NOT NULL, "
    "id TEXT PRIMARY KEY NOT NULL, policyName TEXT NOT NULL, policyType TEXT NOT NULL, "
    "scheduleType TEXT NOT NULL, scheduleName TEXT NOT NULL, destinationStorage TEXT NOT NULL, "
    "anomalyStatus TEXT NOT NULL, anomalyCount INT NOT NULL, anomalyScore REAL NOT NULL, "
    "anomalyType TEXT NOT NULL, anomalySeverity TEXT NOT NULL, anomalySummary TEXT NOT NULL, "
    "extendedAttributes TEXT NOT NULL);",

    "CREATE TABLE if not exists MIGRATION (MIGRATION_TASK TEXT PRIMARY KEY NOT NULL, "
    "STATUS INT NOT NULL);",

    "CREATE TABLE if not exists ANOMALY_PER_FEATURE_DATA (ANOMALY_ID TEXT NOT NULL, "
    "FEATURE TEXT NOT NULL, FEATURE_DISPLAY TEXT NOT NULL, CURRENT_VALUE REAL NOT NULL, "
    "MIN_VALUE REAL NOT NULL, MAX_VALUE REAL NOT NULL, UNIT TEXT NOT NULL, "
    "EXTENDED_DATA TEXT NOT NULL, PRIMARY KEY('ANOMALY_ID', 'FEATURE'));",

    "CREATE TABLE if not exists ANOMALY_FEATURES (displayName TEXT NOT NULL, "
    "value TEXT NOT NULL, PRIMARY KEY('displayName', 'value'));",

    "CREATE TABLE if not exists METADATA (KEY TEXT PRIMARY KEY NOT NULL, VALUE TEXT NOT NULL);",

    "CREATE TABLE if not exists DEDUP_THRESHOLD (WORKLOAD TEXT PRIMARY KEY NOT NULL, "
    "MIN_DEDUP REAL NOT NULL);",
};

// The history index of earlier layouts; a history table without BACKUP_TIME still gets it.
const char kHistoryIndex[] =
    "CREATE INDEX IF NOT EXISTS HIST_TABLE_INDEX ON HIST_DATA (CLIENT, POLICY, POLICY_TYPE, "
    "SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, DESTINATION_STORAGE_NAME, ASSET_ID, STREAM_NUMBER, "
    "MODE, USER_IDENTIFIED_CLUSTER);";

// The index of the history reads that judging a job makes, so that their cost follows the
// rows of the job's asset rather than the size of its group or policy. It takes the place
// of HIST_TABLE_INDEX, which would serve no read beside it and only cost every write. It
// yields rows in the order the reads had over HIST_TABLE_INDEX: where rows share
// BACKUP_TIME (the streams of one backup), the columns after it repeat the order
// HIST_TABLE_INDEX gave them, and SQLite breaks any remaining tie by rowid in both. A read
// of one storage and mode skips the asset's rows of other storages and modes, which a site
// keeps few of. One index rather than one per read keeps what each stored job costs.
const char kHistoryReadIndex[] =
    "CREATE INDEX IF NOT EXISTS HIST_ASSET_TIME_INDEX ON HIST_DATA (CLIENT, POLICY, "
    "POLICY_TYPE, SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, ASSET_ID, BACKUP_TIME DESC, "
    "DESTINATION_STORAGE_NAME, STREAM_NUMBER, MODE, USER_IDENTIFIED_CLUSTER);";

// Indexes of earlier layouts that the read index replaces.
const char* const kReplacedHistoryIndexes[] = {"DROP INDEX IF EXISTS HIST_TABLE_INDEX;",
                                               "DROP INDEX IF EXISTS HIST_STORAGE_TIME_INDEX;"};

const char kExtensionsTable[] =
    "CREATE TABLE if not exists EXTENSIONS (NAME TEXT PRIMARY KEY NOT NULL, "
    "HASH_VALUE TEXT NOT NULL UNIQUE);";

// Tables created with createTable after EXTENSIONS, in creation order. A statement
// written over several lines stands in parentheses, as one element.
const char* const kTrailingTables[] = {
    ("CREATE TABLE if not exists MALWARE_SCAN_STATUS (id TEXT PRIMARY KEY NOT NULL, "
     "backupId TEXT NOT NULL, backupTime INT NOT NULL, jobId TEXT NOT NULL, "
     "scanStatus TEXT NOT NULL, extendedAttributes TEXT NOT NULL);"),

    "CREATE TABLE if not exists MALWARE_SCAN_LAST_RUN (detectionTime INT NOT NULL);",

    ("CREATE TABLE if not exists MALWARE_SCAN_RESULT (id TEXT PRIMARY KEY NOT NULL, "
     "result TEXT NOT NULL);"),
};

// Tables of earlier layouts that the tool no longer uses.
const char* const kObsoleteTables[] = {"QUEUED_TO_CAPTURE_DATA"};

// A history table of a foreign layout may lack BACKUP_TIME: it gets HIST_TABLE_INDEX as
// before, and works without the read index, which only makes reads faster.
bool historyHasBackupTime(SQLiteDatabase& database) {
  QueryResult rows;
  database.query("SELECT COUNT(*) FROM pragma_table_info('HIST_DATA') WHERE name = 'BACKUP_TIME'",
                 rows);
  return !rows.empty() && rows.front().asInt("COUNT(*)") != 0;
}

void createHistoryIndexes(SQLiteDatabase& database) {
  if (!historyHasBackupTime(database)) {
    database.execute(kHistoryIndex);
    return;
  }
  // One unit: the database has one of the index layouts, never none. The earlier indexes
  // go first, so the new one reuses their pages rather than grow the file.
  Savepoint replacement(database, "sfad_history_indexes");
  for (const char* sql : kReplacedHistoryIndexes) database.execute(sql);
  database.execute(kHistoryReadIndex);
  replacement.release();
}

// Journal mode, tables and the history indexes, in this order; stops at the first failure.
void createTablesAndIndex(SQLiteDatabase& database) {
  database.execute("PRAGMA journal_mode=WAL;");
  for (const char* sql : kLeadingTables) database.createTable(sql);
  createHistoryIndexes(database);
  database.execute(kExtensionsTable);
  for (const char* sql : kTrailingTables) database.createTable(sql);
}

void dropObsoleteTables(SQLiteDatabase& database) {
  for (const char* table : kObsoleteTables) {
    try {
      database.dropTable(table);
    } catch (...) {
      // A table that cannot be dropped is harmless: nothing reads it.
    }
  }
}

}  // namespace

void generateSchema(SQLiteDatabase& database) {
  try {
    createTablesAndIndex(database);
  } catch (const sqlite_exception& e) {
    throw std::runtime_error(std::string("Failed to create database.") + e.report());
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("Failed to create database.") + e.what());
  } catch (...) {
    throw std::runtime_error("Failed to create database.");
  }
  seedFeatureCatalogue(database);
  dropObsoleteTables(database);
}

void seedFeatureCatalogue(SQLiteDatabase& database) {
  // Display name -> feature name, inserted in display-name order.
  const std::map<std::string, std::string> catalogue = {{"Backup files count", "NUM_FILES"},
                                                        {"Data transferred", "KB_TRANSFERRED"},
                                                        {"Deduplication ratio", "DEDUP_RATE"},
                                                        {"Image size", "IMAGE_SIZE"},
                                                        {"Total time", "TOTAL_TIME"}};
  try {
    for (const auto& [displayName, feature] : catalogue) {
      Statement insert(database.handle(), "INSERT OR IGNORE INTO ANOMALY_FEATURES VALUES(?, ?)");
      insert.bindText(1, displayName);
      insert.bindText(2, feature);
      database.executeStatement(insert);
    }
  } catch (const sqlite_exception& e) {
    throw std::runtime_error(std::string("Failed to generate features data.") + e.report());
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("Failed to generate features data") + e.what());
  }
}

void createSchema(const std::string& path) {
  try {
    SQLiteDatabase database(path, kDatabaseOpenFlags);
    generateSchema(database);
  } catch (const sqlite_exception& e) {
    throw std::runtime_error(std::string("Failed to create database object.") + e.report());
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("Failed to generate schema.") + e.what());
  }
}

}  // namespace Quorvan::Stowfleet::UsageReporting
