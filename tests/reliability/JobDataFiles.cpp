// Data files of generated jobs: fixed group fields per group index, and feature values
// that vary a little from job to job so that the history forms one dense cluster.
#include "tests/reliability/JobDataFiles.h"

#include <sstream>

namespace sfad::test {

namespace {

std::string clientOf(int group) { return "client-" + std::to_string(group); }

// A small deterministic wobble in [-2, 2] so that no two jobs are identical.
int wobble(long long jobId) { return static_cast<int>(jobId % 5) - 2; }

std::string pointOf(const GeneratedJob& job) {
  const double files = (1000 + 10 * wobble(job.jobId)) * job.scale;
  const double size = (500000 + 2000 * wobble(job.jobId)) * job.scale;
  std::ostringstream point;
  point << "[\"" << job.jobId << "\", " << job.backupTime << ", " << size << ", " << files << ", "
        << size * 0.9 << ", " << 600 + 5 * wobble(job.jobId) << ", "
        << 5.0 + 0.1 * wobble(job.jobId) << ", 0]";
  return point.str();
}

std::string groupOf(int group, const std::string& points) {
  return "{\"client\": \"" + clientOf(group) + "\", \"policy\": \"policy-" + std::to_string(group) +
         "\", \"policy_type\": \"Standard\", \"schedule_type\": \"0\", "
         "\"schedule_name\": \"daily\", \"destination_storage\": \"pool-" +
         std::to_string(group) + "\", \"data_points\": [" + points + "]}";
}

}  // namespace

std::string uniqueKeyOf(const GeneratedJob& job) {
  return "data_" + std::to_string(job.jobId) + "_" + clientOf(job.group) + "_" +
         std::to_string(job.backupTime);
}

std::string jobDataFile(const std::string& operation, const std::vector<GeneratedJob>& jobs) {
  std::string groups;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (i != 0) groups += ", ";
    groups += groupOf(jobs[i].group, pointOf(jobs[i]));
  }
  return "{\"operation\": \"" + operation +
         "\", \"data_points_fields\": \"JOB_ID,BACKUP_TIME,IMAGE_SIZE,NUM_FILES,"
         "DATA_TRANSFERRED,TOTAL_TIME,DEDUP_RATE,STREAM_NUMBER\", \"data\": [" +
         groups + "]}";
}

std::vector<GeneratedJob> historyJobs(int groups, int count, int newestTime, long long firstJobId) {
  std::vector<GeneratedJob> jobs;
  long long jobId = firstJobId;
  for (int group = 0; group < groups; ++group) {
    for (int day = 1; day <= count; ++day) {
      jobs.push_back({group, jobId++, newestTime - day * 86400, 1.0});
    }
  }
  return jobs;
}

}  // namespace sfad::test
