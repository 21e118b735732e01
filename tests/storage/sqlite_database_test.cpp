// The connection, statements, cursors and transactions of the storage layer, on
// temporary database files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/ResultCursor.h"
#include "storage/SQLiteDatabase.h"
#include "storage/Savepoint.h"
#include "storage/Statement.h"
#include "storage/Transaction.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"

using namespace Quorvan::Stowfleet::UsageReporting;
using sfad::test::TempDir;

namespace {

constexpr int kFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;

class StorageTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.file("test.db");
  SQLiteDatabase db{path, kFlags};

  void SetUp() override {
    db.execute("CREATE TABLE T (ID INT PRIMARY KEY NOT NULL, NAME TEXT, SCORE REAL);");
  }
};

TEST(SQLiteDatabaseOpen, MissingDirectoryFailsWithCantOpen) {
  TempDir dir;
  const std::string path = dir.file("missing/sub/x.db");
  try {
    SQLiteDatabase db(path, kFlags);
    FAIL() << "open should fail";
  } catch (const sqlite_exception& e) {
    EXPECT_STREQ(e.what(), ("Could not open database " + path + ". Return code : 14").c_str());
    EXPECT_EQ(e.sqliteMessage(), "");
    EXPECT_EQ(e.returnCode(), SQLITE_CANTOPEN);
  }
}

TEST(SQLiteDatabaseOpen, MissingFileInExistingDirectoryIsCreated) {
  TempDir dir;
  { SQLiteDatabase db(dir.file("new.db"), kFlags); }
  EXPECT_TRUE(sfad::test::fileExists(dir.file("new.db")));
}

TEST_F(StorageTest, ExecFailureCarriesTextSqliteMessageAndCode) {
  try {
    db.execute("SELEC nonsense");
    FAIL();
  } catch (const sqlite_exception& e) {
    EXPECT_STREQ(e.what(), "Query execution failed for  SELEC nonsense. Return code : 1");
    EXPECT_EQ(e.sqliteMessage(), "near \"SELEC\": syntax error");
    EXPECT_EQ(e.returnCode(), SQLITE_ERROR);
    EXPECT_EQ(e.extendedCode(), SQLITE_ERROR);
    EXPECT_EQ(db.lastResult(), SQLITE_ERROR);
    // The text of a failed exec is part of what callers read.
    EXPECT_EQ(e.report(), std::string(e.what()) + ". near \"SELEC\": syntax error");
  }
}

TEST_F(StorageTest, CreateAndDropTableTexts) {
  try {
    db.createTable("CREATE TABLE T (X INT);");
    FAIL();
  } catch (const sqlite_exception& e) {
    EXPECT_STREQ(e.what(),
                 "Failed to create table with query CREATE TABLE T (X INT);. Return code : 1");
    EXPECT_EQ(e.sqliteMessage(), "table T already exists");
  }
  db.dropTable("NOT_THERE");
  db.dropTable("T");
  EXPECT_EQ(sfad::test::queryValue(path, "SELECT COUNT(*) FROM sqlite_master"), "0");
}

TEST_F(StorageTest, ConstraintViolationKeepsItsOwnCode) {
  db.execute("INSERT INTO T VALUES (1, 'a', 1.5);");
  Statement insert(db.handle(), "INSERT INTO T VALUES (?, ?, ?)");
  insert.bindInt(1, 1);
  insert.bindText(2, "b");
  insert.bindDouble(3, 2.0);
  try {
    db.executeStatement(insert);
    FAIL();
  } catch (const sqlite_exception& e) {
    EXPECT_STREQ(e.what(), "sqlite query execution failed.. Return code : 19");
    EXPECT_EQ(e.returnCode(), SQLITE_CONSTRAINT);
    // The reason is kept for the log; callers read the message and code only.
    EXPECT_EQ(e.extendedCode(), SQLITE_CONSTRAINT_PRIMARYKEY);
    EXPECT_EQ(e.sqliteMessage(), "UNIQUE constraint failed: T.ID");
    EXPECT_EQ(e.reportedSqliteMessage(), "");
    EXPECT_EQ(e.report(), "sqlite query execution failed.. Return code : 19. ");
  }
}

