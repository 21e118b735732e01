// The request spine end to end: parsing, usage, validation, opening the
// database and reporting failures as the error object and exit code.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/cli/CliExpectations.h"
#include "tests/support/DatabaseDump.h"

namespace sfad::test {
namespace {

using Arguments = std::vector<std::string>;

struct FailureCase {
  Arguments arguments;  // "DB" stands for a database path that must not get created
  std::string innerMessage;
};

Arguments withDatabase(const Arguments& arguments, const std::string& database) {
  Arguments result;
  for (const std::string& argument : arguments)
    result.push_back(argument == "DB" ? database : argument);
  return result;
}

const char kUsage[] =
    "\nsfanomalydetect [ -get | -post ] -action <actionName> [other "
    "parameters] "
    "\nSupported Actions:"
    "\n   1. initialize_detection. Usage: sfanomalydetect -post -action "
    "initialize_detection  "
    "-database <Full Database path> "
    "\n   2. insert_data. Usage: sfanomalydetect -post -action insert_data "
    "-database <Full "
    "Database path> -data_file <Full path of data file> "
    "\n   3. detect. Usage: sfanomalydetect -post -action detect -database "
    "<Full Database path> "
    "-data_file <Full path of data file> -config_file <Full path of config "
    "file> [-ouput_file "
    "<Full path of json output file>]"
    "\n   4. anomalies. Usage: sfanomalydetect -get -action anomalies "
    "-database <Full Database "
    "path> [ [-job_ids <comma seperated job ids> ] | [-min_backup_time "
    "<minimum backup time in "
    "epoch format> -max_backup_time <maximum backup time in epoch>] ] "
    "\n   5. purge_database. Usage: sfanomalydetect -post -action "
    "purge_database -database <Full "
    "Database path> -purge_interval_in_months <purge interval in months> "
    "\n   6. userfeedback. Usage: sfanomalydetect -post -action userfeedback "
    "-database <Full "
    "Database path> [ -anomaly_id <anomaly id> | -anomaly_ids <json file with "
    "ids> | -client "
    "<client name> -start_time <detection start time> -end_time <detection end "
    "time> ] "
    "-feedback <feedback> "
    "\n";

TEST(CommandLineTest, HelpAlonePrintsUsage) {
  for (const Arguments& arguments : {Arguments{"-help"}, Arguments{"-help", "value"}}) {
    const ToolResult result = runTool(arguments);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, kUsage);
    EXPECT_EQ(result.err, "");
  }
}

// The version comes from the build description, the same source the binary is built from.
TEST(CommandLineTest, VersionAlonePrintsNameAndVersion) {
  for (const Arguments& arguments :
       {Arguments{"-version"}, Arguments{"--version"}, Arguments{"-version", "value"}}) {
    const ToolResult result = runTool(arguments);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, std::string("sfanomalydetect ") + SFAD_PROJECT_VERSION + "\n");
    EXPECT_EQ(result.err, "");
  }
  // Beside other options it is no request of its own: without a verb nothing happens.
  expectSilentSuccess(runTool({"-version", "-help"}));
}

TEST(CommandLineTest, WithoutVerbDoesNothing) {
  TempDir dir;
  const std::string database = dir.file("never.db");
  const Arguments cases[] = {
      {},
      {"-action", "anomalies", "-database", "DB"},
      {"-GET", "-action", "status", "-database", "DB"},
  };
  for (const Arguments& arguments : cases) {
    expectSilentSuccess(runTool(withDatabase(arguments, database)));
  }
  EXPECT_FALSE(fileExists(database));
}

TEST(CommandLineTest, ParseErrors) {
  const FailureCase cases[] = {
      {{"-get", "-get"}, "Multiple options provided -get"},
      {{"-database", "a", "-get", "-database", "b"}, "Multiple options provided -database"},
      {{"-get", "-action", "anomalies", "stray"}, "Invalid option stray"},
      {{"stray", "-get"}, "Invalid option stray"},
  };
  for (const FailureCase& failure : cases) {
    SCOPED_TRACE(failure.innerMessage);
    expectFailure(runTool(failure.arguments), 3, failure.innerMessage);
  }
}

