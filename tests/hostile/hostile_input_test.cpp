// Hostile input end to end: damaged or unexpected database, data, ids and configuration
// files each give their exact error object and exit code, never a crash, and leave the
// database as it was; text that looks like SQL is stored as plain data.
#include <gtest/gtest.h>
#include <jansson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/DetectionSettings.h"
#include "json/JsonOwner.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

using Arguments = std::vector<std::string>;

// Seeded, so that every run sees the same "random" bytes.
std::string randomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xff);
  return bytes;
}

std::string nestedArrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// A well-formed data file of one group with one pending job.
const char kDataFile[] =
    R"({"operation": "DETECTION_DATA", "data_points_fields": "JOB_ID,BACKUP_TIME,NUM_FILES",)"
    R"( "data": [{"client": "c1", "policy": "p1", "policy_type": "Standard",)"
    R"( "schedule_type": "0", "schedule_name": "daily", "destination_storage": "pool1",)"
    R"( "data_points": [["7", 1700000000, 12]]}]})";

struct Sandbox {
  TempDir dir;
  // Every case starts from this database, initialised and with one job detected.
  std::string database = dir.file("detection.db");
  std::string data = dir.file("data.json");
  std::string ids = dir.file("ids.json");
  std::string config = dir.file("detection.ini");

  // Replaces {dir}, {db}, {data}, {ids} and {config} by the sandbox paths.
  std::string expand(std::string text) const {
    const std::pair<const char*, const std::string*> names[] = {{"{dir}", &dir.path()},
                                                                {"{db}", &database},
                                                                {"{data}", &data},
                                                                {"{ids}", &ids},
                                                                {"{config}", &config}};
    for (const auto& [name, value] : names) {
      for (std::size_t at; (at = text.find(name)) != std::string::npos;) {
        text.replace(at, std::string(name).size(), *value);
      }
    }
    return text;
  }
};

// What a file looks like, for before/after comparison: a database's full contents, a
// folder's entries, or else the raw bytes.
std::string snapshotOf(const std::string& path) {
  if (std::filesystem::is_directory(path)) {
    std::string entries = "directory:";
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      entries += entry.path().filename().string() + ";";
    }
    return entries;
  }
  try {
    return dumpDatabase(path);
  } catch (const std::exception&) {
    return "bytes:" + readFile(path);
  }
}

struct ErrorObject {
  long long code = -1;
  std::string message;
  std::string inner;
};

// Standard error must hold exactly one JSON object with the three members.
ErrorObject parseErrorObject(const std::string& text) {
  json_error_t error;
  const JsonPtr object(json_loads(text.c_str(), 0, &error));
  EXPECT_TRUE(object && json_is_object(object.get())) << "standard error: " << text;
  ErrorObject result;
  if (!object) return result;
  EXPECT_EQ(json_object_size(object.get()), 3u) << text;
  result.code = json_integer_value(json_object_get(object.get(), "errorCode"));
  const char* message = json_string_value(json_object_get(object.get(), "errorMessage"));
  const char* inner = json_string_value(json_object_get(object.get(), "innerMessage"));
  result.message = message ? message : "<absent>";
  result.inner = inner ? inner : "<absent>";
  return result;
}

const char* const kErrorMessages[] = {"", "JSON parsing error.", "SQLite database error.",
                                      "Invalid parameters.", "Anomaly detection error."};

// A file Jansson refuses: the message is followed by its reason in brackets, which varies
// from case to case, so the expected text ends where the reason begins (see expectInner).
const char kLoadFailure[] = "JSON parsing failed. Details: Failed to load json file - {data} (";
const char kIdsLoadFailure[] = "Invalid json in file {ids} (";
const char kReadOnly[] = "sqlite query execution failed.. Return code : 8. ";

struct HostileCase {
  const char* name;
  std::function<void(Sandbox&)> prepare;  // makes the hostile file(s)
  Arguments arguments;                    // with sandbox placeholders
  int exitCode;
  std::string innerMessage;  // with sandbox placeholders; "" for a silent success
  bool readOnlyDatabase = false;
};

void PrintTo(const HostileCase& hostile, std::ostream* out) { *out << hostile.name; }

const Arguments kInsert = {"-post", "-action",    "insert_data", "-database",
                           "{db}",  "-data_file", "{data}"};
