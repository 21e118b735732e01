// A transaction on the request's connection that knows how it began; one that is
// still open when the object goes away is rolled back.
#pragma once

namespace Quorvan::Stowfleet::UsageReporting {

class SQLiteDatabase;

class Transaction {
 public:
  enum class Kind { Deferred, Immediate };

  explicit Transaction(SQLiteDatabase& database, Kind kind = Kind::Immediate)
      : database_(database), kind_(kind) {}
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void begin();
  void end();
  Kind kind() const { return kind_; }
  bool open() const { return open_; }

 private:
  SQLiteDatabase& database_;
  const Kind kind_;
  bool open_ = false;
};

}  // namespace Quorvan::Stowfleet::UsageReporting
