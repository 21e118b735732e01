// The deduplication-ratio rule: when it reports, its peer score, the feedback
// that silences it, and the seeding of the thresholds.
#include <cmath>

#include "tests/detection/EngineFixture.h"

namespace sfad::test {
namespace {

class DedupRuleTest : public EngineTest {
 protected:
  void setThreshold(const std::string& workload, double minimum) {
    executeSql(path_, "INSERT OR REPLACE INTO DEDUP_THRESHOLD VALUES ('" + workload + "', " +
                          std::to_string(minimum) + ");");
  }
  // Peers on the job's storage, of another client and policy.
  void storePeers(const std::vector<double>& rates) {
    for (std::size_t i = 0; i < rates.size(); ++i) {
      JobRecord peer = makeJob("p" + std::to_string(i), 100 + static_cast<int>(i));
      peer.client = "other";
      peer.policy = "other";
      peer.dedupRate = rates[i];
      storeIntoHistory(db_, peer);
    }
  }
  JobRecord jobWithRate(double rate, const std::string& scheduleType = "FULL") {
    JobRecord job = makeJob("9", 5000);
    job.dedupRate = rate;
    job.scheduleType = scheduleType;
    return job;
  }
  std::string anomalyCount() { return value("SELECT COUNT(*) FROM ANOMALY_DATA"); }
};

TEST_F(DedupRuleTest, ReportsOnlyFullBackupsStrictlyBelowAKnownThreshold) {
  struct Case {
    const char* name;
    double threshold;  // -1: no row for the workload
    double rate;
    const char* scheduleType;
    bool reported;
  };
  const Case cases[] = {
      {"rate equal to threshold", 50, 50, "FULL", false},
      {"rate just below", 50, 49.99, "FULL", true},
      {"unknown rate", 10, -1.0, "FULL", false},
      {"negative but known rate", 10, -0.5, "FULL", true},
      {"schedule type in other case", 50, 10, "full", false},
      {"incremental schedule", 50, 10, "INCR", false},
      {"no threshold for the workload", -1, 10, "FULL", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    executeSql(path_, "DELETE FROM DEDUP_THRESHOLD; DELETE FROM ANOMALY_DATA;");
    if (c.threshold != -1) setThreshold("Standard", c.threshold);
    EXPECT_EQ(engine_.dedupRule().apply(queued(jobWithRate(c.rate, c.scheduleType))), c.reported);
    EXPECT_EQ(anomalyCount(), c.reported ? "1" : "0");
  }
}

TEST_F(DedupRuleTest, ScoreNeedsThirtyPeers) {
  setThreshold("Standard", 50);
  std::vector<double> rates;
  for (int i = 1; i <= 29; ++i) rates.push_back(10.0 * i);
  storePeers(rates);
  EXPECT_TRUE(engine_.dedupRule().apply(queued(jobWithRate(5))));
  EXPECT_EQ(value("SELECT MIN_VALUE || ' ' || MAX_VALUE FROM ANOMALY_PER_FEATURE_DATA"), "0.0 0.0");
  EXPECT_EQ(engine_.dedupRule().score(queued(jobWithRate(5))).score, 0.0);

  storePeers({-1.0, 20,  30,  40,  50,  60,  70,  80,  90,  100, 110, 120, 130, 140, 150,
              160,  170, 180, 190, 200, 210, 220, 230, 240, 250, 260, 270, 280, 290, 10});
  // 30 peers now (the stores above replaced the first 29): -1.0 and 10 to 290.
  ASSERT_EQ(value("SELECT COUNT(*) FROM HIST_DATA"), "30");
  const DedupScore score = engine_.dedupRule().score(queued(jobWithRate(5)));
  EXPECT_EQ(score.usualMin, -1.0);
  EXPECT_EQ(score.usualMax, 290.0);
  // The job's distance to its nearest peer, 10, in standard deviations of all
  // 31 rates.
  std::vector<double> all = {5.0, -1.0};
  for (int r = 10; r <= 290; r += 10) all.push_back(r);
  double sum = 0;
  for (double r : all) sum += r;
  const double mean = sum / all.size();
  double squares = 0;
  for (double r : all) squares += (r - mean) * (r - mean);
  EXPECT_NEAR(score.score, 5.0 / std::sqrt(squares / all.size()), 1e-12);
}

TEST_F(DedupRuleTest, EqualRatesScoreZero) {
  storePeers(std::vector<double>(30, 20.0));
  const DedupScore score = engine_.dedupRule().score(queued(jobWithRate(20)));
  EXPECT_EQ(score.score, 0.0);
  EXPECT_EQ(score.usualMin, 20.0);
  EXPECT_EQ(score.usualMax, 20.0);
}

TEST_F(DedupRuleTest, DedupFeedbackOfTheGroupSilencesTheRuleOnAnyStorageOrAsset) {
  setThreshold("Standard", 50);
  JobRecord marked = makeJob("1", 100);
  marked.destinationStorageName = "elsewhere";
  marked.assetId = "A9";
  storeIntoHistory(db_, marked);
  executeSql(path_, "UPDATE HIST_DATA SET USER_IDENTIFIED_CLUSTER = 1;");
  EXPECT_TRUE(engine_.dedupRule().apply(queued(jobWithRate(10))));
  executeSql(path_,
             "UPDATE HIST_DATA SET USER_IDENTIFIED_CLUSTER = 2; DELETE FROM "
             "ANOMALY_DATA;");
  EXPECT_FALSE(engine_.dedupRule().apply(queued(jobWithRate(10))));
  EXPECT_EQ(anomalyCount(), "0");
}

TEST_F(DedupRuleTest, ReportedAnomalyCarriesTheRuleType) {
  setThreshold("Standard", 50);
  EXPECT_TRUE(engine_.dedupRule().apply(queued(jobWithRate(2.5))));
  const std::string details = value("SELECT ANOMALY_DETAILS FROM ANOMALY_DATA");
  EXPECT_EQ(attribute(details, "anomalyDeduplicationRatio"), "2.5 (Usual: 0 - 0)");
  EXPECT_EQ(attribute(details, "anomalyType"), "JOB_BASED_DEDUP_CUSTOM_RULE");
  EXPECT_EQ(attribute(details, "score"), "0.00");
}

TEST_F(DedupRuleTest, SeedingKeepsExistingThresholds) {
  setThreshold("Standard", 5);
  LogCapture log;
  engine_.dedupRule().seedThresholds({{"Oracle", 3.0}, {"Standard", 7.0}});
  EXPECT_EQ(rows("SELECT * FROM DEDUP_THRESHOLD ORDER BY WORKLOAD"),
            (TextRows{{"Oracle", "3.0"}, {"Standard", "5.0"}}));
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[0].level, kLogProgress);
  EXPECT_EQ(log.entries[0].message, "Setting threshold value Oracle = 3.000000");
}

TEST_F(DedupRuleTest, FailuresAreLoggedAndGiveNeutralValues) {
  const ResultRow job = queued(jobWithRate(5));
  db_.execute("DROP TABLE DEDUP_THRESHOLD; DROP TABLE HIST_DATA;");
  LogCapture log;
  EXPECT_EQ(engine_.dedupRule().threshold("Standard"), -1.0);
  const DedupScore score = engine_.dedupRule().score(job);
  EXPECT_EQ(score.score, 0.0);
  EXPECT_EQ(score.usualMax, 0.0);
  engine_.dedupRule().seedThresholds({{"Oracle", 3.0}, {"Standard", 7.0}});
  ASSERT_EQ(log.entries.size(), 4u);  // the first failing seed ends the seeding
  const std::string prefixes[] = {"Failed to get deduplication threshold. sqlite prepare",
                                  "Failed to get anomaly score. sqlite prepare",
                                  "Setting threshold value Oracle",
                                  "Failed to set deduplication threshold. sqlite prepare"};
  const int levels[] = {kLogFailure, kLogFailure, kLogProgress, kLogFailure};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(log.entries[i].level, levels[i]);
    EXPECT_EQ(log.entries[i].message.rfind(prefixes[i], 0), 0u) << log.entries[i].message;
  }
  // Message and SQLite text, one blank between them; the log names the reason.
  EXPECT_EQ(log.entries[0].message,
            "Failed to get deduplication threshold. sqlite prepare statement "
            "failed for query - "
            "SELECT MIN_DEDUP  FROM DEDUP_THRESHOLD WHERE WORKLOAD = ? . "
            "Return code : 1 no such table: DEDUP_THRESHOLD");
}

}  // namespace
}  // namespace sfad::test
