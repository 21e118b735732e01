// Building the decision lines and the summary line of a detection run.
#include "detection/DecisionLog.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "detection/DiagnosticLog.h"

namespace sfad {

namespace {

constexpr double kSecondsPerDay = 86400.0;

bool isHeld(Disposition disposition) {
  return disposition == Disposition::kDedupReported || disposition == Disposition::kReported;
}

bool isRetired(Disposition disposition) {
  return !isHeld(disposition) && disposition != Disposition::kPending &&
         disposition != Disposition::kSkipped;
}

// A name as a field value: as it is, or in double quotes (with " and \ escaped) when it is empty or
// holds a blank, a quote, a backslash, "=", ":" or a control character, so that the fields of a
// line stay apart.
std::string fieldValue(const std::string& text) {
  bool plain = !text.empty();
  for (const char c : text) {
    if (c == ' ' || c == '"' || c == '\\' || c == '=' || c == ':' ||
        static_cast<unsigned char>(c) < 0x20) {
      plain = false;
      break;
    }
  }
  if (plain) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

const char* modeName(TrainingMode mode) { return mode == TrainingMode::kFull ? "full" : "reduced"; }

}  // namespace

std::string logNumber(double value) {
  char text[64];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

const char* dispositionName(Disposition disposition) {
  switch (disposition) {
    case Disposition::kSkipped:
      return "skipped";
    case Disposition::kInHistory:
      return "in-history";
    case Disposition::kExcluded:
      return "excluded";
    case Disposition::kDedupReported:
      return "dedup-reported";
    case Disposition::kDedupPassed:
      return "dedup-passed";
    case Disposition::kRetiredAfterFailure:
      return "retired-after-failure";
    case Disposition::kNoFeatures:
      return "no-features";
    case Disposition::kInCluster:
      return "in-cluster";
    case Disposition::kAllNoise:
      return "all-noise";
    case Disposition::kLate:
      return "late";
    case Disposition::kNearConfirmed:
      return "near-confirmed";
    case Disposition::kNoCluster:
      return "no-cluster";
    case Disposition::kUsualRange:
      return "usual-range";
    case Disposition::kReported:
      return "reported";
    case Disposition::kPending:
      return "pending";
  }
  return "";
}

void RecordDecision::excluded(Exclusion setting) {
  disposition_ = Disposition::kExcluded;
  exclusion_ = setting;
}

void RecordDecision::judgedByDedupRule(DedupCase why, const DedupVerdict& verdict,
                                       std::size_t historyRows, int requiredRows) {
  disposition_ = verdict.reported() ? Disposition::kDedupReported : Disposition::kDedupPassed;
  dedupCase_ = why;
  dedup_ = verdict;
  historyRows_ = historyRows;
  requiredRows_ = requiredRows;
}

void RecordDecision::retiredAfterFailure(const char* step, const std::string& error) {
  disposition_ = Disposition::kRetiredAfterFailure;
  failedStep_ = step;
  error_ = error;
}

void RecordDecision::clustered(double radius, bool storedRadius, double scaledRadius,
                               std::size_t trainingRows, TrainingMode mode) {
  clustered_ = true;
  radius_ = radius;
  storedRadius_ = storedRadius;
  scaledRadius_ = scaledRadius;
  trainingRows_ = trainingRows;
  mode_ = mode;
}

void RecordDecision::inCluster(int label) {
  disposition_ = Disposition::kInCluster;
  label_ = label;
}

void RecordDecision::late(std::int64_t gapSeconds, int limitDays) {
  disposition_ = Disposition::kLate;
  gapSeconds_ = gapSeconds;
  limitDays_ = limitDays;
}

void RecordDecision::nearConfirmed(double distance) {
  disposition_ = Disposition::kNearConfirmed;
  distance_ = distance;
}

void RecordDecision::usualRange(int label, bool recalibrationRequested) {
  disposition_ = Disposition::kUsualRange;
  label_ = label;
  recalibrationRequested_ = recalibrationRequested;
}

void RecordDecision::reported(const NearestCluster& nearest, const AnomalousFeatures& deviations) {
  disposition_ = Disposition::kReported;
  label_ = nearest.label;
  distance_ = nearest.distance;
  deviations_ = deviations;
}

void RecordDecision::leftPending(bool beforeJudging, const std::string& error) {
  disposition_ = Disposition::kPending;
  beforeJudging_ = beforeJudging;
  error_ = error;
}

std::string RecordDecision::text() const {
  const std::string id =
      record_.text("JOB_ID") + "_" + std::to_string(record_.asInt("BACKUP_TIME"));
  std::string line = "decision " + id + " client=" + fieldValue(record_.text("CLIENT")) +
                     " policy=" + fieldValue(record_.text("POLICY")) +
                     " schedule=" + fieldValue(record_.text("SCHEDULE_NAME")) +
                     " storage=" + fieldValue(record_.text("DESTINATION_STORAGE_NAME")) +
                     " asset=" + fieldValue(record_.text("ASSET_ID")) + ": " +
                     dispositionName(disposition_) + " (" + reason();
  if (clustered_) line += "; " + modelText();
  return line + ")";
}

void RecordDecision::write() const {
  if (!logSinkInstalled()) return;
  logMessage(kLogProgress, kDetectionLogCategory, "%s", text().c_str());
}

std::string RecordDecision::reason() const {
  switch (disposition_) {
    case Disposition::kSkipped:
      return "another request disposed of it";
    case Disposition::kInHistory:
      return "the training history holds its key";
    case Disposition::kExcluded:
      switch (exclusion_) {
        case Exclusion::kClient:
          return "EXCLUDE_CLIENTS CLIENT_NAME";
        case Exclusion::kPolicyType:
          return "DISABLE_POLICY_TYPE POLICY_TYPE=" + record_.text("POLICY_TYPE");
        case Exclusion::kClientPolicy:
          return "EXCLUDE_CLIENT_POLICY " + record_.text("CLIENT") + "=" + record_.text("POLICY");
      }
      break;
    case Disposition::kDedupReported:
    case Disposition::kDedupPassed:
      return dedupReason();
    case Disposition::kRetiredAfterFailure:
      return failedStep_ + " failed: " + error_;
    case Disposition::kNoFeatures:
      return "every feature disabled for policy type " + record_.text("POLICY_TYPE");
    case Disposition::kInCluster:
      return "cluster " + std::to_string(label_);
    case Disposition::kAllNoise:
      return "every point is noise";
    case Disposition::kLate:
      return "gap " + fixed(static_cast<double>(gapSeconds_) / kSecondsPerDay, 2) +
             " days > limit " + std::to_string(limitDays_) + " days";
    case Disposition::kNearConfirmed:
      return "confirmed job at distance " + logNumber(distance_) + " <= radius " +
             logNumber(scaledRadius_);
    case Disposition::kNoCluster:
      return "no clustered point to compare with";
    case Disposition::kUsualRange:
      return "every feature inside the usual range of cluster " + std::to_string(label_) +
             (recalibrationRequested_ ? "; recalibration requested"
                                      : "; recalibration request failed");
    case Disposition::kReported: {
      std::string text;
      for (const auto& [feature, stats] : deviations_) {
        if (!text.empty()) text += ", ";
        text += feature + "=" + logNumber(stats.currentValue) + " outside " +
                logNumber(stats.minValue) + "-" + logNumber(stats.maxValue);
      }
      return text + "; cluster " + std::to_string(label_) + " score=" + logNumber(distance_);
    }
    case Disposition::kPending:
      return (beforeJudging_ ? "failure before judging, run ended: " : "failure while judging: ") +
             error_;
  }
  return "";
}

std::string RecordDecision::dedupReason() const {
  std::string text;
  switch (dedupCase_) {
    case DedupCase::kNewStream:
      text = "new stream";
      break;
    case DedupCase::kNoAssetHistory:
      text = "no history of the asset";
      break;
    case DedupCase::kTooLittleHistory:
      text = "too little history: " + std::to_string(historyRows_) + " of " +
             std::to_string(requiredRows_) + " rows";
      break;
  }
  text += "; ";
  const std::string threshold =
      "threshold=" + logNumber(dedup_.threshold) + " (" + record_.text("POLICY_TYPE") + ")";
  const std::string rate = " rate=" + logNumber(dedup_.rate);
  switch (dedup_.finding) {
    case DedupFinding::kNotFull:
      return text + "schedule type " + record_.text("SCHEDULE_TYPE") + " is not FULL";
    case DedupFinding::kNoThreshold:
      return text + "no threshold for policy type " + record_.text("POLICY_TYPE");
    case DedupFinding::kNoRate:
      return text + threshold + " no rate";
    case DedupFinding::kNotBelow:
      return text + threshold + rate + " not below";
    case DedupFinding::kSilenced:
      return text + threshold + rate + " below, silenced by deduplication feedback";
    case DedupFinding::kReported:
      return text + threshold + rate + " below; score=" + logNumber(dedup_.score.score) +
             " usual " + logNumber(dedup_.score.usualMin) + "-" + logNumber(dedup_.score.usualMax);
  }
  return text;
}

std::string RecordDecision::modelText() const {
  return "radius=" + logNumber(radius_) + " " +
         (!storedRadius_ ? "default"
          : calibrated_  ? "calibrated"
                         : "stored") +
         " scaled=" + logNumber(scaledRadius_) + " rows=" + std::to_string(trainingRows_) +
         " mode=" + modeName(mode_);
}

void RunSummary::add(const RecordDecision& decision) {
  ++counts_[static_cast<std::size_t>(decision.disposition())];
  if (decision.wasCalibrated()) ++calibrated_;
}

std::size_t RunSummary::examined() const {
  std::size_t total = 0;
  for (const std::size_t count : counts_) total += count;
  return total;
}

std::string RunSummary::text(std::size_t handedOut, double seconds) const {
  return "summary examined=" + std::to_string(examined()) + " retired=" + tallyOf(isRetired) +
         " held=" + tallyOf(isHeld) + " pending=" + std::to_string(count(Disposition::kPending)) +
         " skipped=" + std::to_string(count(Disposition::kSkipped)) +
         " handed_out=" + std::to_string(handedOut) + " calibrated=" + std::to_string(calibrated_) +
         " seconds=" + fixed(seconds, 3);
}

std::string RunSummary::tallyOf(bool (*belongs)(Disposition)) const {
  std::size_t total = 0;
  std::string reasons;
  for (std::size_t i = 0; i < kDispositionCount; ++i) {
    const Disposition disposition = static_cast<Disposition>(i);
    if (!belongs(disposition) || counts_[i] == 0) continue;
    total += counts_[i];
    if (!reasons.empty()) reasons += " ";
    reasons += std::string(dispositionName(disposition)) + "=" + std::to_string(counts_[i]);
  }
  return std::to_string(total) + (reasons.empty() ? "" : " (" + reasons + ")");
}

void RunSummary::write(std::size_t handedOut, double seconds) const {
  if (!logSinkInstalled()) return;
  logMessage(kLogProgress, kDetectionLogCategory, "%s", text(handedOut, seconds).c_str());
}

}  // namespace sfad
