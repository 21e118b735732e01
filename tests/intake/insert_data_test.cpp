// insert_data through the built binary: records stored with exit code 0 and no output,
// a faulty file reported on standard error with exit code 1.
#include <gtest/gtest.h>

#include "tests/intake/IntakeFixture.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

class InsertDataTest : public IntakeTest {
 protected:
  ToolResult insertData(const std::string& dataFileText) {
    writeFile(dataPath, dataFileText);
    return runTool(
        {"-post", "-action", "insert_data", "-database", databasePath, "-data_file", dataPath});
  }
};

TEST_F(InsertDataTest, StoresTheFileSilently) {
  const ToolResult result =
      insertData(R"({"operation": "DETECTION_DATA", "data_points_fields": "JOB_ID,BACKUP_TIME", )"
                 R"("data": [)" +
                 group(R"("data_points": [["1", 1000], ["2", 1001]])") + "]}");

  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(queryValue(databasePath, "SELECT group_concat(UNIQUE_KEY) FROM DATA_TO_PROCESS"),
            "data_1_c1_1000,data_2_c1_1001");
}

TEST_F(InsertDataTest, FaultyFileIsReportedWithCodeOne) {
  const std::string before = dumpDatabase(databasePath);

  const ToolResult result = insertData(R"({"data_points_fields": "BACKUP_TIME", "data": [)" +
                                       group(R"("data_points": [[1000], [1001, 1]])") + "]}");

  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            parsingError("Mismatch in field 'data_points_fields' and 'data_points' array."));
  EXPECT_EQ(dumpDatabase(databasePath), before);
}

}  // namespace
}  // namespace sfad::test
