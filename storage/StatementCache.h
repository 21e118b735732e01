// Prepared statements of one connection kept by their fixed SQL text, so that an
// operation run once per job prepares its statement once per request. Each use borrows the
// statement and resets it when done, so no finished statement holds the database.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "storage/Statement.h"

namespace Quorvan::Stowfleet::UsageReporting {

class StatementCache {
 public:
  // One use of a cached statement: on destruction it is reset and its bindings cleared.
  class Use {
   public:
    explicit Use(Statement& statement) : statement_(statement) {}
    ~Use();
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    Statement& statement() const { return statement_; }

   private:
    Statement& statement_;
  };

  explicit StatementCache(sqlite3* connection) : connection_(connection) {}
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // A use of the statement of the text, prepared on its first use (raising as Statement
  // does). The text must be fixed SQL of the caller, never input.
  Use use(const std::string& sql) { return Use(prepared(sql)); }

 private:
  Statement& prepared(const std::string& sql);

  sqlite3* const connection_;
  std::unordered_map<std::string, std::unique_ptr<Statement>> statements_;
};

}  // namespace Quorvan::Stowfleet::UsageReporting
