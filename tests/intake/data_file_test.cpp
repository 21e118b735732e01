// Reading the data file: every validation fault with its message, the JobRecord built
// from a data point, and the file stored as a whole or not at all.
#include <gtest/gtest.h>

#include "storage/SQLiteDatabase.h"
#include "tests/intake/IntakeFixture.h"
#include "tests/support/DatabaseDump.h"

namespace sfad::test {
namespace {

using Quorvan::Stowfleet::UsageReporting::sqlite_exception;

const char kAllFields[] =
    "JOB_ID,BACKUP_TIME,IMAGE_SIZE,NUM_FILES,DATA_TRANSFERRED,TOTAL_TIME,DEDUP_RATE,STREAM_NUMBER";

// A file of one operation and field list whose `data` holds the given group texts.
std::string dataFile(const std::string& operation, const std::string& fields,
                     const std::string& groups) {
  return R"({"operation": ")" + operation + R"(", "data_points_fields": ")" + fields +
         R"(", "data": [)" + groups + "]}";
}

std::string trainingFile(const std::string& fields, const std::string& groups) {
  return dataFile("TRAINING_DATA", fields, groups);
}

struct FaultCase {
  const char* name;
  std::string fileText;
  std::string message;  // "{path}" stands for the data file's path
};

const FaultCase kFaults[] = {
    {"RootIsAString", "\"TRAINING_DATA\"",
     "JSON parsing failed. Details: Failed to load json file - {path} (line 1, column 15: "
     "'[' or '{' expected near '\"TRAINING_DATA\"')"},
    {"OperationNotAString", R"({"operation": 1})", "Invalid operation type."},
    {"OperationInLowerCase", R"({"operation": "training_data"})",
     "Invalid operation - training_data"},
    {"FieldsAsJsonArray", R"({"data_points_fields": ["BACKUP_TIME"]})",
     "Invalid type for data_points_fields. Expected is array type."},
    {"NumericGroupField", trainingFile("BACKUP_TIME", group(R"("asset_id": 7, "data_points": [])")),
     "JSON parsing failed. Details: Invalid data type for group field - asset_id"},
    {"FirstMissingKeyInCheckOrder",
     trainingFile("BACKUP_TIME",
                  R"({"client": "c1", "policy": "p1", "policy_type": "t", "schedule_type": "0",)"
                  R"( "data_points": [[1]]})"),
     "Invalid json input. Missing field under data section - schedule_name"},
    {"GroupNotAnObject", trainingFile("BACKUP_TIME", "[1000]"),
     "Invalid json input. Missing field under data section - client"},
    {"NoDataPoints", trainingFile("BACKUP_TIME", group(R"("app_type": "x")")),
     "Invalid data_points_fields section."},
    {"DataPointNotAnArray", trainingFile("BACKUP_TIME", group(R"("data_points": [[1000], 5])")),
     "JSON parsing failed. Details: Invalid data type for data_type"},
    {"OneValueTooMany", trainingFile("BACKUP_TIME", group(R"("data_points": [[1000], [1001, 2]])")),
     "Mismatch in field 'data_points_fields' and 'data_points' array."},
    {"OneValueTooFew",
     trainingFile("BACKUP_TIME,NUM_FILES", group(R"("data_points": [[1000, 1], [1001]])")),
     "Mismatch in field 'data_points_fields' and 'data_points' array."},
    {"StringOutsideJobId",
     trainingFile("BACKUP_TIME,NUM_FILES", group(R"("data_points": [[1000, 1], [1001, "7"]])")),
     "Invalid data_points data type. All fields should be int or double type except JOB_ID field."},
    {"NullValue", trainingFile("JOB_ID,BACKUP_TIME", group(R"("data_points": [[null, 1000]])")),
     "Invalid data_points data type. All fields should be int or double type except JOB_ID field."},
    {"BooleanValue", trainingFile("BACKUP_TIME", group(R"("data_points": [[true]])")),
     "Invalid data_points data type. All fields should be int or double type except JOB_ID field."},
    {"EmptyPointAndFields", trainingFile("", group(R"("data_points": [[]])")),
     "Invalid data_points_fields section. Missing BACKUP_TIME field."},
    {"NoBackupTimeField", trainingFile("JOB_ID,NUM_FILES", group(R"("data_points": [["1", 3]])")),
     "Invalid data_points_fields section. Missing BACKUP_TIME field."},
    {"BackupTimeAboveIntRange",
     trainingFile("BACKUP_TIME", group(R"("data_points": [[1000], [2147483648]])")),
     "Invalid data_points value. Field BACKUP_TIME is outside the 32-bit integer range."},
    {"NumFilesBelowIntRange",
     trainingFile("BACKUP_TIME,NUM_FILES", group(R"("data_points": [[1000, -2147483649]])")),
     "Invalid data_points value. Field NUM_FILES is outside the 32-bit integer range."},
    {"TotalTimeHugeReal",
     trainingFile("BACKUP_TIME,TOTAL_TIME", group(R"("data_points": [[1000, 1e300]])")),
     "Invalid data_points value. Field TOTAL_TIME is outside the 32-bit integer range."},
    {"StreamNumberAboveIntRange",
     dataFile("DETECTION_DATA", "BACKUP_TIME,STREAM_NUMBER",
              group(R"("data_points": [[1000, 3000000000]])")),
     "Invalid data_points value. Field STREAM_NUMBER is outside the 32-bit integer range."},
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

class DataFileFaultTest : public IntakeTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DataFileFaultTest, ReportsCodeOneAndStoresNothing) {
  store(trainingFile("BACKUP_TIME", group(R"("data_points": [[500]])")));
  const std::string before = dumpDatabase(databasePath);

