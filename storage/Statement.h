// A prepared statement owned for the length of one operation; finalised on destruction.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

namespace Quorvan::Stowfleet::UsageReporting {

class Statement {
 public:
  // Prepares the text, waiting 250 ms per attempt while the database is busy.
  Statement(sqlite3* connection, const std::string& sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Bound texts are copied, so the caller's string need not outlive the call.
  void bindText(int index, const std::string& text);
  void bindInt(int index, int value);
  void bindDouble(int index, double value);
  // sqlite3_reset; bindings stay.
  void reset();

  sqlite3_stmt* handle() const { return statement_.get(); }
  sqlite3* connection() const { return connection_; }
  const std::string& sql() const { return sql_; }

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
  };

  void checkBind(int result) const;

  sqlite3* const connection_;
  const std::string sql_;
  std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
};

}  // namespace Quorvan::Stowfleet::UsageReporting
