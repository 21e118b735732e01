// A detection database made by createSchema and a data file beside it, for the intake
// suites; stores a file's text through parseAndStore and reports its failure.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cli/DetectionCliException.h"
#include "intake/DataFile.h"
#include "storage/Schema.h"
#include "tests/support/TestFiles.h"

namespace sfad::test {

struct IntakeFailure {
  int code;
  std::string errorObject;
};

class IntakeTest : public ::testing::Test {
 protected:
  TempDir dir;
  const std::string databasePath = dir.file("detection.db");
  const std::string dataPath = dir.file("data.json");

  void SetUp() override { Quorvan::Stowfleet::UsageReporting::createSchema(databasePath); }

  void store(const std::string& dataFileText) {
    writeFile(dataPath, dataFileText);
    Quorvan::Stowfleet::UsageReporting::SQLiteDatabase database(
        databasePath, Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags);
    parseAndStore(dataPath, database);
  }

  // The tool's error object for the intake error raised by storing the text, or nothing
  // when it was stored.
  std::optional<IntakeFailure> storeFailure(const std::string& dataFileText) {
    try {
      store(dataFileText);
    } catch (const intake_error& e) {
      const detection_cli_exception reported = reportedError(e);
      return IntakeFailure{reported.code(), reported.what()};
    }
    return std::nullopt;
  }

  // The error object that a data-file fault with this message reports.
  static std::string parsingError(const std::string& message) {
    return detection_cli_exception(kJsonParsingError, message).what();
  }
};

// A group object with the six required keys (client c1) followed by `extra` members.
inline std::string group(const std::string& extra) {
  return R"({"client": "c1", "policy": "p1", "policy_type": "Standard", "schedule_type": "0", )"
         R"("schedule_name": "daily", "destination_storage": "pool1", )" +
         extra + "}";
}

}  // namespace sfad::test
