// Opening and closing the connection, and the statement operations of SQLiteDatabase.
#include "storage/SQLiteDatabase.h"

#include <sstream>
#include <string_view>

#include "storage/BusyWait.h"
#include "storage/ResultCursor.h"
#include "storage/Statement.h"

namespace Quorvan::Stowfleet::UsageReporting {

namespace {

// SQLite's update hook: one more row written into the table.
void countRowWrite(void* counts, int, const char*, const char* table, sqlite3_int64) {
  auto& byTable = *static_cast<std::map<std::string, std::uint64_t, std::less<>>*>(counts);
  const std::string_view name(table);
  const auto found = byTable.find(name);
  if (found != byTable.end()) {
    ++found->second;
  } else {
    byTable.emplace(std::string(name), 1);
  }
}

std::string withReturnCode(const std::string& text, int code) {
  std::ostringstream message;
  message << text << ". Return code : " << code;
  return message.str();
}

// Row callback of sqlite3_exec: one ResultRow per call; of two columns with one name
// the first is kept.
int collectRow(void* target, int columnCount, char** values, char** names) {
  auto* rows = static_cast<QueryResult*>(target);
  ResultRow row;
  row.reserve(static_cast<std::size_t>(columnCount));
  for (int column = 0; column < columnCount; ++column) {
    row.setIfAbsent(names[column] ? names[column] : "", FieldValue(values[column]));
  }
  rows->push_back(std::move(row));
  return 0;
}

bool isInputOutputError(int result) {
  return result == SQLITE_IOERR || result == SQLITE_IOERR_READ || result == SQLITE_IOERR_WRITE;
}

}  // namespace

SQLiteDatabase::sqlite_exception::sqlite_exception(const std::string& text,
                                                   const std::string& sqliteText, int code,
                                                   int extendedCode)
    : message_(withReturnCode(text, code)),
      sqliteMessage_(sqliteText),
      returnCode_(code),
      extendedCode_(extendedCode),
      reported_(true) {}

SQLiteDatabase::sqlite_exception::sqlite_exception(const std::string& text,
                                                   const std::string& sqliteText, int code)
    : sqlite_exception(text, sqliteText, code, code) {}

SQLiteDatabase::sqlite_exception::sqlite_exception(const std::string& text, int code)
    : sqlite_exception(text, std::string(), code) {}

SQLiteDatabase::sqlite_exception::sqlite_exception(const std::string& text, int code,
                                                   sqlite3* connection)
    : message_(withReturnCode(text, code)),
      sqliteMessage_(connection != nullptr ? sqlite3_errmsg(connection) : ""),
      returnCode_(code),
      extendedCode_(connection != nullptr ? sqlite3_extended_errcode(connection) : code),
      reported_(false) {}

const std::string& SQLiteDatabase::sqlite_exception::reportedSqliteMessage() const noexcept {
  static const std::string none;
  return reported_ ? sqliteMessage_ : none;
}

SQLiteDatabase::SQLiteDatabase(const std::string& path, int flags) : flags_(flags), path_(path) {
  sqlite3* connection = nullptr;
  lastResult_ = sqlite3_open_v2(path_.c_str(), &connection, flags_, nullptr);
  if (lastResult_ != SQLITE_OK) {
    sqlite3_close(connection);  // a failed open may still hand out a handle
    throw sqlite_exception("Could not open database " + path_, lastResult_);
  }
  connection_.reset(connection);
  sqlite3_rollback_hook(
      connection, [](void* count) { ++*static_cast<std::uint64_t*>(count); }, undoCount_.get());
  sqlite3_update_hook(connection, countRowWrite, rowWrites_.get());
}

std::uint64_t SQLiteDatabase::rowWrites(const std::string& table) const {
  const auto found = rowWrites_->find(table);
  return found == rowWrites_->end() ? 0 : found->second;
}

SQLiteDatabase::~SQLiteDatabase() {
  // After an I/O failure the connection is left open rather than risk the close.
  if (isInputOutputError(lastResult_)) connection_.release();
}

void SQLiteDatabase::runExec(const std::string& sql, const std::string& failureText,
                             QueryResult* rows) {
  const std::size_t rowsBefore = rows ? rows->size() : 0;
  char* errorText = nullptr;
  for (;;) {
    lastResult_ =
        sqlite3_exec(handle(), sql.c_str(), rows ? collectRow : nullptr, rows, &errorText);
    if (!waitIfBusy(handle(), lastResult_)) break;
    // Busy: forget what this attempt delivered and try again.
    sqlite3_free(errorText);
    errorText = nullptr;
    if (rows) rows->resize(rowsBefore);
  }
  if (lastResult_ != SQLITE_OK) {
    std::string sqliteText = errorText ? errorText : "";
    sqlite3_free(errorText);
    throw sqlite_exception(failureText, sqliteText, lastResult_,
                           sqlite3_extended_errcode(handle()));
  }
  sqlite3_free(errorText);
}

void SQLiteDatabase::beginTransaction() {
  runExec("BEGIN TRANSACTION;", "BEGIN TRANSACTION execution failed.", nullptr);
}

void SQLiteDatabase::beginImmediateTransaction() {
  runExec("BEGIN IMMEDIATE TRANSACTION;", "BEGIN TRANSACTION execution failed.", nullptr);
}

void SQLiteDatabase::endTransaction() {
  runExec("END TRANSACTION;", "END TRANSACTION execution failed.", nullptr);
}

void SQLiteDatabase::rollbackTransaction() noexcept {
  if (inTransaction()) sqlite3_exec(handle(), "ROLLBACK;", nullptr, nullptr, nullptr);
}

bool SQLiteDatabase::inTransaction() const {
  return handle() != nullptr && sqlite3_get_autocommit(handle()) == 0;
}

void SQLiteDatabase::createTable(const std::string& sql) {
  runExec(sql, "Failed to create table with query " + sql, nullptr);
}

void SQLiteDatabase::dropTable(const std::string& table) {
  const std::string sql = "DROP TABLE if exists " + table + ";";
  runExec(sql, "Failed to drop table with query " + sql, nullptr);
}

void SQLiteDatabase::execute(const std::string& sql) {
  runExec(sql, "Query execution failed for  " + sql, nullptr);
}

void SQLiteDatabase::query(const std::string& sql, QueryResult& rows) {
  runExec(sql, "Query execution failed for  " + sql, &rows);
}

void SQLiteDatabase::executeStatement(Statement& statement) {
  ResultCursor cursor(statement);
  lastResult_ = cursor.lastResult();
  if (lastResult_ != SQLITE_DONE) {
    throw sqlite_exception("sqlite query execution failed.", lastResult_, statement.connection());
  }
}

void SQLiteDatabase::query(Statement& statement, QueryResult& rows) {
  ResultCursor cursor(statement);
  ResultRow row;
  while (cursor.next(row)) {
    rows.push_back(std::move(row));
    row = ResultRow();
  }
  // A step that failed part-way is a failure, not the end of the rows.
  if (cursor.lastResult() != SQLITE_DONE) {
    throw sqlite_exception("sqlite query execution failed.", cursor.lastResult(),
                           statement.connection());
  }
}

}  // namespace Quorvan::Stowfleet::UsageReporting