TEST_F(StorageTest, ExecuteStatementOnARowFailsWithCode100) {
  Statement select(db.handle(), "SELECT 1");
  try {
    db.executeStatement(select);
    FAIL();
  } catch (const sqlite_exception& e) {
    EXPECT_STREQ(e.what(), "sqlite query execution failed.. Return code : 100");
  }
}

TEST_F(StorageTest, PrepareFailureNamesTheQuery) {
  try {
    Statement bad(db.handle(), "SELECT * FROM NOPE");
    FAIL();
  } catch (const sqlite_exception& e) {
    EXPECT_STREQ(e.what(),
                 "sqlite prepare statement failed for query - SELECT * FROM NOPE. Return code : 1");
    EXPECT_EQ(e.sqliteMessage(), "no such table: NOPE");
    EXPECT_EQ(e.report(), std::string(e.what()) + ". ");
  }
  try {
    Statement none(nullptr, "SELECT 1");
    FAIL();
  } catch (const sqlite_exception& e) {
    EXPECT_STREQ(e.what(), "Invalid database object received.. Return code : 1");
  }
}

TEST_F(StorageTest, BindOutOfRangeFails) {
  Statement select(db.handle(), "SELECT ?");
  try {
    select.bindInt(2, 5);
    FAIL();
  } catch (const sqlite_exception& e) {
    EXPECT_STREQ(e.what(), "sqlite bind failed.. Return code : 25");
    EXPECT_EQ(e.sqliteMessage(), "column index out of range");
    EXPECT_EQ(e.extendedCode(), SQLITE_RANGE);
    EXPECT_EQ(e.report(), "sqlite bind failed.. Return code : 25. ");
  }
}

TEST_F(StorageTest, RowsArriveAsTextWithNullAsEmpty) {
  db.execute("INSERT INTO T VALUES (1, NULL, 2.5); INSERT INTO T VALUES (2, 'x', NULL);");
  for (bool prepared : {false, true}) {
    QueryResult rows;
    if (prepared) {
      Statement select(db.handle(), "SELECT * FROM T ORDER BY ID");
      db.query(select, rows);
    } else {
      db.query("SELECT * FROM T ORDER BY ID", rows);
    }
    ASSERT_EQ(rows.size(), 2u) << prepared;
    EXPECT_EQ(rows[0].text("NAME"), "");
    EXPECT_EQ(rows[0].asInt("NAME"), 0);
    EXPECT_EQ(rows[0].asDouble("SCORE"), 2.5);
    EXPECT_EQ(rows[1].text("NAME"), "x");
    EXPECT_EQ(rows[1].text("SCORE"), "");
    EXPECT_EQ(rows[1].text("MISSING"), "");
  }
}

TEST_F(StorageTest, DuplicateColumnNamesExecKeepsFirstCursorKeepsLast) {
  QueryResult viaExec;
  db.query("SELECT 1 AS A, 2 AS A", viaExec);
  EXPECT_EQ(viaExec.at(0).text("A"), "1");
  QueryResult viaStatement;
  Statement select(db.handle(), "SELECT 1 AS A, 2 AS A");
  db.query(select, viaStatement);
  EXPECT_EQ(viaStatement.at(0).text("A"), "2");
}

TEST_F(StorageTest, StatementCanBeResetAndRunAgainWithNewBinding) {
  db.execute("INSERT INTO T VALUES (1, 'one', 0); INSERT INTO T VALUES (2, 'two', 0);");
  Statement select(db.handle(), "SELECT NAME FROM T WHERE ID = ?");
  std::vector<std::string> names;
  for (int id : {2, 1, 3}) {
    std::string text = std::to_string(id);
    select.bindText(1, text);
    text = "clobbered";  // bound text is a copy
    QueryResult rows;
    db.query(select, rows);
    names.push_back(rows.empty() ? "-" : rows[0].text("NAME"));
    select.reset();
  }
  EXPECT_EQ(names, (std::vector<std::string>{"two", "one", "-"}));
}

