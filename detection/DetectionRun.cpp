// The detection run: feedback first, then every pending record of one batch
// judged and given its disposition (retired into the history, held as
// anomalous, or left pending). Dispositions are grouped into immediate
// transactions of up to 100 records, with one savepoint per unit of a record's
// writes, so that every record ends in exactly one state.
#include "detection/DetectionRun.h"

#include <cstdint>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>

#include "config/DetectionSettings.h"
#include "config/LowerCase.h"
#include "detection/DecisionLog.h"
#include "detection/Deviations.h"
#include "detection/DiagnosticLog.h"
#include "detection/FeatureMath.h"
#include "storage/ReadTuning.h"
#include "storage/Savepoint.h"
#include "storage/Statement.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::Savepoint;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::tuneForLargeReads;

constexpr const char* kUnexpectedDetectionError = "Unexpected error during detection.";
constexpr const char* kUnexpectedJudgementText = "Unexpected error during anomaly detection.";
constexpr int kRecordsPerTransaction = 100;
constexpr int kNonMultiStreamRowLimit = 365;
constexpr std::int64_t kSecondsPerDay = 86400;

// The record under examination: a copy of its batch row and the columns the run
// reads.
struct WorkingRecord {
  ResultRow row;
  std::string client;
  std::string policy;
  std::string policyType;
  std::string uniqueKey;
  std::string jobId;
};

// What the steps before clustering found for a record that is to be judged.
struct Judgement {
  TrainingRows trainingRows;
  TrainingMode mode = TrainingMode::kReduced;
  FeatureVector features;
  FeatureMatrix matrix;
};

// The run's dispositions as immediate transactions (waiting while another
// process writes), each closed after 100 records, when the run ends, and before
// a failure leaves the run.
class DispositionBatch {
 public:
  explicit DispositionBatch(SQLiteDatabase& database) : database_(database) {}
  ~DispositionBatch() {
    if (open_) database_.rollbackTransaction();
  }
  DispositionBatch(const DispositionBatch&) = delete;
  DispositionBatch& operator=(const DispositionBatch&) = delete;

  // Opens the transaction for the next record, committing a full one first.
  void beginRecord() {
    if (open_ && recordsInTransaction_ >= kRecordsPerTransaction) commit();
    // A failure that made SQLite abandon the transaction leaves none open.
    if (open_ && !database_.inTransaction()) open_ = false;
    if (!open_) {
      database_.beginImmediateTransaction();
      open_ = true;
      recordsInTransaction_ = 0;
    }
    ++recordsInTransaction_;
  }

  void commit() {
    if (open_ && database_.inTransaction()) database_.endTransaction();
    open_ = false;
  }

  // Keeps the dispositions made so far when a failure is about to leave the
  // run.
  void commitBeforeFailure() noexcept {
    try {
      commit();
    } catch (...) {
      database_.rollbackTransaction();
      open_ = false;
    }
  }

 private:
  SQLiteDatabase& database_;
  bool open_ = false;
  int recordsInTransaction_ = 0;
};

WorkingRecord workingRecordOf(const ResultRow& pending) {
  WorkingRecord job;
  job.row = pending;
  job.client = job.row.text("CLIENT");
  job.uniqueKey = job.row.text("UNIQUE_KEY");
  job.jobId = job.row.text("JOB_ID");
  job.policyType = job.row.text("POLICY_TYPE");
  job.policy = job.row.text("POLICY");
  job.row.set("USER_IDENTIFIED_CLUSTER", std::string("-1"));
  return job;
}

const FailureLogFormat kFeedbackFailure = {
    kLogProgress,
    "Error occurred during incorporating user feedback into training set. Details: %s %s",
    kLogProgress,
    "Error occurred during incorporating user feedback into training set.. Details: %s"};
const FailureLogFormat kBatchFailure = {
    kLogProgress, "Could not get data for detection. Details: %s %s", kLogProgress,
    "Could not get data for detection. Details: %s"};
const FailureLogFormat kRecalibrationFailure = {
    kLogRecalibration,
    "Could not initiate Re-calibration, re-calibration will occure later as per frequency. %s %s",
    kLogRecalibration,
    "Could not initiate Re-calibration, re-calibration will occure later as per frequency. %s"};
const FailureLogFormat kDetectionFailure = {kLogProgress,
                                            "Error while doing detection. Details: %s %s",
                                            kLogFailure, "Error while doing detection - %s"};

