// Workload of one large detect request: 1,000 job groups with a year of daily
// history (stored day by day across the groups, as a live system records it)
// and 10 new jobs per group in the request's data file. Prints the request's
// wall time and peak memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "intake/JobRecord.h"
#include "storage/Schema.h"
#include "storage/Transaction.h"

namespace {

using Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Transaction;

constexpr int kGroups = 1000;
constexpr int kHistoryDays = 365;
constexpr int kPendingPerGroup = 10;
constexpr int kFirstDay = 1700000000;
constexpr int kDay = 86400;

// Deterministic spread of a group's values around its base, in per mille.
int spread(int group, int day, int salt) {
  return static_cast<int>((group * 7919u + day * 104729u + salt * 1299709u) % 61u) - 30;
}

sfad::JobRecord jobOf(int group, int day) {
  sfad::JobRecord job;
  job.client = "client-" + std::to_string(group);
  job.policy = "policy-" + std::to_string(group % 50);
  job.policyType = group % 3 == 0 ? "MS-Windows" : "Standard";
  job.scheduleType = "FULL";
  job.scheduleName = "daily";
  job.destinationStorageName = "pool-" + std::to_string(group % 4);
  job.backupTime = kFirstDay + day * kDay + group;
  job.backupId = job.client + "_" + std::to_string(job.backupTime);
  job.jobId = std::to_string(group * 1000 + day);
  const double base = 1024.0 * (100 + group % 400);
  job.imageSize = base * (1000 + spread(group, day, 1)) / 1000.0;
  job.kbTransferred = job.imageSize * 0.97;
  job.numFiles = (10000 + 37 * group) * (1000 + spread(group, day, 2)) / 1000;
  job.totalTime = (600 + group % 300) * (1000 + spread(group, day, 3)) / 1000;
  job.dedupRate = 90.0 + spread(group, day, 4) / 10.0;
  return job;
}

void storeHistory(const std::string& path) {
  SQLiteDatabase database(path, kDatabaseOpenFlags);
  Transaction transaction(database);
  transaction.begin();
  for (int day = 0; day < kHistoryDays; ++day) {
    for (int group = 0; group < kGroups; ++group) {
      sfad::storeIntoHistory(database, jobOf(group, day));
    }
  }
  transaction.end();
}

// The request's data file: ten new jobs per group, the last of them with ten
// times the usual image size.
void writePendingJobs(const std::string& path) {
  std::ofstream file(path);
  file << "{\"operation\": \"DETECTION_DATA\", \"data_points_fields\": "
          "\"JOB_ID,BACKUP_TIME,IMAGE_SIZE,NUM_FILES,DATA_TRANSFERRED,TOTAL_"
          "TIME,DEDUP_RATE\", "
          "\"data\": [";
  for (int group = 0; group < kGroups; ++group) {
    const sfad::JobRecord first = jobOf(group, kHistoryDays);
    file << (group ? ", " : "") << "{\"client\": \"" << first.client << "\", \"policy\": \""
         << first.policy << "\", \"policy_type\": \"" << first.policyType
         << "\", \"schedule_type\": \"FULL\", \"schedule_name\": \"daily\", "
            "\"destination_storage\": \""
         << first.destinationStorageName << "\", \"data_points\": [";
    for (int i = 0; i < kPendingPerGroup; ++i) {
      const sfad::JobRecord job = jobOf(group, kHistoryDays + i);
      const double size = i == kPendingPerGroup - 1 ? job.imageSize * 10 : job.imageSize;
      file << (i ? ", " : "") << "[\"" << job.jobId << "\", " << job.backupTime << ", " << size
           << ", " << job.numFiles << ", " << job.kbTransferred << ", " << job.totalTime << ", "
           << job.dedupRate << "]";
    }
    file << "]}";
  }
  file << "]}";
}

// Runs the tool and waits for it; answers its exit status.
int runTool(const std::vector<std::string>& arguments) {
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>(SFAD_TOOL_PATH)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int countAnomalies(const std::string& path) {
  std::ifstream file(path);
  const std::string array((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  int count = 0;
  for (std::size_t at = array.find("\"DetectionType\""); at != std::string::npos;
       at = array.find("\"DetectionType\"", at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace

int main() {
  char folderTemplate[] = "/tmp/sfad-detect-tool-XXXXXX";
  const char* folder = mkdtemp(folderTemplate);
  if (folder == nullptr) return 1;
  const std::string database = std::string(folder) + "/detection.db";
  const std::string jobs = std::string(folder) + "/jobs.json";
  const std::string config = std::string(folder) + "/detection.ini";
  const std::string output = std::string(folder) + "/anomalies.json";

  Quorvan::Stowfleet::UsageReporting::createSchema(database);
  storeHistory(database);
  writePendingJobs(jobs);
  std::ofstream(config) << "[ANOMALY_MODEL_SETTINGS]\nMIN_OBSERVATIONS_FOR_TRAINING=30\n";

  const auto start = std::chrono::steady_clock::now();
  const int status = runTool({"-post", "-action", "detect", "-database", database, "-data_file",
                              jobs, "-config_file", config, "-output_file", output});
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);

  std::cout << "detect over " << kGroups << " groups x " << kHistoryDays << " days of history, "
            << kGroups * kPendingPerGroup << " pending jobs\n"
            << "exit status: " << status << "\n"
            << "anomalies handed out: " << countAnomalies(output) << "\n"
            << "wall time: " << wall.count() << " s\n"
            << "peak memory: " << usage.ru_maxrss / 1024.0 << " MiB\n";
  std::system(("rm -rf '" + std::string(folder) + "'").c_str());
  return status;
}