TEST(FieldValueConversion, AtoiAndAtofSemantics) {
  struct Case {
    const char* text;
    int asInt;
    double asDouble;
  } cases[] = {{"", 0, 0.0},    {"  42abc", 42, 42.0}, {"-7.9", -7, -7.9},
               {"abc", 0, 0.0}, {"3e2", 3, 300.0},     {"+5", 5, 5.0}};
  for (const Case& c : cases) {
    FieldValue value(std::string(c.text));
    EXPECT_EQ(value.asInt(), c.asInt) << c.text;
    EXPECT_DOUBLE_EQ(value.asDouble(), c.asDouble) << c.text;
  }
  EXPECT_EQ(FieldValue(-12).asString(), "-12");
}

TEST_F(StorageTest, TransactionEndCommitsAndAbandonedOneRollsBack) {
  {
    Transaction transaction(db);
    transaction.begin();
    db.execute("INSERT INTO T VALUES (1, 'kept', 0);");
    transaction.end();
  }
  {
    Transaction transaction(db, Transaction::Kind::Deferred);
    transaction.begin();
    db.execute("INSERT INTO T VALUES (2, 'lost', 0);");
  }
  EXPECT_FALSE(db.inTransaction());
  EXPECT_EQ(sfad::test::queryValue(path, "SELECT group_concat(NAME) FROM T"), "kept");
}

TEST_F(StorageTest, ClosingWithOpenTransactionDiscardsIt) {
  {
    SQLiteDatabase other(path, kFlags);
    other.beginTransaction();
    other.execute("INSERT INTO T VALUES (9, 'gone', 0);");
  }
  EXPECT_EQ(sfad::test::queryValue(path, "SELECT COUNT(*) FROM T"), "0");
}

TEST_F(StorageTest, StatementsAndImmediateBeginWaitWhileAnotherProcessWrites) {
  db.execute("PRAGMA journal_mode=WAL;");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    SQLiteDatabase other(path, kFlags);
    other.beginImmediateTransaction();
    other.execute("INSERT INTO T VALUES (1, 'first', 0);");
    char signal = 'x';
    (void)!write(ready[1], &signal, 1);
    usleep(700 * 1000);
    other.endTransaction();
    _exit(0);
  }
  char signal;
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  Statement insert(db.handle(), "INSERT INTO T VALUES (2, 'second', 0)");
  db.executeStatement(insert);  // busy until the child commits
  db.beginImmediateTransaction();
  db.execute("INSERT INTO T VALUES (3, 'third', 0);");
  db.endTransaction();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(sfad::test::queryValue(
                path, "SELECT group_concat(NAME) FROM (SELECT NAME FROM T ORDER BY ID)"),
            "first,second,third");
}

}  // namespace

namespace {

TEST_F(StorageTest, SavepointReleasedKeepsWorkAndAbandonedOneUndoesOnlyItself) {
  db.beginImmediateTransaction();
  {
    Savepoint kept(db, "record");
    db.execute("INSERT INTO T VALUES (1, 'kept', 0);");
    kept.release();
  }
  {
    Savepoint undone(db, "record");
    db.execute("INSERT INTO T VALUES (2, 'undone', 0);");
  }
  EXPECT_TRUE(db.inTransaction());
  db.endTransaction();
  {
    Savepoint alone(db, "alone");  // outside a transaction it is one of its own
    db.execute("INSERT INTO T VALUES (3, 'alone', 0);");
    alone.release();
  }
  EXPECT_EQ(sfad::test::queryValue(
                path, "SELECT group_concat(NAME) FROM (SELECT NAME FROM T ORDER BY ID)"),
            "kept,alone");
}

}  // namespace
