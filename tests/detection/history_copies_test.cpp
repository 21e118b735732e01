// The copies of the history that the reads keep between the jobs of one run: training sets
// and peer rates stay exactly what the reads made before them give (the same rows in the
// same order, the same doubles) while the run moves jobs into the history, replaces rows,
// rolls back, or another connection commits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "detection/DetectionEngine.h"
#include "detection/FeatureMath.h"
#include "intake/JobRecord.h"
#include "storage/SQLiteDatabase.h"
#include "storage/Savepoint.h"
#include "storage/Schema.h"
#include "storage/Statement.h"
#include "tests/detection/EngineFixture.h"
#include "tests/detection/HistoryReadReference.h"
#include "tests/support/DatabaseDump.h"
#include "tests/support/TestFiles.h"

namespace sfad::test {
namespace {

using Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags;
using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::Savepoint;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;

constexpr int kStart = 1700000000;
constexpr int kDay = 86400;

JobRecord record(const std::string& jobId, int time, int stream, const std::string& storage) {
  JobRecord job = makeJob(jobId, time);
  job.assetId = "NA";
  job.destinationStorageName = storage;
  job.streamNumber = stream;
  job.numFiles = 1000 + stream;
  job.imageSize = 1.0e6 * (1 + stream) + time % 977;
  job.kbTransferred = 5.0e5 + (time % 131) / 3.0;  // beyond the 15 digits SQLite writes
  job.totalTime = 60 + stream;
  job.dedupRate = 50.0 + 0.1 * stream;
  return job;
}

std::uint64_t bits(double value) {
  std::uint64_t pattern;
  std::memcpy(&pattern, &value, sizeof pattern);
  return pattern;
}

class HistoryCopiesTest : public ::testing::Test {
 protected:
  HistoryCopiesTest()
      : path_((Quorvan::Stowfleet::UsageReporting::createSchema(dir_.file("detect.db")),
               dir_.file("detect.db"))),
        db_(path_, kDatabaseOpenFlags),
        engine_("", db_) {}

  // Queues the record and moves it into the history as the run retires a job.
  void retire(const JobRecord& job) {
    storeIntoQueue(db_, job);
    QueryResult rows;
    Statement statement(db_.handle(), "SELECT * FROM DATA_TO_PROCESS WHERE UNIQUE_KEY = ?");
    statement.bindText(1, job.uniqueKey());
    db_.query(statement, rows);
    ResultRow row = rows.at(0);
    row.set("USER_IDENTIFIED_CLUSTER", std::string("-1"));
    engine_.queue().retire(row);
  }

  // The kept training set equals the read made before copies were kept, in both modes.
  void expectTrainingSetsAsRead(const JobRecord& job, int limit) {
    ResultRow key;
    key.set("CLIENT", job.client);
    key.set("POLICY", job.policy);
    key.set("POLICY_TYPE", job.policyType);
    key.set("APP_TYPE", job.appType);
    key.set("SCHEDULE_TYPE", job.scheduleType);
    key.set("SCHEDULE_NAME", job.scheduleName);
    key.set("DESTINATION_STORAGE_NAME", job.destinationStorageName);
    key.set("ASSET_ID", job.assetId);
    for (const bool full : {true, false}) {
      SCOPED_TRACE(full ? "full set" : "reduced set");
      TrainingRows kept;
      const TrainingMode mode = engine_.history().trainingSet(key, kept, full ? 0 : 1000000, limit);
      ASSERT_EQ(mode, full ? TrainingMode::kFull : TrainingMode::kReduced);
      Statement statement(db_.handle(), full ? kFullTrainingSql : kReducedTrainingSql);
      int next = 1;
      for (const std::string& text : {job.client, job.policy, job.policyType, job.appType,
                                      job.scheduleType, job.scheduleName}) {
        statement.bindText(next++, text);
      }
      if (full) statement.bindText(next++, job.destinationStorageName);
      statement.bindText(next++, job.assetId);
      if (full) statement.bindInt(next++, 1);
      statement.bindInt(next, limit);
      QueryResult read;
      db_.query(statement, read);
      ASSERT_EQ(kept.size(), read.size());
      for (std::size_t i = 0; i < read.size(); ++i) {
        const TrainingRow expected = trainingRowOf(read[i]);
        for (std::size_t c = 0; c < kTrainingColumnCount; ++c) {
          EXPECT_EQ(bits(kept[i].values[c]), bits(expected.values[c]))
              << "row " << i << " " << kTrainingColumns[c];
        }
        EXPECT_EQ(kept[i].mark, expected.mark) << "row " << i;
      }
    }
  }

