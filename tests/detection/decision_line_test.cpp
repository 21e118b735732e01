// The decision and summary line formats, for every disposition, including those the example
// data never produces (late, near a confirmed job, all noise, recalibration, pending).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "detection/DecisionLog.h"
#include "detection/DiagnosticLog.h"

namespace sfad {
namespace {

using Quorvan::Stowfleet::UsageReporting::ResultRow;

ResultRow recordRow() {
  ResultRow row;
  row.set("JOB_ID", std::string("1099"));
  row.set("BACKUP_TIME", std::string("1789866000"));
  row.set("CLIENT", std::string("fileserver-01"));
  row.set("POLICY", std::string("daily-files"));
  row.set("POLICY_TYPE", std::string("Standard"));
  row.set("SCHEDULE_TYPE", std::string("INCR"));
  row.set("SCHEDULE_NAME", std::string("nightly"));
  row.set("DESTINATION_STORAGE_NAME", std::string("pool-a"));
  row.set("ASSET_ID", std::string("vm-17"));
  return row;
}

const std::string kPrefix =
    "decision 1099_1789866000 client=fileserver-01 policy=daily-files schedule=nightly "
    "storage=pool-a asset=vm-17: ";

DedupVerdict verdict(DedupFinding finding, double threshold = -1.0, double rate = -1.0) {
  DedupVerdict result;
  result.finding = finding;
  result.threshold = threshold;
  result.rate = rate;
  return result;
}

void fullModel(RecordDecision& decision) {
  decision.clustered(0.8, true, 0.88, 40, TrainingMode::kFull);
}

struct LineCase {
  const char* name;
  std::function<void(RecordDecision&)> note;
  Disposition disposition;
  std::string body;  // the line after the group
};

TEST(DecisionLine, EachDispositionNamesItsReasonAndNumbers) {
  const std::vector<LineCase> cases = {
      {"late",
       [](RecordDecision& d) {
         fullModel(d);
         d.late(647LL * 86400 + 3600, 365);
       },
       Disposition::kLate,
       "late (gap 647.04 days > limit 365 days; radius=0.8 stored scaled=0.88 rows=40 mode=full)"},
      {"near a confirmed job, default radius, reduced mode",
       [](RecordDecision& d) {
         d.clustered(2.5, false, 2.5, 30, TrainingMode::kReduced);
         d.nearConfirmed(0.125);
       },
       Disposition::kNearConfirmed,
       "near-confirmed (confirmed job at distance 0.125 <= radius 2.5; radius=2.5 default "
       "scaled=2.5 rows=30 mode=reduced)"},
      {"all noise at sensitivity -99",
       [](RecordDecision& d) {
         d.clustered(1.25, true, 0.0125, 40, TrainingMode::kFull);
         d.allNoise();
       },
       Disposition::kAllNoise,
       "all-noise (every point is noise; radius=1.25 stored scaled=0.0125 rows=40 mode=full)"},
      {"inside the usual range",
       [](RecordDecision& d) {
         fullModel(d);
         d.usualRange(2, true);
       },
       Disposition::kUsualRange,
       "usual-range (every feature inside the usual range of cluster 2; recalibration requested; "
       "radius=0.8 stored scaled=0.88 rows=40 mode=full)"},
      {"inside the usual range, model not dropped",
       [](RecordDecision& d) {
         fullModel(d);
         d.usualRange(1, false);
       },
       Disposition::kUsualRange,
       "usual-range (every feature inside the usual range of cluster 1; recalibration request "
       "failed; radius=0.8 stored scaled=0.88 rows=40 mode=full)"},
      {"pending after a failure while judging",
       [](RecordDecision& d) {
         fullModel(d);
         d.inCluster(1);
         d.leftPending(false, "database is locked");
       },
       Disposition::kPending,
       "pending (failure while judging: database is locked; radius=0.8 stored scaled=0.88 "
       "rows=40 mode=full)"},
      {"pending after a failure before judging",
       [](RecordDecision& d) { d.leftPending(true, "no such table: DBSCAN_MODEL_PARAMS"); },
       Disposition::kPending,
       "pending (failure before judging, run ended: no such table: DBSCAN_MODEL_PARAMS)"},
      {"in a cluster with a model calibrated by this run",
       [](RecordDecision& d) {
         d.calibrated();
         fullModel(d);
         d.inCluster(3);
       },
       Disposition::kInCluster,
       "in-cluster (cluster 3; radius=0.8 calibrated scaled=0.88 rows=40 mode=full)"},
      {"no clustered point",
       [](RecordDecision& d) {
         fullModel(d);
         d.noCluster();
       },
       Disposition::kNoCluster,
       "no-cluster (no clustered point to compare with; radius=0.8 stored scaled=0.88 rows=40 "
       "mode=full)"},
      {"reported",
       [](RecordDecision& d) {
         fullModel(d);
         AnomalousFeatures deviations;
         deviations["IMAGE_SIZE"] = {400.5, 100, 104.25, "Image size", "MB"};
         deviations["NUM_FILES"] = {3, 10, 12, "Files count", ""};
         d.reported({1, 4.75}, deviations);
       },
       Disposition::kReported,
       "reported (IMAGE_SIZE=400.5 outside 100-104.25, NUM_FILES=3 outside 10-12; cluster 1 "
       "score=4.75; radius=0.8 stored scaled=0.88 rows=40 mode=full)"},
      {"excluded client", [](RecordDecision& d) { d.excluded(Exclusion::kClient); },
       Disposition::kExcluded, "excluded (EXCLUDE_CLIENTS CLIENT_NAME)"},
      {"excluded policy type", [](RecordDecision& d) { d.excluded(Exclusion::kPolicyType); },
       Disposition::kExcluded, "excluded (DISABLE_POLICY_TYPE POLICY_TYPE=Standard)"},
      {"excluded policy of the client",
       [](RecordDecision& d) { d.excluded(Exclusion::kClientPolicy); }, Disposition::kExcluded,
       "excluded (EXCLUDE_CLIENT_POLICY fileserver-01=daily-files)"},
      {"dedup rule, schedule not full",
       [](RecordDecision& d) {
         d.judgedByDedupRule(DedupCase::kNewStream, verdict(DedupFinding::kNotFull));
       },
       Disposition::kDedupPassed, "dedup-passed (new stream; schedule type INCR is not FULL)"},
      {"dedup rule, no threshold",
       [](RecordDecision& d) {
         d.judgedByDedupRule(DedupCase::kTooLittleHistory, verdict(DedupFinding::kNoThreshold), 12,
                             30);
       },
       Disposition::kDedupPassed,
       "dedup-passed (too little history: 12 of 30 rows; no threshold for policy type Standard)"},
      {"dedup rule, no rate",
       [](RecordDecision& d) {
         d.judgedByDedupRule(DedupCase::kNoAssetHistory, verdict(DedupFinding::kNoRate, 40));
       },
       Disposition::kDedupPassed,
       "dedup-passed (no history of the asset; threshold=40 (Standard) no rate)"},
      {"dedup rule, rate not below",
       [](RecordDecision& d) {
         d.judgedByDedupRule(DedupCase::kNoAssetHistory, verdict(DedupFinding::kNotBelow, 40, 40));
       },
       Disposition::kDedupPassed,
       "dedup-passed (no history of the asset; threshold=40 (Standard) rate=40 not below)"},
      {"dedup rule, silenced by feedback",
       [](RecordDecision& d) {
         d.judgedByDedupRule(DedupCase::kNoAssetHistory, verdict(DedupFinding::kSilenced, 40, 12));
       },
       Disposition::kDedupPassed,
       "dedup-passed (no history of the asset; threshold=40 (Standard) rate=12 below, silenced by "
       "deduplication feedback)"},
      {"dedup rule, reported with a peer score",
       [](RecordDecision& d) {
         DedupVerdict reported = verdict(DedupFinding::kReported, 40, 12);
         reported.score = {95.5, 60, 0.25};
         d.judgedByDedupRule(DedupCase::kTooLittleHistory, reported, 0, 30);
       },
       Disposition::kDedupReported,
       "dedup-reported (too little history: 0 of 30 rows; threshold=40 (Standard) rate=12 below; "
       "score=0.25 usual 60-95.5)"},
      {"skipped", [](RecordDecision& d) { d.skipped(); }, Disposition::kSkipped,
       "skipped (another request disposed of it)"},
      {"in the history", [](RecordDecision& d) { d.inHistory(); }, Disposition::kInHistory,
       "in-history (the training history holds its key)"},
      {"every feature disabled", [](RecordDecision& d) { d.noFeatures(); },
       Disposition::kNoFeatures, "no-features (every feature disabled for policy type Standard)"},
      {"retired after a failure",
       [](RecordDecision& d) {
         d.retiredAfterFailure("counting the stream's history", "disk I/O error");
       },
       Disposition::kRetiredAfterFailure,
       "retired-after-failure (counting the stream's history failed: disk I/O error)"},
  };
  const ResultRow row = recordRow();
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordDecision decision(row);
    c.note(decision);
    EXPECT_EQ(decision.disposition(), c.disposition);
    EXPECT_EQ(decision.text(), kPrefix + c.body);
  }
}

TEST(DecisionLine, GroupValuesThatWouldRunTogetherAreQuoted) {
  ResultRow row = recordRow();
  row.set("CLIENT", std::string("file server"));
  row.set("POLICY", std::string("a=b"));
  row.set("SCHEDULE_NAME", std::string("say \"hi\": now"));
  row.set("ASSET_ID", std::string(""));
  RecordDecision decision(row);
  decision.skipped();
  EXPECT_EQ(decision.text(),
            "decision 1099_1789866000 client=\"file server\" policy=\"a=b\" "
            "schedule=\"say \\\"hi\\\": now\" storage=pool-a asset=\"\": skipped (another request "
            "disposed of it)");
}

TEST(DecisionLine, WrittenOnceAtProgressLevelOnlyWhileASinkIsInstalled) {
  const ResultRow row = recordRow();
  RecordDecision decision(row);
  decision.inHistory();
  std::vector<std::string> messages;
  decision.write();  // no sink: nothing to receive it
  setLogSink([&messages](int level, const std::string& category, const std::string& message) {
    EXPECT_EQ(level, kLogProgress);
    EXPECT_EQ(category, kDetectionLogCategory);
    messages.push_back(message);
  });
  EXPECT_TRUE(logSinkInstalled());
  decision.write();
  setLogSink(nullptr);
  EXPECT_FALSE(logSinkInstalled());
  EXPECT_EQ(messages, std::vector<std::string>{decision.text()});
}

TEST(RunSummaryLine, CountsEveryDispositionAndListsTheNonzeroReasons) {
  const ResultRow row = recordRow();
  RunSummary summary;
  EXPECT_EQ(summary.text(0, 0.0),
            "summary examined=0 retired=0 held=0 pending=0 skipped=0 handed_out=0 calibrated=0 "
            "seconds=0.000");
  const std::vector<std::function<void(RecordDecision&)>> notes = {
      [](RecordDecision& d) { d.inCluster(1); },
      [](RecordDecision& d) {
        d.calibrated();
        d.inCluster(1);
      },
      [](RecordDecision& d) { d.late(86400 * 400, 365); },
      [](RecordDecision& d) { d.excluded(Exclusion::kClient); },
      [](RecordDecision& d) {
        d.reported({1, 2.0}, {});
      },
      [](RecordDecision& d) {
        d.judgedByDedupRule(DedupCase::kNoAssetHistory, verdict(DedupFinding::kReported, 40, 12));
      },
      [](RecordDecision& d) { d.leftPending(false, "locked"); },
      [](RecordDecision& d) { d.skipped(); },
  };
  for (const auto& note : notes) {
    RecordDecision decision(row);
    note(decision);
    summary.add(decision);
  }
  EXPECT_EQ(summary.examined(), 8u);
  EXPECT_EQ(summary.count(Disposition::kInCluster), 2u);
  EXPECT_EQ(summary.text(2, 1.23456),
            "summary examined=8 retired=4 (excluded=1 in-cluster=2 late=1) held=2 "
            "(dedup-reported=1 reported=1) pending=1 skipped=1 handed_out=2 calibrated=1 "
            "seconds=1.235");
}

TEST(LogNumber, ShortestTextThatReadsBackTheSameDouble) {
  EXPECT_EQ(logNumber(0.1), "0.1");
  EXPECT_EQ(logNumber(314572800.0), "314572800");
  EXPECT_EQ(logNumber(-1.0), "-1");
  EXPECT_EQ(logNumber(2.5 + (10 / 100.0) * 2.5), "2.75");
  EXPECT_EQ(logNumber(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(logNumber(1e21), "1e+21");
}

}  // namespace
}  // namespace sfad