const Arguments kDetect = {"-post",      "-action", "detect",       "-database", "{db}",
                           "-data_file", "{data}",  "-config_file", "{config}"};
const Arguments kFeedbackFromFile = {"-post",     "-action", "userfeedback", "-database", "{db}",
                                     "-feedback", "1",       "-anomaly_ids", "{ids}"};
const Arguments kQueryJobs = {"-get", "-action", "anomalies", "-database", "{db}", "-job_ids", "7"};

Arguments concat(Arguments arguments, const Arguments& more) {
  arguments.insert(arguments.end(), more.begin(), more.end());
  return arguments;
}

void writeData(Sandbox& box, const std::string& text) { writeFile(box.data, text); }
void writeIds(Sandbox& box, const std::string& text) { writeFile(box.ids, text); }
void randomDatabase(Sandbox& box) {
  box.database = box.dir.file("random.db");
  writeFile(box.database, randomBytes(8192, 7));
}
void directoryDatabase(Sandbox& box) {
  box.database = box.dir.file("folder.db");
  std::filesystem::create_directory(box.database);
}
// An anomaly not yet handed out: a failed hand-out must leave it waiting.
void waitingAnomaly(Sandbox& box) {
  executeSql(box.database,
             "INSERT INTO ANOMALY_DATA VALUES ('9_1', '{}', 0, 'data_9_c1_1', 'c1', 1)");
}
void readOnlyDatabase(Sandbox& box) {
  std::filesystem::permissions(box.database, std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::group_read |
                                                 std::filesystem::perms::others_read);
}