  // The score as it was computed before peer rates were kept: every rate read as text,
  // the one-column matrix normalised.
  DedupScore uncachedScore(const ResultRow& job) {
    Statement statement(db_.handle(), kPeerRatesSql);
    statement.bindText(1, job.text("POLICY_TYPE"));
    statement.bindText(2, job.text("SCHEDULE_TYPE"));
    statement.bindText(3, job.text("DESTINATION_STORAGE_NAME"));
    QueryResult peers;
    db_.query(statement, peers);
    DedupScore result;
    result.usualMax = -1.0;
    result.usualMin = 2147483647.0;
    FeatureMatrix matrix{{job.asDouble("DEDUP_RATE")}};
    for (const ResultRow& peer : peers) {
      const double rate = peer.asDouble("DEDUP_RATE");
      if (rate > result.usualMax) result.usualMax = rate;
      if (rate < result.usualMin) result.usualMin = rate;
      matrix.push_back({rate});
    }
    normalizeFeatures(matrix);
    result.score = 2147483647.0;
    for (std::size_t i = 1; i < matrix.size(); ++i) {
      result.score = std::min(result.score, std::fabs(matrix[i][0] - matrix[0][0]));
    }
    return result;
  }

  void expectScoreAsComputed(const ResultRow& job) {
    const DedupScore kept = engine_.dedupRule().score(job);
    const DedupScore read = uncachedScore(job);
    EXPECT_EQ(bits(kept.score), bits(read.score)) << kept.score << " vs " << read.score;
    EXPECT_EQ(bits(kept.usualMin), bits(read.usualMin));
    EXPECT_EQ(bits(kept.usualMax), bits(read.usualMax));
  }

  // Moves rows into a group of tied backup times step by step (and replaces, rolls back,
  // commits from elsewhere), comparing the kept sets with the reads after each step.
  void expectTrainingSetsFollowMoves();