// Every fault is reported before the database is opened, so no file appears.
TEST(CommandLineTest, ValidationErrors) {
  TempDir dir;
  const std::string database = dir.file("never.db");
  const std::string invalidFor = "Invalid arguments for action - ";
  const FailureCase cases[] = {
      {{"-get"}, "-action option missing."},
      {{"-get", "-action"}, "Value for -action option is missing."},
      {{"-get", "-action", "bogus"}, "Invalid action - bogus"},
      {{"-post", "-action", "anomalies", "-database", "DB", "-job_ids", "1"},
       "Invalid operation for action 'anomalies'. Expected operation '-get'"},
      {{"-get", "-post", "-action", "anomalies", "-database", "DB", "-job_ids", "1"},
       invalidFor + "anomalies"},
      {{"-help", "-get", "-action", "status", "-database", "DB"}, invalidFor + "status"},
      {{"-get", "-action", "status", "-database"}, "Value for -database missing"},
      {{"-get", "-action", "status", "-database", "DB", "-client", "c"}, invalidFor + "status"},
      {{"-post", "-action", "initialize_detection"},
       "Argument -database missing for action - initialize_detection"},
      {{"-post", "-action", "insert_data", "-database", "DB"},
       "Argument -data_file missing for action - insert_data"},
      {{"-post", "-action", "insert_data", "-data_file", "-database", "DB"},
       "Value for -data_file missing"},
      {{"-post", "-action", "detect", "-database", "DB", "-data_file", "f"},
       "Argument -config_file missing for action - detect"},
      {{"-post", "-action", "detect", "-database", "DB", "-data_file", "f", "-config_file"},
       "Value for -config_file missing"},
      {{"-post", "-action", "detect", "-database", "DB", "-data_file", "f", "-config_file", "c",
        "-output_file"},
       "Value for -output_file missing"},
      {{"-get", "-action", "anomalies", "-database", "DB"},
       "Either -min_backup_time  or -job_ids missing for action - anomalies"},
      {{"-get", "-action", "anomalies", "-job_ids", "1"},
       "Argument -database missing for action - anomalies"},
      {{"-get", "-action", "anomalies", "-database", "DB", "-job_ids"},
       "Value for -job_ids missing"},
      {{"-get", "-action", "anomalies", "-database", "DB", "-job_ids", "1", "-min_backup_time",
        "5"},
       "Argument -max_backup_time missing for action - anomalies"},
      {{"-get", "-action", "anomalies", "-database", "DB", "-min_backup_time", "-max_backup_time",
        "6"},
       "Value for -min_backup_time missing"},
      {{"-get", "-action", "anomalies", "-database", "DB", "-min_backup_time", "5",
        "-max_backup_time"},
       "Value for -max_backup_time missing"},
      {{"-get", "-action", "anomalies", "-database", "DB", "-min_backup_time", "5",
        "-max_backup_time", "6", "-job_ids", "1"},
       invalidFor + "anomalies"},
      {{"-get", "-action", "anomalies", "-database", "DB", "-job_ids", "1", "-max_backup_time",
        "6"},
       invalidFor + "anomalies"},
      {{"-post", "-action", "userfeedback", "-database", "DB", "-anomaly_id", "3"},
       "Argument -feedback missing for action - userfeedback"},
      {{"-post", "-action", "userfeedback", "-database", "DB", "-anomaly_id", "3", "-feedback"},
       "Value for -feedback missing"},
      {{"-post", "-action", "userfeedback", "-database", "DB", "-feedback", "1", "-anomaly_id"},
       "Value for -anomaly_id missing"},
      {{"-post", "-action", "userfeedback", "-database", "DB", "-feedback", "1", "-anomaly_ids"},
       "Value for -anomaly_ids missing"},
      {{"-post", "-action", "userfeedback", "-database", "DB", "-feedback", "1", "-client"},
       "Value for -client missing"},
      {{"-post", "-action", "userfeedback", "-database", "DB", "-feedback", "1", "-client", "c"},
       invalidFor + "userfeedback"},
      {{"-post", "-action", "userfeedback", "-database", "DB", "-feedback", "1", "-anomaly_id", "3",
        "-client", "c"},
       invalidFor + "userfeedback"},
      {{"-post", "-action", "purge_database", "-database", "DB"},
       "Argument -purge_interval_in_months missing for action - "
       "purge_database"},
      {{"-post", "-action", "purge_database", "-database", "DB", "-purge_interval_in_months"},
       "Value for -purge_interval_in_months missing"},
  };
  for (const FailureCase& failure : cases) {
    SCOPED_TRACE(failure.innerMessage);
    expectFailure(runTool(withDatabase(failure.arguments, database)), 3, failure.innerMessage);
  }
  EXPECT_FALSE(fileExists(database));
}

TEST(CommandLineTest, StatusCreatesTheDatabaseAndPrintsNothing) {
  TempDir dir;
  const std::string database = dir.file("status.db");
  expectSilentSuccess(runTool({"-get", "-action", "status", "-database", database}));
  EXPECT_TRUE(fileExists(database));
}

TEST(CommandLineTest, ValidFormsWithoutTheirOptionalPartsPass) {
  TempDir dir;
  const std::string database = initializedDatabase(dir);
  // No form at all stores nothing.
  expectSilentSuccess(
      runTool({"-post", "-action", "userfeedback", "-database", database, "-feedback", "1"}));
}

TEST(CommandLineTest, UnopenableDatabaseIsCodeTwo) {
  TempDir dir;
  const std::string database = dir.file("missing/status.db");
  expectFailure(runTool({"-get", "-action", "status", "-database", database}), 2,
                "Could not open database " + database + ". Return code : 14. ");
}

// Runs the binary with standard output on a pipe whose reading end is already
// closed; answers the exit code and fills what it wrote on standard error.
int runWithClosedOutput(const Arguments& arguments, std::string& err) {
  TempDir dir;
  const std::string errPath = dir.file("err");
  int outPipe[2];
  if (pipe(outPipe) != 0) return -1;
  close(outPipe[0]);
  const pid_t child = fork();
  if (child == 0) {
    dup2(outPipe[1], STDOUT_FILENO);
    const int errFile = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(errFile, STDERR_FILENO);
    std::vector<std::string> argv{toolPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (std::string& argument : argv) args.push_back(argument.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  int status = 0;
  waitpid(child, &status, 0);
  err = readFile(errPath);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A reader that went away must show as a failed request, not as a silent exit.
TEST(CommandLineTest, ClosedOutputFailsTheListing) {
  TempDir dir;
  const std::string database = initializedDatabase(dir);
  std::string err;
  const int exitCode = runWithClosedOutput(
      {"-get", "-action", "anomalies", "-database", database, "-job_ids", "1"}, err);
  EXPECT_EQ(exitCode, 2);
  EXPECT_EQ(err, errorObject(2, "Failed to write anomalies to standard output."));
}

}  // namespace
}  // namespace sfad::test