void incorporateStoredFeedback(DetectionEngine& engine) {
  try {
    engine.feedback().incorporate();
  } catch (const std::exception& error) {
    logCaughtFailure(kFeedbackFailure, error);
    if (engine.propagateErrors()) throw;
  } catch (...) {
    if (engine.propagateErrors()) throw std::runtime_error(kUnexpectedDetectionError);
  }
}

// Answers false when the run is to end without examining any record.
bool fetchPendingBatch(DetectionEngine& engine, QueryResult& batch) {
  try {
    engine.queue().pendingBatch(batch);
    return true;
  } catch (const std::exception& error) {
    logCaughtFailure(kBatchFailure, error);
    if (engine.propagateErrors()) throw;
  }
  batch.clear();
  return false;
}

void retire(DetectionEngine& engine, const WorkingRecord& job) { engine.queue().retire(job.row); }

void hold(DetectionEngine& engine, const WorkingRecord& job) { engine.queue().hold(job.uniqueKey); }

// A pending record whose key the history already holds (a re-sent job that an
// earlier version stored into both tables) is not judged again: it is retired into
// its history row, whose mark stays. Answers true when it was retired.
bool retireIfInHistory(DetectionEngine& engine, const WorkingRecord& job,
                       RecordDecision& decision) {
  if (!engine.history().holdsKey(job.uniqueKey)) return false;
  retire(engine, job);
  decision.inHistory();
  return true;
}

// Holds the record when the deduplication-ratio rule records an anomaly for it,
// retires it otherwise; answers whether it was held. historyRows and requiredRows
// count for a record with too little history.
bool settleByDedupRule(DetectionEngine& engine, const WorkingRecord& job, DedupCase why,
                       RecordDecision& decision, std::size_t historyRows = 0,
                       int requiredRows = 0) {
  const DedupVerdict verdict = engine.dedupRule().judge(job.row);
  if (verdict.reported()) {
    hold(engine, job);
  } else {
    retire(engine, job);
  }
  decision.judgedByDedupRule(why, verdict, historyRows, requiredRows);
  return verdict.reported();
}

// Retires a record whose client, policy type, or policy on its client the configuration
// excludes from detection; answers whether it did.
bool retireIfExcluded(DetectionEngine& engine, const DetectionSettings& settings,
                      const WorkingRecord& job, RecordDecision& decision) {
  const std::string client = lowerCase(job.client);
  if (settings.excludedClients.count(client) != 0) {
    logMessage(kLogProgress, kDetectionLogCategory,
               "Ignoring client '%s' for detection as per configuration.", job.client.c_str());
    retire(engine, job);
    decision.excluded(Exclusion::kClient);
    return true;
  }
  if (settings.disabledPolicyTypes.count(lowerCase(job.policyType)) != 0) {
    logMessage(kLogProgress, kDetectionLogCategory,
               "Ignoring policy type '%s' for detection as per configuration.",
               job.policyType.c_str());
    retire(engine, job);
    decision.excluded(Exclusion::kPolicyType);
    return true;
  }
  const auto policies = settings.excludedClientPolicies.find(client);
  if (policies != settings.excludedClientPolicies.end() &&
      policies->second.count(lowerCase(job.policy)) != 0) {
    logMessage(kLogProgress, kDetectionLogCategory,
               "Ignoring policy '%s' on client '%s' for detection as per "
               "configuration.",
               job.policy.c_str(), job.client.c_str());
    retire(engine, job);
    decision.excluded(Exclusion::kClientPolicy);
    return true;
  }
  return false;
}

bool isMultiStreamJob(const WorkingRecord& job) {
  return job.row.asInt("STREAM_NUMBER") != 0 && job.row.text("ASSET_ID") == "NA";
}

// For a multi-stream record: answers true when the record's stream has no
// history and the record was settled by the deduplication-ratio rule. A
// failure there retires the record, without the partial writes of the attempt.
bool settleNewStream(DetectionEngine& engine, const WorkingRecord& job, RecordDecision& decision) {
  try {
    if (engine.history().hasStreamHistory(job.row)) return false;
    Savepoint attempt(engine.database(), "sfad_new_stream");
    if (!settleByDedupRule(engine, job, DedupCase::kNewStream, decision)) {
      logMessage(kLogProgress, kDetectionLogCategory,
                 "Not enough data for training for client - %s , policy - %s", job.client.c_str(),
                 job.policy.c_str());
    }
    attempt.release();
  } catch (const std::exception& error) {
    logMessage(kLogFailure, kDetectionLogCategory,
               "Error while getting job stream count from training set. Jobid "
               "- %s. %s ",
               job.jobId.c_str(), error.what());
    retire(engine, job);
    decision.retiredAfterFailure("counting the stream's history", error.what());
  }
  return true;
}

