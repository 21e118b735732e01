// Direct sqlite3 reads of a database file for tests.
#include "tests/support/DatabaseDump.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace sfad::test {

namespace {

struct Connection {
  sqlite3* handle = nullptr;
  explicit Connection(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      std::string message = handle ? sqlite3_errmsg(handle) : "open failed";
      sqlite3_close(handle);
      throw std::runtime_error("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(handle, 60000);
  }
  ~Connection() { sqlite3_close(handle); }
};

}  // namespace

TextRows queryRows(const std::string& databasePath, const std::string& sql) {
  Connection connection(databasePath);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(connection.handle, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    throw std::runtime_error("prepare failed: " + sql + ": " + sqlite3_errmsg(connection.handle));
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  TextRows rows;
  int result;
  while ((result = sqlite3_step(raw)) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int column = 0; column < sqlite3_column_count(raw); ++column) {
      const unsigned char* text = sqlite3_column_text(raw, column);
      row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
    }
    rows.push_back(std::move(row));
  }
  if (result != SQLITE_DONE) {
    throw std::runtime_error("step failed: " + sql + ": " + sqlite3_errmsg(connection.handle));
  }
  return rows;
}

std::string queryValue(const std::string& databasePath, const std::string& sql) {
  TextRows rows = queryRows(databasePath, sql);
  return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

void executeSql(const std::string& databasePath, const std::string& sql) {
  Connection connection(databasePath);
  char* error = nullptr;
  if (sqlite3_exec(connection.handle, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "";
    sqlite3_free(error);
    throw std::runtime_error("exec failed: " + sql + ": " + message);
  }
}

std::string dumpDatabase(const std::string& databasePath) {
  std::string dump;
  for (const auto& table :
       queryRows(databasePath, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
    dump += "== " + table[0] + "\n";
    TextRows rows = queryRows(databasePath, "SELECT * FROM \"" + table[0] + "\"");
    std::sort(rows.begin(), rows.end());
    for (const auto& row : rows) {
      for (const std::string& value : row) dump += value + "|";
      dump += "\n";
    }
  }
  return dump;
}

}  // namespace sfad::test
