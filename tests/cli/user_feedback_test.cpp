// The userfeedback action: the three ways of naming anomalies, replacement of
// earlier feedback, and ids-file faults found before anything is written.
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "tests/cli/CliExpectations.h"
#include "tests/support/DatabaseDump.h"

namespace sfad::test {
namespace {

using Arguments = std::vector<std::string>;

// Client c1 has anomalies detected at 1000, 2000 and 3000; c2 one at 2000.
const char kFixture[] =
    "INSERT INTO ANOMALY_DATA VALUES ('1_10', '{}', 0, 'k', 'c1', 1000);"
    "INSERT INTO ANOMALY_DATA VALUES ('2_20', '{}', 0, 'k', 'c1', 2000);"
    "INSERT INTO ANOMALY_DATA VALUES ('3_30', '{}', 0, 'k', 'c1', 3000);"
    "INSERT INTO ANOMALY_DATA VALUES ('4_40', '{}', 0, 'k', 'c2', 2000);";

class UserFeedbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = initializedDatabase(dir_);
    executeSql(database_, kFixture);
  }

  ToolResult giveFeedback(const Arguments& form, const std::string& feedback) {
    Arguments arguments{"-post",   "-action",   "userfeedback", "-database",
                        database_, "-feedback", feedback};
    arguments.insert(arguments.end(), form.begin(), form.end());
    return runTool(arguments);
  }
  // A file of its own for each call, so that a table of cases can hold several.
  std::string idsFile(const std::string& content) {
    const std::string path = dir_.file("ids" + std::to_string(++idsFiles_) + ".json");
    writeFile(path, content);
    return path;
  }
  // "id:feedback" of every stored row, by id.
  std::string storedFeedback() {
    std::string text;
    for (const auto& row :
         queryRows(database_,
                   "SELECT ANOMALY_UNIQUE_ID, FEEDBACK FROM ANOMALY_DATA_FEEDBACK "
                   "ORDER BY ANOMALY_UNIQUE_ID")) {
      text += (text.empty() ? "" : " ") + row[0] + ":" + row[1];
    }
    return text;
  }

  TempDir dir_;
  std::string database_;
  int idsFiles_ = 0;
};

TEST_F(UserFeedbackTest, FormsStoreOneRowPerNamedAnomaly) {
  struct Case {
    std::string name;
    Arguments form;
    std::string feedback;
    std::string stored;
  };
  const Case cases[] = {
      {"one id, not checked against the anomalies", {"-anomaly_id", "no_such"}, "3", "no_such:3"},
      {"ids file in order",
       {"-anomaly_ids", idsFile(R"({"other": 1, "anomaly_ids": ["2_20", "x"]})")},
       "1",
       "2_20:1 x:1"},
      {"ids file with an empty array",
       {"-anomaly_ids", idsFile(R"({"anomaly_ids": []})")},
       "1",
       ""},
      {"ids file without the member",
       {"-anomaly_ids", idsFile(R"({"anomaly_id": ["1_10"]})")},
       "1",
       ""},
      {"ids file whose top level is an array", {"-anomaly_ids", idsFile(R"(["1_10"])")}, "1", ""},
      {"client window, bounds included",
       {"-client", "c1", "-start_time", "1000", "-end_time", "2000"},
       "2",
       "1_10:2 2_20:2"},
      {"client window without anomalies",
       {"-client", "c1", "-start_time", "3001", "-end_time", "9000"},
       "2",
       ""},
      {"feedback with blanks and a sign", {"-anomaly_id", "1_10"}, " +2", "1_10:2"},
      {"no form", {}, "1", ""},
  };
  for (const Case& form : cases) {
    SCOPED_TRACE(form.name);
    executeSql(database_, "DELETE FROM ANOMALY_DATA_FEEDBACK;");
    expectSilentSuccess(giveFeedback(form.form, form.feedback));
    EXPECT_EQ(storedFeedback(), form.stored);
  }
}

TEST_F(UserFeedbackTest, NewFeedbackReplacesTheRowWithTheCaptureTime) {
  expectSilentSuccess(giveFeedback({"-anomaly_id", "1_10"}, "1"));
  const long before = static_cast<long>(std::time(nullptr));
  expectSilentSuccess(giveFeedback({"-anomaly_id", "1_10"}, "2"));
  const long after = static_cast<long>(std::time(nullptr));
  EXPECT_EQ(storedFeedback(), "1_10:2");
  const long captured =
      std::atol(queryValue(database_, "SELECT CAPTURE_TIME FROM ANOMALY_DATA_FEEDBACK").c_str());
  EXPECT_GE(captured, before);
  EXPECT_LE(captured, after);
}

TEST_F(UserFeedbackTest, IdsFileFaultsWriteNothing) {
  const std::string malformed = "Invalid json format received for anomaly ids";
  const std::string notJson = idsFile("{\"anomaly_ids\": [");
  const std::string missing = dir_.file("missing.json");
  struct Case {
    std::string path;
    std::string innerMessage;
  };
  const Case cases[] = {
      {idsFile(R"({"anomaly_ids": "1_10"})"), malformed},
      {idsFile(R"({"anomaly_ids": ["1_10", 5]})"), malformed},
      {notJson,
       "Invalid json in file " + notJson + " (line 1, column 17: ']' expected near end of file)"},
      {missing, "Invalid json in file " + missing + " (unable to open " + missing +
                    ": No such file or directory)"},
  };
  for (const Case& fault : cases) {
    SCOPED_TRACE(fault.innerMessage);
    expectFailure(giveFeedback({"-anomaly_ids", fault.path}, "1"), 1, fault.innerMessage);
    EXPECT_EQ(storedFeedback(), "");
  }
}

TEST(UserFeedbackFailureTest, DatabaseWithoutTablesFails) {
  TempDir dir;
  const std::string database = dir.file("bare.db");
  expectFailure(runTool({"-post", "-action", "userfeedback", "-database", database, "-feedback",
                         "1", "-anomaly_id", "1_10"}),
                2,
                "Failed to insert user feedback. sqlite prepare statement "
                "failed for query - "
                "INSERT OR REPLACE INTO ANOMALY_DATA_FEEDBACK VALUES ( ?, ?, ? "
                "); . Return code : 1");
  expectFailure(runTool({"-post", "-action", "userfeedback", "-database", database, "-feedback",
                         "1", "-client", "c", "-start_time", "0", "-end_time", "1"}),
                2,
                "sqlite prepare statement failed for query - SELECT "
                "ANOMALY_UNIQUE_ID FROM "
                "ANOMALY_DATA  WHERE CLIENT = ? AND DETECTION_TIME >= ? AND  "
                "DETECTION_TIME <= ? "
                ". Return code : 1. ");
}

}  // namespace
}  // namespace sfad::test