// How many history rows the record needs, or nothing when the count failed and
// the record is to be retired.
std::optional<int> requiredObservations(DetectionEngine& engine, const DetectionSettings& settings,
                                        const WorkingRecord& job, int& maxStreamNumber,
                                        RecordDecision& decision) {
  try {
    return engine.history().requiredObservations(job.row, settings.minObservationsForTraining,
                                                 maxStreamNumber);
  } catch (const std::exception& error) {
    if (engine.propagateErrors()) throw std::runtime_error(error.what());
    logMessage(kLogProgress, kDetectionLogCategory,
               "Error while getting minimum required observations. %s ", error.what());
    decision.retiredAfterFailure("counting the required history", error.what());
    return std::nullopt;
  }
}

const std::set<std::string>& disabledFeaturesOf(const DetectionSettings& settings,
                                                const WorkingRecord& job) {
  static const std::set<std::string> kNone;
  const auto found = settings.disabledFeaturesByPolicyType.find(lowerCase(job.policyType));
  return found == settings.disabledFeaturesByPolicyType.end() ? kNone : found->second;
}

// Everything before clustering: the exclusions, the new-stream and not-enough-history
// cases, the training set, the calibration and the feature matrix. Answers the judgement
// when the record is to be clustered; nothing when it got its disposition or is left
// pending. The
// writes of the dispositions and of the calibration are kept together as one
// unit of the record.
std::optional<Judgement> prepareJudgement(DetectionEngine& engine,
                                          const DetectionSettings& settings,
                                          const WorkingRecord& job, RecordDecision& decision) {
  Savepoint unit(engine.database(), "sfad_record");
  // A record that another request disposed of after this run read its batch is skipped.
  if (!engine.queue().isStillPending(job.uniqueKey)) {
    decision.skipped();
    return std::nullopt;
  }
  const bool settled = retireIfInHistory(engine, job, decision) ||
                       retireIfExcluded(engine, settings, job, decision) ||
                       (isMultiStreamJob(job) && settleNewStream(engine, job, decision));
  if (settled) {
    unit.release();
    return std::nullopt;
  }
  int maxStreamNumber = 0;
  const std::optional<int> found =
      requiredObservations(engine, settings, job, maxStreamNumber, decision);
  if (!found) {
    retire(engine, job);
    unit.release();
    return std::nullopt;
  }
  int required = *found;
  if (required > settings.maxObservationsForTraining) {
    required = settings.maxObservationsForTraining;
  }
  const int rowLimit =
      maxStreamNumber != 0 ? settings.maxObservationsForTraining : kNonMultiStreamRowLimit;
  if (required == -1) {
    settleByDedupRule(engine, job, DedupCase::kNoAssetHistory, decision);
    unit.release();
    return std::nullopt;
  }
  logMessage(kLogProgress, kDetectionLogCategory,
             "Getting training set for detection client - %s, policy - %s and "
             "job - %s.",
             job.client.c_str(), job.policy.c_str(), job.jobId.c_str());
  Judgement judgement;
  judgement.mode =
      engine.history().trainingSet(job.row, judgement.trainingRows, required, rowLimit);
  if (judgement.trainingRows.size() < static_cast<std::size_t>(required)) {
    if (!settleByDedupRule(engine, job, DedupCase::kTooLittleHistory, decision,
                           judgement.trainingRows.size(), required)) {
      logMessage(kLogProgress, kDetectionLogCategory,
                 "Not enough data for training for client - %s , policy - %s. ", job.client.c_str(),
                 job.policy.c_str());
    }
    unit.release();
    return std::nullopt;
  }
  if (engine.models().isCalibrationDue(job.row)) {
    engine.models().calibrate(job.row, judgement.trainingRows, judgement.mode);
    decision.calibrated();
  }
  unit.release();

  const std::set<std::string>& disabled = disabledFeaturesOf(settings, job);
  for (const std::string& feature : trainingFeatures(judgement.mode)) {
    appendFeature(disabled, feature, job.row, judgement.features);
  }
  if (judgement.features.empty()) {
    logMessage(kLogProgress, kDetectionLogCategory,
               "All features are disabled for policy type = %s. Detection aborted.",
               job.policyType.c_str());
    // It could never be judged: retired like a job of a disabled policy type.
    Savepoint retirement(engine.database(), "sfad_record");
    retire(engine, job);
    retirement.release();
    decision.noFeatures();
    return std::nullopt;
  }
  judgement.matrix.push_back(judgement.features);
  buildFeatureVectors(judgement.trainingRows, judgement.matrix, judgement.mode, disabled);
  return judgement;
}