  TempDir dir_;
  const std::string path_;
  SQLiteDatabase db_;
  DetectionEngine engine_;
};

// Ten backups of four streams sharing their BACKUP_TIME; a limit of 42 cuts inside the
// eleventh newest backup, so the order among rows of one time decides which rows are in.
TEST_F(HistoryCopiesTest, TrainingSetsFollowTheRunsMovesAndUndoneWrites) {
  expectTrainingSetsFollowMoves();
}

// The layout made before the read index sorts each read instead: the same rows, in the
// same order, and the copies follow them alike.
TEST_F(HistoryCopiesTest, TrainingSetsFollowMovesOnTheEarlierLayout) {
  db_.execute(
      "DROP INDEX HIST_ASSET_TIME_INDEX; "
      "CREATE INDEX HIST_TABLE_INDEX ON HIST_DATA (CLIENT, POLICY, POLICY_TYPE, "
      "SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, DESTINATION_STORAGE_NAME, ASSET_ID, "
      "STREAM_NUMBER, MODE, USER_IDENTIFIED_CLUSTER);");
  expectTrainingSetsFollowMoves();
}

void HistoryCopiesTest::expectTrainingSetsFollowMoves() {
  constexpr int kLimit = 42;
  int jobId = 0;
  for (int backup = 0; backup < 12; ++backup) {
    for (const int stream : {2, 0, 3, 1}) {
      storeIntoHistory(db_, record(std::to_string(++jobId), kStart + backup * kDay, stream, "s1"));
    }
  }
  const JobRecord group = record("probe", 0, 0, "s1");
  expectTrainingSetsAsRead(group, kLimit);

  struct Step {
    const char* name;
    int backup;  // day of the backup time; 12 is the next one
    int stream;
    const char* storage;
  };
  const Step steps[] = {
      {"newest time, streams out of order", 12, 3, "s1"},
      {"same time, lower stream", 12, 1, "s1"},
      {"same time, lowest stream", 12, 0, "s1"},
      {"older than the cut", 0, 1, "s1"},
      {"inside the kept rows", 9, 2, "s1"},
      {"tie at the cut", 2, 0, "s1"},
      {"another storage, same asset", 12, 2, "s2"},
      {"newer on the other storage", 13, 0, "s2"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    retire(record(std::to_string(++jobId), kStart + step.backup * kDay, step.stream, step.storage));
    expectTrainingSetsAsRead(group, kLimit);
    expectTrainingSetsAsRead(record("probe", 0, 0, "s2"), kLimit);
  }

  {
    SCOPED_TRACE("a row of the history sent again replaces its row");
    JobRecord again = record("5", kStart + 1 * kDay, 0, "s1");
    again.numFiles = 4242;
    // Not in the queue: its key is in the history, as a re-sent job's is.
    ResultRow row;
    QueryResult rows;
    Statement statement(db_.handle(), "SELECT * FROM HIST_DATA WHERE UNIQUE_KEY = ?");
    statement.bindText(1, again.uniqueKey());
    db_.query(statement, rows);
    ASSERT_EQ(rows.size(), 1u);
    row = rows.front();
    row.set("NUM_FILES", std::string("4242"));
    row.set("BACKUP_TIME", std::to_string(kStart + 12 * kDay));
    engine_.queue().retire(row);
    expectTrainingSetsAsRead(group, kLimit);
  }
  {
    SCOPED_TRACE("a rolled-back move");
    {
      Savepoint attempt(db_, "attempt");
      retire(record(std::to_string(++jobId), kStart + 14 * kDay, 0, "s1"));
      expectTrainingSetsAsRead(group, kLimit);
    }
    expectTrainingSetsAsRead(group, kLimit);
  }
  {
    SCOPED_TRACE("a commit of another connection");
    {
      SQLiteDatabase other(path_, kDatabaseOpenFlags);
      storeIntoHistory(other, record(std::to_string(++jobId), kStart + 15 * kDay, 0, "s1"));
    }
    expectTrainingSetsAsRead(group, kLimit);
    executeSql(path_,
               "DELETE FROM HIST_DATA WHERE BACKUP_TIME = " + std::to_string(kStart + 15 * kDay));
    expectTrainingSetsAsRead(group, kLimit);
  }
}

// Rates whose float sum depends on the order they are added in: most near 1e15 with
// fractions beyond the 15 digits SQLite writes (their text reads back as another double),
// mixed with small ones and a few edge values. Another order of the same rates changes
// the score's last bits.
TEST_F(HistoryCopiesTest, PeerScoreIsTheUncachedSumInTheSameOrder) {
  const double edges[] = {0.1, 3.0000000000000004, -0.5, 5e-324, 99.99999999999999};
  int jobId = 0;
  for (int i = 0; i < 40; ++i) {
    JobRecord peer = record(std::to_string(++jobId), kStart + i, 0, "s1");
    peer.client = "peer" + std::to_string(i % 7);
    peer.dedupRate = i % 4 != 0 ? 1e15 + std::fmod(i * 618.0339887498949, 1000.0)
                                : (i % 8 == 0 ? edges[i / 8] : std::fmod(i * 3.7, 10.0));
    storeIntoHistory(db_, peer);
  }
  ResultRow job;
  job.set("POLICY_TYPE", std::string("Standard"));
  job.set("SCHEDULE_TYPE", std::string("FULL"));
  job.set("DESTINATION_STORAGE_NAME", std::string("s1"));
  job.set("DEDUP_RATE", std::string("1000000000000123.25"));
  expectScoreAsComputed(job);

  for (const double rate : {1e15 + 0.125, 0.1, 1e15 + 999.9999, 7.5}) {
    SCOPED_TRACE(rate);
    ++jobId;
    JobRecord peer = record(std::to_string(jobId), kStart + 1000 + jobId, 0, "s1");
    peer.dedupRate = rate;
    retire(peer);
    expectScoreAsComputed(job);
  }
  {
    SCOPED_TRACE("a peer sent again replaces its rate");
    QueryResult rows;
    Statement statement(db_.handle(), "SELECT * FROM HIST_DATA WHERE UNIQUE_KEY = ?");
    statement.bindText(1, record("3", kStart + 2, 0, "s1").uniqueKey());
    db_.query(statement, rows);
    ASSERT_EQ(rows.size(), 1u);
    ResultRow row = rows.front();
    row.set("DEDUP_RATE", std::string("1000000000000321.5"));
    engine_.queue().retire(row);
    expectScoreAsComputed(job);
  }
  {
    SCOPED_TRACE("a rolled-back move");
    {
      Savepoint attempt(db_, "attempt");
      JobRecord peer = record(std::to_string(++jobId), kStart + 5000, 0, "s1");
      peer.dedupRate = 1000000000000123.25;  // the job's own rate: distance 0 while it lasts
      retire(peer);
      expectScoreAsComputed(job);
    }
    expectScoreAsComputed(job);
  }
  {
    SCOPED_TRACE("a commit of another connection");
    executeSql(path_, "DELETE FROM HIST_DATA WHERE DEDUP_RATE < 0");
    expectScoreAsComputed(job);
  }
}

}  // namespace
}  // namespace sfad::test