const std::vector<HostileCase>& hostileCases() {
  static const std::vector<HostileCase> cases = {
      // Database files.
      {"random bytes as database: insert", randomDatabase, kInsert, 2,
       "BEGIN TRANSACTION execution failed.. Return code : 26. file is not a database"},
      {"random bytes as database: initialize",
       randomDatabase,
       {"-post", "-action", "initialize_detection", "-database", "{db}"},
       2,
       "Failed to generate schema.Failed to create database.Query execution failed for  "
       "PRAGMA journal_mode=WAL;. Return code : 26. file is not a database"},
      {"random bytes as database: query", randomDatabase, kQueryJobs, 2,
       "sqlite prepare statement failed for query -  SELECT * FROM  (  SELECT "
       "ANOMALY_DATA.ANOMALY_DETAILS,  substr(ANOMALY_UNIQUE_ID, 1, "
       "instr(ANOMALY_UNIQUE_ID, '_') - 1) AS JOB_ID,  CAST(substr(ANOMALY_UNIQUE_ID, "
       "instr(ANOMALY_UNIQUE_ID, '_') + 1) AS INTEGER) AS BACKUP_DATE  FROM ANOMALY_DATA WHERE "
       "JOB_ID = ?1 OR (JOB_ID <> '' AND JOB_ID NOT GLOB '*[^0-9]*' AND CAST(JOB_ID AS NUMERIC) = "
       "?1)  ) . Return code : 26. "},
      {"random bytes as database: detect", randomDatabase, kDetect, 2,
       "BEGIN TRANSACTION execution failed.. Return code : 26. file is not a database"},
      {"folder as database", directoryDatabase, kInsert, 2,
       "Could not open database {db}. Return code : 14. "},
      {"folder as database: status",
       directoryDatabase,
       {"-get", "-action", "status", "-database", "{db}"},
       2,
       "Could not open database {db}. Return code : 14. "},
      {"read-only database: insert", readOnlyDatabase, kInsert, 2, kReadOnly, true},
      {"read-only database: feedback",
       readOnlyDatabase,
       {"-post", "-action", "userfeedback", "-database", "{db}", "-feedback", "1", "-anomaly_id",
        "7_1"},
       2,
       "Failed to insert user feedback. sqlite query execution failed.. Return code : 8",
       true},
      {"read-only database: purge",
       readOnlyDatabase,
       {"-post", "-action", "purge_database", "-database", "{db}", "-purge_interval_in_months",
        "1"},
       2,
       "Failed to purge database. sqlite query execution failed.. Return code : 8",
       true},
      // Data files.
      {"empty data file", [](Sandbox& box) { writeData(box, ""); }, kInsert, 1, kLoadFailure},
      {"binary data file", [](Sandbox& box) { writeData(box, randomBytes(4096, 11)); }, kInsert, 1,
       kLoadFailure},
      {"folder as data file",
       [](Sandbox& box) {
         box.data = box.dir.file("folder.json");
         std::filesystem::create_directory(box.data);
       },
       kInsert, 1, kLoadFailure},
      {"missing data file", [](Sandbox& box) { box.data = box.dir.file("missing.json"); }, kDetect,
       1, kLoadFailure},
      {"data file nested beyond the parser's depth",
       [](Sandbox& box) { writeData(box, "{\"data\": " + nestedArrays(100000) + "}"); }, kInsert, 1,
       kLoadFailure},
      {"data file nested within the parser's depth",
       [](Sandbox& box) { writeData(box, "{\"data\": [" + nestedArrays(1000) + "]}"); }, kInsert, 1,
       "Invalid json input. Missing field under data section - client"},
      {"data file with a string that is not UTF-8",
       [](Sandbox& box) {
         std::string text = kDataFile;
         text.replace(text.find("\"c1\""), 4, "\"c\xff\xfe\xc3\"");
         writeData(box, text);
       },
       kInsert, 1, kLoadFailure},
      {"data file with an overlong UTF-8 quote",
       [](Sandbox& box) {
         std::string text = kDataFile;
         text.replace(text.find("\"c1\""), 4, "\"c\xc0\xa2\"");
         writeData(box, text);
       },
       kDetect, 1, kLoadFailure},
      {"data file with a NUL escaped in a string",
       [](Sandbox& box) {
         std::string text = kDataFile;
         text.replace(text.find("\"c1\""), 4, "\"c\\u0000; DROP TABLE HIST_DATA\"");
         writeData(box, text);
       },
       kInsert, 1, kLoadFailure},
      {"data file with a number too large for its column",
       [](Sandbox& box) {
         std::string text = kDataFile;
         text.replace(text.find(", 12]"), 5, ", 1e300]");
         writeData(box, text);
       },
       kInsert, 1,
       "Invalid data_points value. Field NUM_FILES is outside the 32-bit integer range."},
      // Anomaly-ids files.
      {"ids file that is not JSON", [](Sandbox& box) { writeIds(box, randomBytes(512, 3)); },
       kFeedbackFromFile, 1, kIdsLoadFailure},
      {"ids member that is a string",
       [](Sandbox& box) { writeIds(box, R"({"anomaly_ids": "7_1"})"); }, kFeedbackFromFile, 1,
       "Invalid json format received for anomaly ids"},
      {"ids member holding an object",
       [](Sandbox& box) { writeIds(box, R"({"anomaly_ids": ["7_1", {"id": "8_1"}]})"); },
       kFeedbackFromFile, 1, "Invalid json format received for anomaly ids"},
      {"ids file nested deeply",
       [](Sandbox& box) { writeIds(box, "{\"anomaly_ids\": " + nestedArrays(100000) + "}"); },
       kFeedbackFromFile, 1, kIdsLoadFailure},
      {"ids file whose top level is an array",
       [](Sandbox& box) { writeIds(box, R"(["7_1", "8_1"])"); }, kFeedbackFromFile, 0, ""},
      // Output files: an array that cannot be written is not handed out.
      {"folder as output file",
       [](Sandbox& box) {
         waitingAnomaly(box);
         std::filesystem::create_directory(box.dir.file("out"));
       },
       concat(kDetect, {"-output_file", "{dir}/out"}), 4,
       "Failed to write anomalies to output file {dir}/out"},
      {"database as output file", waitingAnomaly, concat(kDetect, {"-output_file", "{db}"}), 4,
       "Failed to write anomalies to output file {db}"},
      {"write-ahead log as output file", waitingAnomaly,
       concat(kDetect, {"-output_file", "{db}-wal"}), 4,
       "Failed to write anomalies to output file {db}-wal"},
      // Configuration files: unreadable ones mean the defaults.
      {"configuration of random bytes",
       [](Sandbox& box) {
         writeFile(box.config, randomBytes(4096, 5));
         writeData(box, R"({"operation": "DETECTION_DATA", "data": []})");
       },
       concat(kDetect, {"-output_file", "{dir}/out.json"}), 0, ""},
      {"folder as configuration",
       [](Sandbox& box) {
         box.config = box.dir.file("folder.ini");
         std::filesystem::create_directory(box.config);
         writeData(box, R"({"operation": "DETECTION_DATA", "data": []})");
       },
       concat(kDetect, {"-output_file", "{dir}/out.json"}), 0, ""},
  };
  return cases;
}