// The radius a record is clustered with: the stored one of its group, or the default,
// scaled by the sensitivity.
struct Radius {
  double base = 0.0;
  bool stored = false;
  double scaled = 0.0;
};

Radius clusteringRadius(DetectionEngine& engine, const DetectionSettings& settings,
                        const WorkingRecord& job) {
  QueryResult parameters;
  engine.models().parameters(job.row, parameters);
  Radius radius;
  radius.stored = !parameters.empty();
  radius.base = radius.stored ? parameters.front().asDouble("EPS") : engine.defaultRadius();
  radius.scaled = radius.base + (settings.sensitivityPercentage / 100.0) * radius.base;
  return radius;
}

bool isAllNoise(const std::vector<int>& labels) {
  for (int label : labels) {
    if (label != NOISE) return false;
  }
  return true;
}

std::string joinedValues(const FeatureVector& values) {
  std::ostringstream text;
  for (double value : values) text << value << ",";
  return text.str();
}

void logModelData(const std::vector<int>& labels, const FeatureMatrix& normalised,
                  const FeatureVector& observation) {
  for (std::size_t point = 0; point < labels.size(); ++point) {
    std::ostringstream text;
    text << point << "," << labels[point];
    logMessage(kLogProgress, kDetectionLogCategory, "%s", text.str().c_str());
  }
  for (const FeatureVector& row : normalised) {
    logMessage(kLogProgress, kDetectionLogCategory, "%s", joinedValues(row).c_str());
  }
  logMessage(kLogProgress, kDetectionLogCategory, "Current observation %s",
             joinedValues(observation).c_str());
}

// A job after a gap longer than the configured days is not judged. The
// difference and the bound are taken in 64 bits, so large day counts do not
// wrap.
bool isLateJob(DetectionEngine& engine, const DetectionSettings& settings, const WorkingRecord& job,
               TrainingMode mode, RecordDecision& decision) {
  const std::int64_t lastBackupTime = engine.history().lastBackupTime(job.row, mode);
  if (lastBackupTime == -1) return false;
  const std::int64_t gap = job.row.asInt("BACKUP_TIME") - lastBackupTime;
  if (gap <= settings.daysForLastBackupToIgnoreAnomaly * kSecondsPerDay) return false;
  decision.late(gap, settings.daysForLastBackupToIgnoreAnomaly);
  return true;
}

// A job inside its cluster that shows no deviation: the group's model is dropped so
// that its next job is calibrated anew. Answers whether the model was dropped.
bool requestRecalibration(DetectionEngine& engine, const WorkingRecord& job) {
  try {
    engine.models().remove(job.row);
    logMessage(kLogProgress, kDetectionLogCategory, "Re-calibration is required for job %s",
               job.jobId.c_str());
    return true;
  } catch (const std::exception& error) {
    logCaughtFailure(kRecalibrationFailure, error);
  }
  return false;
}

// From the normalisation of the matrix on: clusters the job with its training set and
// gives the record its disposition.
void judgeRecord(DetectionEngine& engine, const DetectionSettings& settings,
                 const WorkingRecord& job, Judgement& judgement, RecordDecision& decision) {
  normalizeFeatures(judgement.matrix);
  DbscanDataset dataset;
  dataset.rows = judgement.matrix;
  dataset.pointCount = static_cast<int>(dataset.rows.size());
  const Radius radius = clusteringRadius(engine, settings, job);
  decision.clustered(radius.base, radius.stored, radius.scaled, judgement.trainingRows.size(),
                     judgement.mode);
  DbscanClusterer clusterer(radius.scaled, engine.minPts(), STOP_WHEN_FIRST_CLUSTERED);
  logMessage(kLogProgress, kDetectionLogCategory, "Calling DBScan for detection for job %s",
             job.jobId.c_str());
  std::vector<int> labels;
  clusterer.run(dataset, labels);
  if (labels.front() > 0) {
    retire(engine, job);
    return decision.inCluster(labels.front());
  }
  if (isAllNoise(labels)) {
    retire(engine, job);
    return decision.allNoise();
  }
  if (settings.logModelData) logModelData(labels, judgement.matrix, judgement.features);
  if (isLateJob(engine, settings, job, judgement.mode, decision)) return retire(engine, job);
  if (!engine.history().isFarFromConfirmedJobs(judgement.trainingRows, judgement.matrix,
                                               radius.scaled, clusterer)) {
    retire(engine, job);
    // The distance is measured only for the log.
    if (!logSinkInstalled()) return decision.nearConfirmed(0.0);
    return decision.nearConfirmed(engine.history().nearestConfirmedDistance(
        judgement.trainingRows, judgement.matrix, clusterer));
  }
  const NearestCluster nearest = clusterer.nearestCluster(0);
  if (nearest.label == NOISE) {
    retire(engine, job);
    return decision.noCluster();
  }
  const AnomalousFeatures deviations =
      evaluateDeviations(job.row, nearest, judgement.trainingRows, labels, judgement.mode);
  if (deviations.empty()) {
    const bool requested = requestRecalibration(engine, job);
    retire(engine, job);
    return decision.usualRange(nearest.label, requested);
  }
  logMessage(kLogProgress, kDetectionLogCategory, "Anomaly detected for job %s", job.jobId.c_str());
  engine.anomalies().store(job.row, nearest, judgement.mode, deviations);
  hold(engine, job);
  decision.reported(nearest, deviations);
}

