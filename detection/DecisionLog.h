// The decision log: for every record a detection run examines, one diagnostic line naming the job
// and its group with the disposition the run gave it, the reason and the numbers that decided it;
// and the run's tally, written as one summary line per detect request. The steps of the run only
// note what they found; the text is built once per record, and only while a log sink is installed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "detection/DbscanClusterer.h"
#include "detection/DedupRule.h"
#include "detection/Deviations.h"
#include "detection/TrainingFeatures.h"
#include "storage/ResultRow.h"

namespace sfad {

// Every disposition a record can get, in the order the summary lists them.
enum class Disposition {
  kSkipped,              // another request disposed of it after the batch was read
  kInHistory,            // retired into the history row of its key
  kExcluded,             // retired: the configuration excludes it
  kDedupReported,        // held: the deduplication rule reported it
  kDedupPassed,          // retired: judged by the deduplication rule, not reported
  kRetiredAfterFailure,  // retired: counting its history failed
  kNoFeatures,           // retired: every feature disabled for its policy type
  kInCluster,            // retired
  kAllNoise,             // retired
  kLate,                 // retired
  kNearConfirmed,        // retired
  kNoCluster,            // retired: no clustered point to compare with
  kUsualRange,           // retired, recalibration requested
  kReported,             // held: outside its nearest cluster's usual range
  kPending,              // left pending after a failure
};
constexpr std::size_t kDispositionCount = static_cast<std::size_t>(Disposition::kPending) + 1;

// The word that names a disposition in the log ("in-cluster", "dedup-reported", ...).
const char* dispositionName(Disposition disposition);

// Which setting excluded a record.
enum class Exclusion { kClient, kPolicyType, kClientPolicy };

// Why a record was left to the deduplication rule.
enum class DedupCase { kNewStream, kNoAssetHistory, kTooLittleHistory };

// What one record's examination found, noted by the steps of the run; the last disposition noted is
// the record's.
class RecordDecision {
 public:
  // The record's row is read when the line is built; it must outlive the decision.
  explicit RecordDecision(const Quorvan::Stowfleet::UsageReporting::ResultRow& record)
      : record_(record) {}

  void skipped() { disposition_ = Disposition::kSkipped; }
  void inHistory() { disposition_ = Disposition::kInHistory; }
  void excluded(Exclusion setting);
  // historyRows and requiredRows count only for kTooLittleHistory.
  void judgedByDedupRule(DedupCase why, const DedupVerdict& verdict, std::size_t historyRows = 0,
                         int requiredRows = 0);
  // step: what failed, e.g. "counting the stream's history".
  void retiredAfterFailure(const char* step, const std::string& error);
  void noFeatures() { disposition_ = Disposition::kNoFeatures; }
  void calibrated() { calibrated_ = true; }

  // The model a clustered record is judged with.
  void clustered(double radius, bool storedRadius, double scaledRadius, std::size_t trainingRows,
                 TrainingMode mode);
  void inCluster(int label);
  void allNoise() { disposition_ = Disposition::kAllNoise; }
  void late(std::int64_t gapSeconds, int limitDays);
  void nearConfirmed(double distance);
  void noCluster() { disposition_ = Disposition::kNoCluster; }
  void usualRange(int label, bool recalibrationRequested);
  void reported(const NearestCluster& nearest, const AnomalousFeatures& deviations);
  // beforeJudging: the failure came before clustering and ended the run.
  void leftPending(bool beforeJudging, const std::string& error);

  Disposition disposition() const { return disposition_; }
  bool wasCalibrated() const { return calibrated_; }

  // The message of the record's line (without time, pid, level and category).
  std::string text() const;
  // Logs the line when a sink is installed.
  void write() const;

 private:
  std::string reason() const;
  std::string dedupReason() const;
  std::string modelText() const;

  const Quorvan::Stowfleet::UsageReporting::ResultRow& record_;

  Disposition disposition_ = Disposition::kPending;
  Exclusion exclusion_ = Exclusion::kClient;
  DedupCase dedupCase_ = DedupCase::kNoAssetHistory;
  DedupVerdict dedup_;
  std::size_t historyRows_ = 0;
  int requiredRows_ = 0;
  std::string failedStep_;
  std::string error_;
  bool calibrated_ = false;

  bool clustered_ = false;
  double radius_ = 0.0;
  bool storedRadius_ = false;
  double scaledRadius_ = 0.0;
  std::size_t trainingRows_ = 0;
  TrainingMode mode_ = TrainingMode::kReduced;

  int label_ = 0;
  std::int64_t gapSeconds_ = 0;
  int limitDays_ = 0;
  double distance_ = 0.0;
  bool recalibrationRequested_ = false;
  AnomalousFeatures deviations_;
  bool beforeJudging_ = false;
};

// The tally of one detect request: records examined, by disposition, and models calibrated.
class RunSummary {
 public:
  // Counts the record's disposition (and its calibration).
  void add(const RecordDecision& decision);

  std::size_t examined() const;
  std::size_t count(Disposition disposition) const {
    return counts_[static_cast<std::size_t>(disposition)];
  }

  // The summary message; seconds is the request's wall time.
  std::string text(std::size_t handedOut, double seconds) const;
  // Logs the summary when a sink is installed.
  void write(std::size_t handedOut, double seconds) const;

 private:
  // The total of the dispositions that belong, followed by the nonzero ones in parentheses.
  std::string tallyOf(bool (*belongs)(Disposition)) const;

  std::array<std::size_t, kDispositionCount> counts_{};
  std::size_t calibrated_ = 0;
};

// A number as the log writes it: the shortest text that reads back as the same double.
std::string logNumber(double value);

}  // namespace sfad