bool runningAsRoot() { return geteuid() == 0; }

// The superuser ignores file modes, so read-only cases run the tool as nobody.
ToolResult runCase(const Sandbox& box, const HostileCase& hostile) {
  Arguments arguments;
  for (const std::string& argument : hostile.arguments) arguments.push_back(box.expand(argument));
  if (!hostile.readOnlyDatabase || !runningAsRoot()) return runTool(arguments);
  Arguments argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                    toolPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return runProgram(argv);
}

// The inner message exactly, or for a load failure its fixed beginning and a bracketed
// reason after it.
void expectInner(const std::string& inner, const std::string& expected) {
  const bool endsAtReason =
      expected.size() >= 2 && expected.compare(expected.size() - 2, 2, " (") == 0;
  if (!endsAtReason) {
    EXPECT_EQ(inner, expected);
    return;
  }
  EXPECT_EQ(inner.substr(0, expected.size()), expected);
  ASSERT_GT(inner.size(), expected.size() + 1) << inner;
  EXPECT_EQ(inner.back(), ')') << inner;
}

class HostileInputTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileInputTest, ReportsItsErrorAndLeavesTheDatabaseUnchanged) {
  const HostileCase& hostile = GetParam();
  if (hostile.readOnlyDatabase && runningAsRoot() && access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "running as root without setpriv: file modes cannot make a database "
                    "read-only for the tool";
  }
  Sandbox box;
  ASSERT_EQ(
      runTool({"-post", "-action", "initialize_detection", "-database", box.database}).exitCode, 0);
  writeData(box, kDataFile);
  writeFile(box.config, "");
  ASSERT_EQ(runTool({"-post", "-action", "detect", "-database", box.database, "-data_file",
                     box.data, "-config_file", box.config})
                .exitCode,
            0);
  hostile.prepare(box);
  if (hostile.readOnlyDatabase) {
    std::filesystem::permissions(box.dir.path(), std::filesystem::perms::all);
  }
  const std::string before = snapshotOf(box.database);

  const ToolResult result = runCase(box, hostile);

  EXPECT_EQ(result.exitCode, hostile.exitCode) << result.err;
  if (hostile.innerMessage.empty()) {
    EXPECT_EQ(result.err, "");
  } else {
    const ErrorObject error = parseErrorObject(result.err);
    EXPECT_EQ(error.code, hostile.exitCode);
    EXPECT_EQ(error.message, kErrorMessages[hostile.exitCode]);
    expectInner(error.inner, box.expand(hostile.innerMessage));
  }
  EXPECT_EQ(snapshotOf(box.database), before);
}

std::string caseName(const ::testing::TestParamInfo<HostileCase>& info) {
  std::string name;
  for (const char* c = info.param.name; *c; ++c) name += std::isalnum(*c) ? *c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInputTest, ::testing::ValuesIn(hostileCases()), caseName);

// A configuration file of random bytes reads exactly as the built-in defaults.
TEST(HostileConfigurationTest, RandomBytesGiveTheDefaults) {
  TempDir dir;
  for (unsigned seed : {1u, 2u, 3u, 5u}) {
    writeFile(dir.file("random.ini"), randomBytes(4096, seed));
    const DetectionSettings settings = readDetectionSettings(dir.file("random.ini"));
    EXPECT_TRUE(settings.excludedClients.empty());
    EXPECT_TRUE(settings.excludedClientPolicies.empty());
    EXPECT_TRUE(settings.disabledPolicyTypes.empty());
    EXPECT_TRUE(settings.disabledFeaturesByPolicyType.empty());
    EXPECT_EQ(settings.sensitivityPercentage, 0);
    EXPECT_EQ(settings.minObservationsForTraining, 30);
    EXPECT_EQ(settings.daysForLastBackupToIgnoreAnomaly, 365);
    EXPECT_EQ(settings.maxObservationsForTraining, 3000);
    EXPECT_FALSE(settings.logModelData);
  }
}