// The steps before clustering under their failure rule: a failure is logged,
// then re-raised when the engine propagates errors, or else it ends the run
// (false).
bool prepareOrEndRun(DetectionEngine& engine, const DetectionSettings& settings,
                     DispositionBatch& dispositions, const WorkingRecord& job,
                     std::optional<Judgement>& judgement, RecordDecision& decision) {
  try {
    dispositions.beginRecord();
    judgement = prepareJudgement(engine, settings, job, decision);
    return true;
  } catch (const std::exception& error) {
    logCaughtFailure(kDetectionFailure, error);
    decision.leftPending(true, error.what());
    if (engine.propagateErrors()) throw;
  } catch (...) {
    decision.leftPending(true, kUnexpectedDetectionError);
    if (engine.propagateErrors()) throw std::runtime_error(kUnexpectedDetectionError);
  }
  return false;
}

// Clustering and judging under their failure rule: a failure undoes the
// record's writes of these steps, is logged, and leaves the record pending for
// a later run.
void judgeOrLeavePending(DetectionEngine& engine, const DetectionSettings& settings,
                         const WorkingRecord& job, Judgement& judgement, RecordDecision& decision) {
  try {
    Savepoint unit(engine.database(), "sfad_record");
    judgeRecord(engine, settings, job, judgement, decision);
    unit.release();
  } catch (const std::exception& error) {
    logCaughtFailure(kDetectionFailure, error);
    decision.leftPending(false, error.what());
  } catch (...) {
    logMessage(kLogFailure, kDetectionLogCategory, "%s", kUnexpectedJudgementText);
    decision.leftPending(false, kUnexpectedJudgementText);
  }
}

// Gives the record its disposition, then writes its decision line and counts it, also
// when a failure leaves the run. Answers false when the run is to end here.
bool processRecord(DetectionEngine& engine, const DetectionSettings& settings,
                   DispositionBatch& dispositions, const ResultRow& pending, RunSummary& summary) {
  const WorkingRecord job = workingRecordOf(pending);
  RecordDecision decision(job.row);
  bool goOn = false;
  try {
    std::optional<Judgement> judgement;
    goOn = prepareOrEndRun(engine, settings, dispositions, job, judgement, decision);
    if (goOn && judgement) judgeOrLeavePending(engine, settings, job, *judgement, decision);
  } catch (...) {
    decision.write();
    summary.add(decision);
    throw;
  }
  decision.write();
  summary.add(decision);
  return goOn;
}

}  // namespace

void runDetection(DetectionEngine& engine) {
  RunSummary summary;
  runDetection(engine, summary);
}

void runDetection(DetectionEngine& engine, RunSummary& summary) {
  // Every record reads its group's history, so the run reads much of the file.
  tuneForLargeReads(engine.database());
  incorporateStoredFeedback(engine);
  const DetectionSettings settings = readDetectionSettings(engine.configPath());
  QueryResult batch;
  if (!fetchPendingBatch(engine, batch)) return;
  DispositionBatch dispositions(engine.database());
  try {
    for (const ResultRow& pending : batch) {
      if (!processRecord(engine, settings, dispositions, pending, summary)) break;
    }
  } catch (...) {
    dispositions.commitBeforeFailure();
    throw;
  }
  dispositions.commit();
}

}  // namespace sfad
