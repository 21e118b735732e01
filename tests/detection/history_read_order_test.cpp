// The history reads of a job's judgement give the same rows in the same order with the
// read index as over HIST_TABLE_INDEX alone: a database made before it, one made
// with it, and an older one brought up to date by initialize_detection all answer
// alike. The fixture holds many rows per BACKUP_TIME (the streams of one backup, their
// feedback marks, re-sent rows that INSERT OR REPLACE gives new rowids), and the training
// reads are cut at every limit, so a cut inside such a tie is covered.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/Schema.h"
#include "storage/Statement.h"
#include "tests/detection/HistoryReadReference.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"

using namespace Quorvan::Stowfleet::UsageReporting;
using sfad::test::executeSql;
using sfad::test::kFullTrainingSql;
using sfad::test::kPeerRatesSql;
using sfad::test::kReducedTrainingSql;
using sfad::test::TempDir;

namespace {

// The other read texts of detection, kept byte for byte.
const char kLastBackupSql[] =
    "SELECT MAX(BACKUP_TIME) FROM HIST_DATA WHERE  CLIENT                   = ? AND  POLICY      "
    "             = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  DESTINATION_STORAGE_NAME "
    "= ? AND  ASSET_ID                 = ? ";
const char kHighestStreamSql[] =
    "SELECT MAX(STREAM_NUMBER)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY  "
    "                 = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? "
    "AND  SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? ";
const char kAssetCountSql[] =
    "SELECT COUNT(*)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY            "
    "       = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  ASSET_ID                 "
    "= ? ";
const char kStreamCountSql[] =
    "SELECT COUNT(*)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY            "
    "       = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  STREAM_NUMBER            "
    "= ? ";
const char kDedupFeedbackSql[] =
    "SELECT COUNT(*)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY            "
    "       = ? AND  POLICY_TYPE              = ? AND  SCHEDULE_TYPE            = ? AND  "
    "SCHEDULE_NAME            = ? AND  USER_IDENTIFIED_CLUSTER  = ? ";

// Proposed texts: the last backup of training mode 0 over any storage, and the tests
// where only "is there any row" matters, answering 0 or 1 under the same column name.
const char kLastBackupAnyStorageSql[] =
    "SELECT MAX(BACKUP_TIME) FROM HIST_DATA WHERE  CLIENT                   = ? AND  POLICY      "
    "             = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  ASSET_ID                 "
    "= ? ";
const char kAssetExistsSql[] =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND APP_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "ASSET_ID = ? LIMIT 1)";
const char kStreamExistsSql[] =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND APP_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "STREAM_NUMBER = ? LIMIT 1)";
const char kDedupFeedbackExistsSql[] =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "USER_IDENTIFIED_CLUSTER = ? LIMIT 1)";

const char kDropReadIndexes[] = "DROP INDEX HIST_ASSET_TIME_INDEX;";
// The layout made before the read index: the history index alone.
const char kOlderLayout[] =
    "DROP INDEX HIST_ASSET_TIME_INDEX; "
    "CREATE INDEX HIST_TABLE_INDEX ON HIST_DATA (CLIENT, POLICY, POLICY_TYPE, SCHEDULE_TYPE, "
    "SCHEDULE_NAME, APP_TYPE, DESTINATION_STORAGE_NAME, ASSET_ID, STREAM_NUMBER, MODE, "
    "USER_IDENTIFIED_CLUSTER);";

// A bound value: text, or an integer when `text` is empty.
struct Value {
  std::string text;
  int number = 0;
};
Value text(const std::string& t) { return {t, 0}; }
Value number(int n) { return {"", n}; }

using Rows = std::vector<std::string>;

// Every row as "column=value|..." in column-name order, in the order they came.
Rows run(SQLiteDatabase& database, const std::string& sql, const std::vector<Value>& values) {
  Statement statement(database.handle(), sql);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int index = static_cast<int>(i) + 1;
    if (values[i].text.empty()) {
      statement.bindInt(index, values[i].number);
    } else {
      statement.bindText(index, values[i].text);
    }
  }
  QueryResult result;
  database.query(statement, result);
  Rows rows;
  for (const ResultRow& row : result) {
    std::string line;
    for (const auto& [column, value] : row) line += column + "=" + value.text() + "|";
    rows.push_back(line);
  }
  return rows;
}

std::string plan(SQLiteDatabase& database, const std::string& sql) {
  Statement statement(database.handle(), "EXPLAIN QUERY PLAN " + sql);
  QueryResult result;
  database.query(statement, result);
  std::string text;
  for (const ResultRow& row : result) text += row.text("detail") + "\n";
  return text;
}

const char* const kStorages[] = {"d1", "d2", "NA"};
const char* const kAssets[] = {"NA", "vm-1", "vm-2"};
const char* const kPolicyTypes[] = {"Standard", "VMware"};
const char* const kScheduleTypes[] = {"FULL", "INCR"};
constexpr int kLimits = 60;