// Quotes and SQL text in every string field are data: bound, never spliced into SQL, so
// they are stored and matched verbatim and no table is harmed.
std::string jsonText(json_t* value) {
  const JsonPtr owned(value);
  const JsonText text(json_dumps(owned.get(), 0));
  return text.get();
}

const char* const kGroupKeys[] = {"client",        "policy",        "policy_type",
                                  "schedule_type", "schedule_name", "destination_storage",
                                  "asset_id",      "app_type"};

std::string hostileText(const std::string& tag) {
  return tag + "'); DROP TABLE HIST_DATA; --\" \"q\" '' OR '1'='1 \\ %s";
}

// One group whose every string (and the job id, tagged `job`) is hostile text.
std::string hostileDataFile(const char* operation, const std::string& job) {
  json_t* group = json_object();
  for (const char* key : kGroupKeys)
    json_object_set_new(group, key, json_string(hostileText(key).c_str()));
  json_object_set_new(group, "data_points",
                      json_pack("[[s, i]]", hostileText(job).c_str(), 1700000000));
  return jsonText(json_pack("{s:s, s:s, s:[o]}", "operation", operation, "data_points_fields",
                            "JOB_ID,BACKUP_TIME", "data", group));
}

TEST(HostileTextTest, SqlTextInEveryStringFieldIsStoredVerbatim) {
  TempDir dir;
  const std::string database = dir.file("detection.db");
  ASSERT_EQ(runTool({"-post", "-action", "initialize_detection", "-database", database}).exitCode,
            0);
  const std::string tables =
      queryValue(database, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'");
  const std::string columns =
      "CLIENT, POLICY, POLICY_TYPE, SCHEDULE_TYPE, SCHEDULE_NAME, DESTINATION_STORAGE_NAME, "
      "ASSET_ID, APP_TYPE, JOB_ID, BACKUP_ID, UNIQUE_KEY";

  // One job per operation: a job already stored stays in its table when sent again.
  for (const auto& [operation, table] :
       {std::pair{"TRAINING_DATA", "HIST_DATA"}, std::pair{"DETECTION_DATA", "DATA_TO_PROCESS"}}) {
    const std::string job = std::string("job ") + operation;
    std::vector<std::string> expected;
    for (const char* key : kGroupKeys) expected.push_back(hostileText(key));
    expected.push_back(hostileText(job));
    expected.push_back(hostileText("client") + "_1700000000");
    expected.push_back("data_" + hostileText(job) + "_" + expected.back());
    writeFile(dir.file("data.json"), hostileDataFile(operation, job));
    const ToolResult stored = runTool({"-post", "-action", "insert_data", "-database", database,
                                       "-data_file", dir.file("data.json")});
    ASSERT_EQ(stored.exitCode, 0) << stored.err;
    EXPECT_EQ(queryRows(database, "SELECT " + columns + " FROM " + table), TextRows{expected})
        << table;
  }

  // Matching by hostile text finds nothing, and a hostile id is stored as it is.
  executeSql(database,
             "INSERT INTO ANOMALY_DATA VALUES ('7_1700000000', '{}', 0, 'k', 'c1', 1000)");
  const ToolResult query = runTool({"-get", "-action", "anomalies", "-database", database,
                                    "-job_ids", "7' OR '1'='1,7) OR (1=1"});
  EXPECT_EQ(query.exitCode, 0) << query.err;
  EXPECT_EQ(query.out, "[]");
  const ToolResult byClient =
      runTool({"-post", "-action", "userfeedback", "-database", database, "-feedback", "1",
               "-client", "c1' OR '1'='1", "-start_time", "0", "-end_time", "2000000000"});
  EXPECT_EQ(byClient.exitCode, 0) << byClient.err;
  EXPECT_EQ(queryValue(database, "SELECT COUNT(*) FROM ANOMALY_DATA_FEEDBACK"), "0");
  const ToolResult byId = runTool({"-post", "-action", "userfeedback", "-database", database,
                                   "-feedback", "1", "-anomaly_id", hostileText("id")});
  EXPECT_EQ(byId.exitCode, 0) << byId.err;
  EXPECT_EQ(queryValue(database, "SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA_FEEDBACK"),
            hostileText("id"));
  EXPECT_EQ(queryValue(database, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'"),
            tables);
}

}  // namespace
}  // namespace sfad::test
