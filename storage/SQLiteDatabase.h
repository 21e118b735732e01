// The one connection of a request to the SQLite database file, its failure type, and
// the statement operations run through it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "storage/ResultRow.h"

namespace Quorvan::Stowfleet::UsageReporting {

class Statement;

class SQLiteDatabase {
 public:
  // Every SQLite failure of the tool: what() ends in ". Return code : " + code; the
  // extended code and SQLite's own text say why. The text of a failed exec has always been
  // part of the report that callers read; that of a statement failure is kept for the
  // diagnostic log only, so that the error objects callers parse stay as they were.
  class sqlite_exception : public std::exception {
   public:
    // A failed exec: SQLite's text is reported.
    sqlite_exception(const std::string& text, const std::string& sqliteText, int code,
                     int extendedCode);
    sqlite_exception(const std::string& text, const std::string& sqliteText, int code);
    // A failure without SQLite's text (no connection, a failed open).
    sqlite_exception(const std::string& text, int code);
    // A failed prepare, bind or step: SQLite's text and extended code are read from the
    // connection, for the diagnostic log.
    sqlite_exception(const std::string& text, int code, sqlite3* connection);
    const char* what() const noexcept override { return message_.c_str(); }
    // SQLite's own text of the failure; may be empty.
    const std::string& sqliteMessage() const noexcept { return sqliteMessage_; }
    // The part of SQLite's text that callers read in the error object: the text of a
    // failed exec, empty for any other failure.
    const std::string& reportedSqliteMessage() const noexcept;
    // What callers read of the failure: what() + ". " + the reported SQLite text (the ". "
    // also when that text is empty).
    std::string report() const { return message_ + ". " + reportedSqliteMessage(); }
    int returnCode() const noexcept { return returnCode_; }
    int extendedCode() const noexcept { return extendedCode_; }

   private:
    std::string message_;
    std::string sqliteMessage_;
    int returnCode_;
    int extendedCode_;
    bool reported_;
  };

  // Opens the connection; raises sqlite_exception when the open fails.
  SQLiteDatabase(const std::string& path, int flags);
  ~SQLiteDatabase();
  SQLiteDatabase(const SQLiteDatabase&) = delete;
  SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;

  sqlite3* handle() const { return connection_.get(); }
  const std::string& path() const { return path_; }
  int flags() const { return flags_; }
  int lastResult() const { return lastResult_; }

  void beginTransaction();
  // BEGIN IMMEDIATE, waiting while another process holds the write lock: for units of
  // work that read and then write.
  void beginImmediateTransaction();
  void endTransaction();
  // Discards an open transaction; never raises (used on failure paths).
  void rollbackTransaction() noexcept;
  bool inTransaction() const;
  // How often writes of this connection were undone: a transaction rolled back (by ROLLBACK
  // or by SQLite after a failure) or a savepoint rolled back to. Whoever keeps copies of
  // rows compares it before trusting them.
  std::uint64_t undoCount() const { return *undoCount_; }
  // Counts a rollback to a savepoint (SQLite reports only those of whole transactions).
  void noteSavepointUndone() noexcept { ++*undoCount_; }
  // How many rows of the table this connection has inserted, updated or deleted (rows a
  // REPLACE removes are not counted; the row it inserts is).
  std::uint64_t rowWrites(const std::string& table) const;

  void createTable(const std::string& sql);
  void dropTable(const std::string& table);
  void execute(const std::string& sql);
  void query(const std::string& sql, QueryResult& rows);
  // Steps the statement once; it must finish (SQLITE_DONE).
  void executeStatement(Statement& statement);
  // Steps the statement to its end and appends every row.
  void query(Statement& statement, QueryResult& rows);

 private:
  struct Closer {
    void operator()(sqlite3* connection) const noexcept { sqlite3_close(connection); }
  };

  void runExec(const std::string& sql, const std::string& failureText, QueryResult* rows);

  // Heap-held so that SQLite's rollback hook keeps a stable address; declared first, so it
  // outlives the connection.
  std::unique_ptr<std::uint64_t> undoCount_ = std::make_unique<std::uint64_t>(0);
  std::unique_ptr<std::map<std::string, std::uint64_t, std::less<>>> rowWrites_ =
      std::make_unique<std::map<std::string, std::uint64_t, std::less<>>>();
  std::unique_ptr<sqlite3, Closer> connection_;
  const int flags_;
  const std::string path_;
  int lastResult_ = 0;
};

using sqlite_exception = SQLiteDatabase::sqlite_exception;

}  // namespace Quorvan::Stowfleet::UsageReporting