  std::string message = GetParam().message;
  const auto placeholder = message.find("{path}");
  if (placeholder != std::string::npos) message.replace(placeholder, 6, dataPath);
  const auto failure = storeFailure(GetParam().fileText);

  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->code, 1);
  EXPECT_EQ(failure->errorObject, parsingError(message));
  EXPECT_EQ(dumpDatabase(databasePath), before);
}

INSTANTIATE_TEST_SUITE_P(Faults, DataFileFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// A file that cannot be loaded keeps the message callers match on and says where and why
// Jansson refused it; before, a missing file, truncated JSON and INI text read alike.
TEST_F(IntakeTest, UnloadableFileKeepsTheMessageAndSaysWhere) {
  const std::string missing = dir.file("missing.json");
  const std::string truncated = dir.file("truncated.json");
  writeFile(truncated, R"({"data": [{"client": "c1")");
  const std::string ini = std::string(SFAD_SOURCE_DIR) + "/examples/detection.ini";
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {missing, " (unable to open " + missing + ": No such file or directory)"},
      {truncated, " (line 1, column 25: '}' expected near end of file)"},
      {ini, " (line 1, column 1: '[' or '{' expected near ';')"},
  };
  for (const auto& unloadable : cases) {
    SCOPED_TRACE(unloadable.path);
    Quorvan::Stowfleet::UsageReporting::SQLiteDatabase database(
        databasePath, Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags);
    try {
      parseAndStore(unloadable.path, database);
      ADD_FAILURE() << "stored an unloadable file";
    } catch (const intake_error& e) {
      const detection_cli_exception reported = reportedError(e);
      EXPECT_EQ(reported.code(), 1);
      EXPECT_EQ(reported.what(),
                parsingError("JSON parsing failed. Details: Failed to load json file - " +
                             unloadable.path + unloadable.reason));
    }
  }
}

TEST_F(IntakeTest, ThirdGroupWithoutPolicyDiscardsTheWholeFile) {
  const std::string before = dumpDatabase(databasePath);
  const std::string third =
      R"({"client": "c3", "policy_type": "t", "schedule_type": "0", "schedule_name": "s", )"
      R"("destination_storage": "d", "data_points": [[3000]]})";

  const auto failure = storeFailure(
      trainingFile("BACKUP_TIME", group(R"("data_points": [[1000], [1001]])") + ", " +
                                      group(R"("data_points": [[2000]])") + ", " + third));

  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->errorObject,
            parsingError("Invalid json input. Missing field under data section - policy"));
  EXPECT_EQ(dumpDatabase(databasePath), before);
  // The connection is usable afterwards: nothing of the failed file is pending on it.
  store(trainingFile("BACKUP_TIME", group(R"("data_points": [[1000]])")));
  EXPECT_EQ(queryValue(databasePath, "SELECT count(*) FROM HIST_DATA"), "1");
}

TEST_F(IntakeTest, DetectionRecordCarriesEveryField) {
  store(dataFile("DETECTION_DATA", kAllFields,
                 group(R"("asset_id": "vm-7", "app_type": "SQL", "data_points": )"
                       R"([["1234", 1000.9, 2048.5, 12, 1024.25, 60, 3.5, 2]])")));

  const TextRows expected = {{"c1_1000",
                              "1000",
                              "c1",
                              "p1",
                              "Standard",
                              "0",
                              "daily",
                              "SQL",
                              "12",
                              "2048.5",
                              "1234",
                              "0",
                              "1024.25",
                              "-1",
                              "-1",
                              "60",
                              "3.5",
                              "1",
                              "0",
                              "pool1",
                              "2",
                              "vm-7",
                              "data_1234_c1_1000"}};
  EXPECT_EQ(queryRows(databasePath, "SELECT * FROM DATA_TO_PROCESS"), expected);
  EXPECT_EQ(queryValue(databasePath, "SELECT count(*) FROM HIST_DATA"), "0");
}