// Rows of two clients in a shuffled order, each backup time shared by many rows, then a
// third of them sent again (a new rowid each, at the end of the table).
void fillHistory(const std::string& path) {
  std::vector<std::string> rows;
  int key = 0;
  for (const char* client : {"c1", "c2"})
    for (const char* policyType : kPolicyTypes)
      for (const char* scheduleType : kScheduleTypes)
        for (const char* storage : kStorages)
          for (const char* asset : kAssets)
            for (int time = 100; time <= 130; time += 10)
              for (int stream = 0; stream < 3; ++stream)
                for (int feedback : {-1, 1, 2})
                  for (int mode : {1, 0}) {
                    ++key;
                    rows.push_back(
                        "INSERT OR REPLACE INTO HIST_DATA VALUES (" + std::to_string(key) + ", " +
                        std::to_string(time) + ", '" + client + "', 'p', '" + policyType + "', '" +
                        scheduleType + "', 'n', 'a', " + std::to_string(key) + ", " +
                        std::to_string(key) + ".5, " + std::to_string(key) + ", 0, 1.25, 0, 0, " +
                        std::to_string(key % 97) + ", " + std::to_string(key % 89) + ".75, " +
                        std::to_string(mode) + ", " + std::to_string(feedback) + ", '" + storage +
                        "', " + std::to_string(stream) + ", '" + asset + "', 'k" +
                        std::to_string(key) + "');");
                  }
  std::mt19937 random(16);
  std::shuffle(rows.begin(), rows.end(), random);
  std::string script = "BEGIN;";
  for (const std::string& row : rows) script += row;
  for (std::size_t i = 0; i < rows.size(); i += 3) script += rows[i];
  executeSql(path, script + "COMMIT;");
}

struct Read {
  const char* name;
  const char* sql;
  const char* index;  // the index the read uses on an up-to-date database
  // The bindings of every case of the read.
  std::vector<std::vector<Value>> cases;
};

std::vector<Value> policy(const char* client, const char* type, const char* schedule) {
  return {text(client), text("p"), text(type), text("a"), text(schedule), text("n")};
}

template <typename... Extra>
std::vector<Value> with(std::vector<Value> values, Extra... extra) {
  (values.push_back(extra), ...);
  return values;
}

std::vector<Read> reads() {
  Read full{"full training set", kFullTrainingSql, "HIST_ASSET_TIME_INDEX", {}};
  Read reduced{"reduced training set", kReducedTrainingSql, "HIST_ASSET_TIME_INDEX", {}};
  Read last{"last backup", kLastBackupSql, "HIST_ASSET_TIME_INDEX", {}};
  Read lastAny{"last backup, any storage", kLastBackupAnyStorageSql, "HIST_ASSET_TIME_INDEX", {}};
  Read highest{"highest stream", kHighestStreamSql, "HIST_ASSET_TIME_INDEX", {}};
  Read assets{"asset count", kAssetCountSql, "HIST_ASSET_TIME_INDEX", {}};
  Read assetExists{"asset exists", kAssetExistsSql, "HIST_ASSET_TIME_INDEX", {}};
  Read streams{"stream count", kStreamCountSql, "HIST_ASSET_TIME_INDEX", {}};
  Read streamExists{"stream exists", kStreamExistsSql, "HIST_ASSET_TIME_INDEX", {}};
  Read feedback{"feedback count", kDedupFeedbackSql, "HIST_ASSET_TIME_INDEX", {}};
  Read feedbackExists{"feedback exists", kDedupFeedbackExistsSql, "HIST_ASSET_TIME_INDEX", {}};
  Read peers{"peer rates", kPeerRatesSql, "SCAN HIST_DATA", {}};
  for (const char* client : {"c1", "c2", "c3"})
    for (const char* type : kPolicyTypes)
      for (const char* schedule : kScheduleTypes) {
        const std::vector<Value> group = policy(client, type, schedule);
        highest.cases.push_back(group);
        for (int stream = 0; stream < 4; ++stream) {
          streams.cases.push_back(with(group, number(stream)));
          streamExists.cases.push_back(with(group, number(stream)));
        }
        for (int mark : {-1, 1, 2, 3}) {
          std::vector<Value> values = {text(client),   text("p"), text(type),
                                       text(schedule), text("n"), number(mark)};
          feedback.cases.push_back(values);
          feedbackExists.cases.push_back(values);
        }
        for (const char* asset : kAssets) {
          assets.cases.push_back(with(group, text(asset)));
          assetExists.cases.push_back(with(group, text(asset)));
          lastAny.cases.push_back(with(group, text(asset)));
          for (int limit = 0; limit <= kLimits; ++limit) {
            reduced.cases.push_back(with(group, text(asset), number(limit)));
          }
          for (const char* storage : kStorages) {
            last.cases.push_back(with(group, text(storage), text(asset)));
            for (int mode : {0, 1})
              for (int limit = 0; limit <= kLimits / 2; ++limit) {
                full.cases.push_back(
                    with(group, text(storage), text(asset), number(mode), number(limit)));
              }
          }
        }
      }
  for (const char* type : kPolicyTypes)
    for (const char* schedule : kScheduleTypes)
      for (const char* storage : kStorages) {
        peers.cases.push_back({text(type), text(schedule), text(storage)});
      }
  return {full,        reduced, last,         lastAny,  highest,        assets,
          assetExists, streams, streamExists, feedback, feedbackExists, peers};
}

class HistoryReadOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Made before the read index: today's layout less that index, then its rows.
    createSchema(legacy);
    executeSql(legacy, kOlderLayout);
    fillHistory(legacy);
    // The same database brought up to date afterwards.
    std::filesystem::copy_file(legacy, upgraded);
    createSchema(upgraded);
    // Made with the read index from the start.
    createSchema(current);
    fillHistory(current);
  }

  TempDir dir;
  const std::string legacy = dir.file("legacy.db");
  const std::string upgraded = dir.file("upgraded.db");
  const std::string current = dir.file("current.db");
};

TEST_F(HistoryReadOrderTest, EveryReadGivesTheRowsOfTheOlderLayoutInTheirOrder) {
  SQLiteDatabase before(legacy, kDatabaseOpenFlags);
  SQLiteDatabase after(upgraded, kDatabaseOpenFlags);
  SQLiteDatabase made(current, kDatabaseOpenFlags);
  for (const Read& read : reads()) {
    SCOPED_TRACE(read.name);
    EXPECT_NE(plan(after, read.sql).find(read.index), std::string::npos) << plan(after, read.sql);
    EXPECT_EQ(plan(after, read.sql).find("TEMP B-TREE"), std::string::npos);
    for (const std::vector<Value>& values : read.cases) {
      const Rows expected = run(before, read.sql, values);
      ASSERT_EQ(run(after, read.sql, values), expected);
      ASSERT_EQ(run(made, read.sql, values), expected);
    }
  }
}

// Where only "is there any row" matters, the existence form answers as the count does.
TEST_F(HistoryReadOrderTest, ExistenceFormsAnswerAsTheirCounts) {
  SQLiteDatabase database(upgraded, kDatabaseOpenFlags);
  const std::vector<Read> all = reads();
  const auto find = [&](const std::string& name) {
    for (const Read& read : all) {
      if (read.name == name) return read;
    }
    throw std::logic_error(name);
  };
  const std::pair<const char*, const char*> pairs[] = {{"asset count", "asset exists"},
                                                       {"stream count", "stream exists"},
                                                       {"feedback count", "feedback exists"}};
  for (const auto& [countName, existsName] : pairs) {
    SCOPED_TRACE(countName);
    const Read count = find(countName);
    const Read exists = find(existsName);
    int some = 0;
    for (const std::vector<Value>& values : count.cases) {
      const Rows counted = run(database, count.sql, values);
      const bool any = counted.at(0) != "COUNT(*)=0|";
      some += any;
      EXPECT_EQ(run(database, exists.sql, values), Rows{any ? "COUNT(*)=1|" : "COUNT(*)=0|"});
    }
    EXPECT_GT(some, 0);
    EXPECT_LT(some, static_cast<int>(count.cases.size()));
  }
}

// The fixture tells orders apart: an index that ends in BACKUP_TIME alone would hand the
// rows of one backup time in another order than the reads have always had, and one that
// covers the peer rates would hand them sorted rather than in rowid order.
TEST_F(HistoryReadOrderTest, FixtureCatchesAnIndexThatReordersTies) {
  SQLiteDatabase before(legacy, kDatabaseOpenFlags);
  executeSql(current, std::string(kDropReadIndexes) +
                          "CREATE INDEX NAIVE ON HIST_DATA (CLIENT, POLICY, POLICY_TYPE, "
                          "SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, DESTINATION_STORAGE_NAME, "
                          "ASSET_ID, MODE, BACKUP_TIME); CREATE INDEX NAIVE_PEERS ON HIST_DATA "
                          "(POLICY_TYPE, SCHEDULE_TYPE, DESTINATION_STORAGE_NAME, DEDUP_RATE);");
  SQLiteDatabase naive(current, kDatabaseOpenFlags);
  const std::vector<Read> all = reads();
  for (const Read& read : {all.front(), all.back()}) {
    SCOPED_TRACE(read.name);
    ASSERT_NE(plan(naive, read.sql).find("NAIVE"), std::string::npos);
    int differing = 0;
    for (const std::vector<Value>& values : read.cases) {
      differing += run(naive, read.sql, values) != run(before, read.sql, values);
    }
    EXPECT_GT(differing, 0);
  }
}

}  // namespace
