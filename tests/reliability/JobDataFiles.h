// Generated data files for the reliability suites: groups with a steady training history
// and new jobs that are either ordinary or far outside their group's usual range.
#pragma once

#include <string>
#include <vector>

namespace sfad::test {

// One backup job of group `group`; `scale` multiplies its sizes (1 is ordinary).
struct GeneratedJob {
  int group = 0;
  long long jobId = 0;
  int backupTime = 0;
  double scale = 1.0;
};

// The job's UNIQUE_KEY as the tool builds it.
std::string uniqueKeyOf(const GeneratedJob& job);

// The data file of the jobs, with the operation "TRAINING_DATA" or "DETECTION_DATA".
std::string jobDataFile(const std::string& operation, const std::vector<GeneratedJob>& jobs);

// `count` daily history jobs per group, the newest a day before `newestTime`, with ids
// from `firstJobId` on.
std::vector<GeneratedJob> historyJobs(int groups, int count, int newestTime, long long firstJobId);

}  // namespace sfad::test