TEST_F(IntakeTest, AbsentValuesAndGroupKeysTakeTheirDefaults) {
  // No operation: the records go to the history.
  store(R"({"data_points_fields": "BACKUP_TIME", "data": [)" + group(R"("data_points": [[1000]])") +
        "]}");

  const TextRows expected = {{"c1_1000", "1000",         "c1",   "p1", "Standard", "0",     "daily",
                              "NONE",    "-1",           "-1.0", "",   "0",        "-1.0",  "-1",
                              "-1",      "-1",           "-1.0", "1",  "-1",       "pool1", "0",
                              "NA",      "data__c1_1000"}};
  EXPECT_EQ(queryRows(databasePath, "SELECT * FROM HIST_DATA"), expected);
}

struct PointCase {
  const char* name;
  std::string fields;
  std::string point;
  std::string expected;  // JOB_ID | BACKUP_ID | NUM_FILES | IMAGE_SIZE
};

const PointCase kPoints[] = {
    {"NegativeTimeTruncatesTowardZero", "BACKUP_TIME", "[-5.7]", "|c1_-5|-1|-1.0"},
    {"IntegerRangeBoundsAccepted", "BACKUP_TIME,NUM_FILES", "[2147483647.9, -2147483648.9]",
     "|c1_2147483647|-2147483648|-1.0"},
    {"NoTrimmingAroundCommas", "BACKUP_TIME, NUM_FILES", "[1000, 5]", "|c1_1000|-1|-1.0"},
    {"FirstOfRepeatedNameCounts", "BACKUP_TIME,NUM_FILES,NUM_FILES", "[1000, 5, 6]",
     "|c1_1000|5|-1.0"},
    {"TrailingCommaAddsNoName", "BACKUP_TIME,", "[1000]", "|c1_1000|-1|-1.0"},
    {"EmptyNameBetweenCommas", "BACKUP_TIME,,IMAGE_SIZE", "[1000, 1, 8]", "|c1_1000|-1|8.0"},
    {"UnknownNamesIgnored", "X,BACKUP_TIME", "[99, 1000]", "|c1_1000|-1|-1.0"},
    {"IntegerJobIdTakesDecimalText", "JOB_ID,BACKUP_TIME", "[1234, 1000]", "1234|c1_1000|-1|-1.0"},
    {"RealJobIdIgnored", "JOB_ID,BACKUP_TIME", "[12.5, 1000]", "|c1_1000|-1|-1.0"},
    {"StringAtSecondJobIdIgnored", "JOB_ID,BACKUP_TIME,JOB_ID", R"(["7", 1000, "8"])",
     "7|c1_1000|-1|-1.0"},
};

void PrintTo(const PointCase& point, std::ostream* out) { *out << point.name; }

class DataPointTest : public IntakeTest, public ::testing::WithParamInterface<PointCase> {};

TEST_P(DataPointTest, BuildsTheRecord) {
  store(trainingFile(GetParam().fields, group(R"("data_points": [)" + GetParam().point + "]")));

  EXPECT_EQ(queryValue(databasePath,
                       "SELECT JOB_ID || '|' || BACKUP_ID || '|' || NUM_FILES || '|' || "
                       "IMAGE_SIZE FROM HIST_DATA"),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Points, DataPointTest, ::testing::ValuesIn(kPoints),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(IntakeTest, GroupsWithoutStorableDataPointsAreSkipped) {
  store(trainingFile("BACKUP_TIME", group(R"("data_points": "none")") + ", " +
                                        group(R"("data_points": [])") + ", " +
                                        group(R"("data_points": [[1000]])")));
  EXPECT_EQ(queryValue(databasePath, "SELECT group_concat(BACKUP_ID) FROM HIST_DATA"), "c1_1000");

  for (const char* empty : {R"({"data": []})", "[1, 2]", R"({"data": 5, "other": {}})"}) {
    EXPECT_FALSE(storeFailure(empty).has_value()) << empty;
  }
  EXPECT_EQ(queryValue(databasePath, "SELECT count(*) FROM HIST_DATA"), "1");
}

TEST_F(IntakeTest, StorageFailurePassesAsSqliteError) {
  // A database without the job tables: the first record cannot be prepared.
  const std::string bare = dir.file("bare.db");
  writeFile(dataPath, trainingFile("BACKUP_TIME", group(R"("data_points": [[1000]])")));
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase database(
      bare, Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags);

  try {
    parseAndStore(dataPath, database);
    FAIL() << "storing should fail";
  } catch (const sqlite_exception& e) {
    EXPECT_EQ(e.returnCode(), 1);
    EXPECT_EQ(std::string(e.what()).rfind("sqlite prepare statement failed for query - INSERT OR "
                                          "IGNORE INTO HIST_DATA  VALUES",
                                          0),
              0u)
        << e.what();
  }
  EXPECT_FALSE(database.inTransaction());
}

}  // namespace
}  // namespace sfad::test
