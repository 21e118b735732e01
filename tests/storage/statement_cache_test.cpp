// A cached statement must behave like a freshly prepared one on every use: from its first
// row, without the bindings of an earlier use, and holding no read once a use is over.
#include <gtest/gtest.h>

#include <stdexcept>

#include "storage/SQLiteDatabase.h"
#include "storage/Schema.h"
#include "storage/StatementCache.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace Quorvan::Stowfleet::UsageReporting;

constexpr const char* kRowsFrom = "SELECT ID FROM T WHERE ID >= ? ORDER BY ID";

class StatementCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database.execute("PRAGMA journal_mode=WAL;");
    database.execute("CREATE TABLE T (ID INT PRIMARY KEY NOT NULL);");
    database.execute("INSERT INTO T VALUES (1), (2), (3);");
  }

  sfad::test::TempDir dir;
  const std::string path = dir.file("cache.db");
  SQLiteDatabase database{path, kDatabaseOpenFlags};
  StatementCache cache{database.handle()};
};

TEST_F(StatementCacheTest, EachUseStartsAfreshOnThePreparedStatement) {
  sqlite3_stmt* prepared = nullptr;
  {
    const StatementCache::Use use = cache.use(kRowsFrom);
    prepared = use.statement().handle();
    use.statement().bindInt(1, 2);
    QueryResult rows;
    database.query(use.statement(), rows);
    ASSERT_EQ(rows.size(), 2u);
  }
  {
    // Stepped to its first row only, then left.
    const StatementCache::Use use = cache.use(kRowsFrom);
    EXPECT_EQ(use.statement().handle(), prepared);
    use.statement().bindInt(1, 1);
    ASSERT_EQ(sqlite3_step(use.statement().handle()), SQLITE_ROW);
  }
  const StatementCache::Use use = cache.use(kRowsFrom);
  EXPECT_EQ(use.statement().handle(), prepared);
  EXPECT_FALSE(sqlite3_stmt_busy(use.statement().handle()));
  // No binding is left over: ID >= NULL matches nothing.
  QueryResult rows;
  database.query(use.statement(), rows);
  EXPECT_TRUE(rows.empty());
}

TEST_F(StatementCacheTest, AUseLeftByAFailureHoldsNoRead) {
  try {
    const StatementCache::Use use = cache.use(kRowsFrom);
    use.statement().bindInt(1, 1);
    ASSERT_EQ(sqlite3_step(use.statement().handle()), SQLITE_ROW);
    throw std::runtime_error("failure while reading");
  } catch (const std::runtime_error&) {
  }
  // Another connection can checkpoint the whole log only when no read is open here.
  SQLiteDatabase other(path, kDatabaseOpenFlags);
  other.execute("INSERT INTO T VALUES (4);");
  int logFrames = -1;
  int checkpointed = -2;
  ASSERT_EQ(sqlite3_wal_checkpoint_v2(other.handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                                      &logFrames, &checkpointed),
            SQLITE_OK);
}

TEST_F(StatementCacheTest, TextThatDoesNotPrepareRaisesEveryTime) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      cache.use("SELECT FROM");
      FAIL() << "no failure";
    } catch (const sqlite_exception& error) {
      EXPECT_STREQ(error.what(),
                   "sqlite prepare statement failed for query - SELECT FROM. Return code : 1");
    }
  }
}

}  // namespace
