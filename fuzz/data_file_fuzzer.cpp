// Fuzz target: the data-file parser storing into an in-memory detection database. A
// file is stored whole or not at all, and every fault is reported as a JSON parsing
// error (code 1).
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzInput.h"
#include "intake/DataFile.h"
#include "storage/Schema.h"
#include "storage/Statement.h"

namespace {

using Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags;
using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

// One database for the whole fuzzing session; emptied after every stored input.
SQLiteDatabase& memoryDatabase() {
  static SQLiteDatabase* database = [] {
    auto* created = new SQLiteDatabase(":memory:", kDatabaseOpenFlags);
    Quorvan::Stowfleet::UsageReporting::generateSchema(*created);
    return created;
  }();
  return *database;
}

int storedRecords(SQLiteDatabase& database) {
  QueryResult rows;
  database.query(
      "SELECT (SELECT COUNT(*) FROM HIST_DATA) + (SELECT COUNT(*) FROM DATA_TO_PROCESS) AS N",
      rows);
  return rows.at(0).asInt("N");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SQLiteDatabase& database = memoryDatabase();
  const sfad::fuzz::MemoryFile file(data, size);
  bool stored = false;
  try {
    sfad::parseAndStore(file.path(), database);
    stored = true;
  } catch (const sfad::intake_error& error) {
    sfad::fuzz::requireErrorObject(sfad::reportedError(error), sfad::kJsonParsingError);
  } catch (const sqlite_exception&) {
    // Only a database fault may get here; the in-memory database has none to give.
    sfad::fuzz::failProperty("database failure while storing a data file");
  }
  sfad::fuzz::require(!database.inTransaction(), "transaction left open");
  if (!stored) {
    sfad::fuzz::require(storedRecords(database) == 0, "a refused file left records stored");
    return 0;
  }
  database.execute("DELETE FROM HIST_DATA; DELETE FROM DATA_TO_PROCESS;");
  return 0;
}
