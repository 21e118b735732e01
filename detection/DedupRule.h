// The deduplication-ratio rule for jobs without enough history: a full backup whose
// deduplication rate is below its workload's minimum (DEDUP_THRESHOLD) is reported,
// scored against the rates of its storage peers.
#pragma once

#include <map>
#include <string>

#include "detection/AnomalyStore.h"
#include "detection/JobHistory.h"
#include "storage/ResultRow.h"
#include "storage/SQLiteDatabase.h"

namespace sfad {

struct DedupScore {
  double usualMax = 0.0;
  double usualMin = 0.0;
  double score = 0.0;
};

// What the rule found for a job, in the order it checks: not a full backup, no threshold
// for its workload, no rate, a rate not below the threshold, the group's feedback silencing
// the rule, or reported.
enum class DedupFinding { kNotFull, kNoThreshold, kNoRate, kNotBelow, kSilenced, kReported };

// The rule's finding with the numbers that decided it (-1.0 for a value not read).
struct DedupVerdict {
  DedupFinding finding = DedupFinding::kNotFull;
  double threshold = -1.0;
  double rate = -1.0;
  DedupScore score;  // only for a reported job
  bool reported() const { return finding == DedupFinding::kReported; }
};

class DedupRule {
 public:
  DedupRule(Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database, JobHistory& history,
            AnomalyStore& anomalies);

  // Stores an anomaly for the job when the rule reports it; answers the finding.
  DedupVerdict judge(const Quorvan::Stowfleet::UsageReporting::ResultRow& job);
  // Stores an anomaly for the job and answers true when the rule reports it.
  bool apply(const Quorvan::Stowfleet::UsageReporting::ResultRow& job) {
    return judge(job).reported();
  }

  // The minimum rate of a workload (policy type); -1.0 when there is none or the read
  // failed (logged).
  double threshold(const std::string& workload);

  // The peers' range and the job's distance to the nearest peer after normalisation; zeros
  // with fewer than 30 peers, an unknown rate, or a failure (logged).
  DedupScore score(const Quorvan::Stowfleet::UsageReporting::ResultRow& job);

  // Stores the workload minimums that are not stored yet; the first failure (logged) ends
  // the seeding.
  void seedThresholds(const std::map<std::string, double>& table);

 private:
  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database_;
  JobHistory& history_;
  AnomalyStore& anomalies_;
};

}  // namespace sfad
