// Number options (times, feedback, purge interval) used to be read with atoi:
// "abc" read as 0, "2e9" as 2 and large values wrapped, so that a typing error
// could purge every row or overwrite feedback. They must now be whole decimal
// numbers in the 32-bit signed range, checked before the database is opened.
#include <climits>
#include <string>
#include <vector>

#include "cli/WholeNumberOption.h"
#include "tests/cli/CliExpectations.h"
#include "tests/support/DatabaseDump.h"

namespace sfad::test {
namespace {

using Arguments = std::vector<std::string>;

TEST(WholeNumberTest, AcceptsOnlyWholeDecimalNumbersInRange) {
  const struct {
    const char* text;
    int number;
  } accepted[] = {
      {"0", 0},
      {"7", 7},
      {"007", 7},
      {"+7", 7},
      {"-7", -7},
      {" \t-7", -7},
      {"-0", 0},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"000000000002147483647", INT_MAX},
  };
  for (const auto& number : accepted) {
    EXPECT_EQ(parseWholeNumber(number.text), std::optional<int>(number.number)) << number.text;
  }
  const char* const rejected[] = {
      "",    " ",          "+",           "-",          "abc",         "12abc",
      "7 ",  "2e9",        "1.0",         "0x10",       "+-1",         "--1",
      "1 2", "2147483648", "-2147483649", "4294967295", "99999999999", "18446744073709551617",
  };
  for (const char* text : rejected) EXPECT_EQ(parseWholeNumber(text), std::nullopt) << text;
}

std::string invalidValue(const std::string& value, const std::string& option) {
  return "Invalid value '" + value + "' for " + option +
         ". Expected a whole number from -2147483648 to 2147483647.";
}

// Each number option of each action, with one kind of fault each; "DB" stands
// for a database path that must not get created.
TEST(WholeNumberTest, InvalidValuesFailBeforeTheDatabaseIsOpened) {
  TempDir dir;
  const std::string database = dir.file("never.db");
  const Arguments anomalies{"-get", "-action", "anomalies", "-database", database};
  const Arguments feedback{"-post", "-action", "userfeedback", "-database", database};
  const Arguments purge{"-post", "-action", "purge_database", "-database", database};
  const struct {
    Arguments base;
    Arguments options;
    std::string innerMessage;
  } cases[] = {
      {anomalies,
       {"-min_backup_time", "abc", "-max_backup_time", "5"},
       invalidValue("abc", "-min_backup_time")},
      {anomalies,
       {"-min_backup_time", "0", "-max_backup_time", "2e9"},
       invalidValue("2e9", "-max_backup_time")},
      {anomalies,
       {"-min_backup_time", "0", "-max_backup_time", "99999999999"},
       invalidValue("99999999999", "-max_backup_time")},
      {feedback,
       {"-client", "c", "-start_time", "12abc", "-end_time", "5", "-feedback", "1"},
       invalidValue("12abc", "-start_time")},
      {feedback,
       {"-client", "c", "-start_time", "1", "-end_time", "", "-feedback", "1"},
       invalidValue("", "-end_time")},
      {feedback,
       {"-client", "c", "-start_time", "-end_time", "5", "-feedback", "1"},
       "Value for -start_time missing"},
      {feedback,
       {"-client", "c", "-start_time", "1", "-end_time", "-feedback", "1"},
       "Value for -end_time missing"},
      {feedback, {"-anomaly_id", "1_10", "-feedback", "abc"}, invalidValue("abc", "-feedback")},
      {feedback, {"-feedback", "1.5"}, invalidValue("1.5", "-feedback")},
      {purge,
       {"-purge_interval_in_months", "4294967295"},
       invalidValue("4294967295", "-purge_interval_in_months")},
      {purge, {"-purge_interval_in_months", " "}, invalidValue(" ", "-purge_interval_in_months")},
  };
  for (const auto& fault : cases) {
    SCOPED_TRACE(fault.innerMessage);
    Arguments arguments = fault.base;
    arguments.insert(arguments.end(), fault.options.begin(), fault.options.end());
    expectFailure(runTool(arguments), 3, fault.innerMessage);
  }
  EXPECT_FALSE(fileExists(database));
}

// The faults that used to destroy data now leave the database as it was.
TEST(WholeNumberTest, RejectedRequestsChangeNothing) {
  TempDir dir;
  const std::string database = initializedDatabase(dir);
  executeSql(database,
             "INSERT INTO ANOMALY_DATA VALUES ('1_10', '{}', 0, 'k', 'c', 1000);"
             "INSERT INTO ANOMALY_DATA_FEEDBACK VALUES ('1_10', 1, 1000);");
  const std::string before = dumpDatabase(database);
  expectFailure(runTool({"-post", "-action", "purge_database", "-database", database,
                         "-purge_interval_in_months", "abc"}),
                3, invalidValue("abc", "-purge_interval_in_months"));
  expectFailure(runTool({"-post", "-action", "userfeedback", "-database", database, "-anomaly_id",
                         "1_10", "-feedback", "abc"}),
                3, invalidValue("abc", "-feedback"));
  EXPECT_EQ(dumpDatabase(database), before);
}

}  // namespace
}  // namespace sfad::test
