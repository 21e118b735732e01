// The clustering core: neighbourhood bounds, core and border points, both run modes, the
// nearest-cluster query, and a cross-check against a plain full-matrix DBSCAN.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <deque>
#include <random>
#include <stdexcept>

#include "detection/DbscanClusterer.h"
#include "detection/FeatureMath.h"

using sfad::DbscanClusterer;
using sfad::DbscanDataset;
using sfad::FeatureMatrix;
using sfad::FeatureVector;
using sfad::FULL_RUN;
using sfad::NearestCluster;
using sfad::STOP_WHEN_FIRST_CLUSTERED;
using Labels = std::vector<int>;

namespace {

constexpr double kNoCluster = 2147483647.0;

DbscanDataset datasetOf(const FeatureMatrix& rows) {
  DbscanDataset dataset;
  dataset.rows = rows;
  dataset.pointCount = static_cast<int>(rows.size());
  return dataset;
}

// Points on a line, one feature each.
FeatureMatrix line(const std::vector<double>& xs) {
  FeatureMatrix rows;
  for (double x : xs) rows.push_back({x});
  return rows;
}

Labels runLabels(DbscanClusterer& clusterer, const FeatureMatrix& rows) {
  Labels labels;
  clusterer.run(datasetOf(rows), labels);
  return labels;
}

TEST(DbscanNeighbourhood, PointExactlyAtEpsIsNoNeighbour) {
  const FeatureMatrix rows = {{0.0, 0.0}, {3.0, 4.0}};  // distance exactly 5
  DbscanClusterer atEps(5.0, 2, FULL_RUN);
  EXPECT_EQ(runLabels(atEps, rows), (Labels{-1, -1}));
  DbscanClusterer justAbove(std::nextafter(5.0, 6.0), 2, FULL_RUN);
  EXPECT_EQ(runLabels(justAbove, rows), (Labels{1, 1}));
}

struct LineCase {
  int minPts;
  Labels expected;
};

void PrintTo(const LineCase& lineCase, std::ostream* out) { *out << "minPts " << lineCase.minPts; }

// Points 0, 1, 2, 5, 6, 10 with radius 1.5: only neighbouring integers are neighbours.
class DbscanLineTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(DbscanLineTable, LabelsForEachMinPts) {
  DbscanClusterer clusterer(1.5, GetParam().minPts, FULL_RUN);
  const Labels labels = runLabels(clusterer, line({0, 1, 2, 5, 6, 10}));
  EXPECT_EQ(labels, GetParam().expected);
  EXPECT_EQ(clusterer.labels(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DbscanLineTable,
    ::testing::Values(LineCase{1, {1, 1, 1, 2, 2, 3}}, LineCase{2, {1, 1, 1, 2, 2, -1}},
                      // Point 0 has one other neighbour (noise at first, then a border
                      // point of point 1's cluster); point 1 has two, so it is core.
                      LineCase{3, {1, 1, 1, -1, -1, -1}}, LineCase{4, {-1, -1, -1, -1, -1, -1}}),
    [](const auto& testCase) { return "MinPts" + std::to_string(testCase.param.minPts); });

// A label vector reused from an earlier, longer run kept its old labels, which then read as
// points already visited.
TEST(DbscanLabels, ReusedVectorIsRefilled) {
  DbscanClusterer clusterer(1.5, 2, FULL_RUN);
  Labels labels(8, 7);
  clusterer.run(datasetOf(line({0, 1, 2, 5, 6, 10})), labels);
  EXPECT_EQ(labels, (Labels{1, 1, 1, 2, 2, -1}));
}

// Point 1 (2.0) is noise when first seen, lies within reach of both clusters, is claimed
// by the first and never moved to the second.
const FeatureMatrix kSharedBorder = line({2.0, 0.0, 0.1, 0.2, 1.0, 3.0, 3.1, 3.2});

TEST(DbscanBorder, NoisePointIsClaimedOnceByTheFirstCluster) {
  DbscanClusterer clusterer(1.05, 4, FULL_RUN);
  EXPECT_EQ(runLabels(clusterer, kSharedBorder), (Labels{1, 1, 1, 1, 1, 2, 2, 2}));
}

TEST(DbscanStopWhenFirstClustered, EndsInsideTheExpansionThatClaimsPointOne) {
  DbscanClusterer clusterer(1.05, 4, STOP_WHEN_FIRST_CLUSTERED);
  EXPECT_EQ(runLabels(clusterer, kSharedBorder), (Labels{1, 1, 1, 1, 1, 0, 0, 0}));
  EXPECT_TRUE(clusterer.labels().empty());
  const NearestCluster nearest = clusterer.nearestCluster(0);
  EXPECT_EQ(nearest.label, -1);
  EXPECT_EQ(nearest.distance, -1.0);
}

TEST(DbscanStopWhenFirstClustered, CorePointOneEndsTheRunAtOnce) {
  DbscanClusterer clusterer(0.5, 3, STOP_WHEN_FIRST_CLUSTERED);
  EXPECT_EQ(runLabels(clusterer, line({0, 0.1, 0.2, 5, 5.1, 5.2})), (Labels{1, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(clusterer.labels().empty());
}

TEST(DbscanStopWhenFirstClustered, NoisePointOneRunsToTheEnd) {
  DbscanClusterer clusterer(0.5, 3, STOP_WHEN_FIRST_CLUSTERED);
  const Labels expected{-1, 1, 1, 1};
  EXPECT_EQ(runLabels(clusterer, line({9, 0, 0.1, 0.2})), expected);
  EXPECT_EQ(clusterer.labels(), expected);
}

TEST(DbscanNearestCluster, AnswersOwnLabelLowerIndexOnTiesAndOutOfRange) {
  // Cluster 1 is {3.2, 3.0, 3.1} (indices 1, 5, 6), cluster 2 {-3.0, -3.1, -3.2}
  // (indices 2 to 4); point 0 lies 3.0 from index 2 and from index 5.
  DbscanClusterer clusterer(0.5, 3, FULL_RUN);
  EXPECT_EQ(runLabels(clusterer, line({0.0, 3.2, -3.0, -3.1, -3.2, 3.0, 3.1})),
            (Labels{-1, 1, 2, 2, 2, 1, 1}));
  const NearestCluster tie = clusterer.nearestCluster(0);
  EXPECT_EQ(tie.label, 2);
  EXPECT_EQ(tie.distance, 3.0);
  const NearestCluster own = clusterer.nearestCluster(5);
  EXPECT_EQ(own.label, 1);
  EXPECT_EQ(own.distance, 0.0);
  for (int outside : {-1, 7}) {
    EXPECT_EQ(clusterer.nearestCluster(outside).label, -1);
    EXPECT_EQ(clusterer.nearestCluster(outside).distance, -1.0);
  }
}

TEST(DbscanNearestCluster, NothingClusteredAndNoPoints) {
  DbscanClusterer allNoise(0.5, 3, FULL_RUN);
  EXPECT_EQ(runLabels(allNoise, line({0, 1, 2})), (Labels{-1, -1, -1}));
  EXPECT_EQ(allNoise.nearestCluster(1).label, -1);
  EXPECT_EQ(allNoise.nearestCluster(1).distance, kNoCluster);

  DbscanClusterer empty(0.5, 3, FULL_RUN);
  EXPECT_TRUE(runLabels(empty, {}).empty());
  EXPECT_TRUE(empty.labels().empty());
  EXPECT_EQ(empty.nearestCluster(0).distance, -1.0);
}

TEST(DbscanFailures, DimensionMismatchAndShortDataset) {
  DbscanClusterer clusterer(1.0, 3, FULL_RUN);
  Labels labels;
  try {
    clusterer.run(datasetOf({{0, 0, 0, 0}, {0, 0, 0, 0, 0}}), labels);
    FAIL() << "rows of different lengths must not be clustered";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid input. Feature set having different dimensions.");
  }
  // A point count beyond the rows is refused rather than read past the matrix.
  DbscanDataset shortDataset = datasetOf(line({0, 1}));
  shortDataset.pointCount = 3;
  EXPECT_THROW(clusterer.run(shortDataset, labels), std::invalid_argument);
}

TEST(FeatureMath, EuclideanDistance) {
  EXPECT_EQ(sfad::euclideanDistance({0.0, 0.0}, {3.0, 4.0}), 5.0);
  EXPECT_EQ(sfad::euclideanDistance({}, {}), 0.0);
  try {
    sfad::euclideanDistance({1, 2, 3, 4}, {1, 2, 3, 4, 5});
    FAIL() << "lengths 4 and 5 must raise";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid input. Feature set having different dimensions.");
  }
}

TEST(FeatureMath, MeanAndPopulationDeviation) {
  EXPECT_EQ(sfad::mean({}), 0.0);
  EXPECT_EQ(sfad::standardDeviation({}, 0.0), 0.0);
  const std::vector<double> values{2, 4, 4, 4, 5, 5, 7, 9};
  EXPECT_EQ(sfad::mean(values), 5.0);
  EXPECT_EQ(sfad::standardDeviation(values, 5.0), 2.0);
}

TEST(FeatureMath, NormalisationColumnByColumn) {
  FeatureMatrix matrix = {{7.0, 1.0}, {7.0, 3.0}};
  sfad::normalizeFeatures(matrix);
  EXPECT_EQ(matrix, (FeatureMatrix{{0.0, -1.0}, {0.0, 1.0}}));

  FeatureMatrix noColumns = {{}, {}};
  sfad::normalizeFeatures(noColumns);
  EXPECT_EQ(noColumns, (FeatureMatrix{{}, {}}));

  FeatureMatrix ragged = {{1.0, 2.0}, {3.0}};
  EXPECT_THROW(sfad::normalizeFeatures(ragged), std::runtime_error);
}

// A plain DBSCAN over a full distance matrix, written from the textbook description.
struct ReferenceRun {
  Labels callerLabels;
  Labels finalLabels;  // empty when mode 2 ended the run early
  std::vector<std::vector<double>> distances;
};

ReferenceRun referenceDbscan(const FeatureMatrix& rows, double eps, int minPts, int mode) {
  const int n = static_cast<int>(rows.size());
  ReferenceRun result;
  result.distances.assign(n, std::vector<double>(n, 0.0));
  for (int p = 0; p < n; ++p) {
    for (int q = 0; q < n; ++q) {
      double sum = 0.0;
      for (size_t c = 0; c < rows[p].size(); ++c) {
        const double difference = rows[p][c] - rows[q][c];
        sum += difference * difference;
      }
      result.distances[p][q] = std::sqrt(sum);
    }
  }
  auto region = [&](int p) {
    std::deque<int> points{p};
    for (int q = 0; q < n; ++q) {
      if (q != p && eps > result.distances[p][q]) points.push_back(q);
    }
    return points;
  };
  Labels& labels = result.callerLabels;
  labels.assign(n, 0);
  auto stop = [&] { return mode == STOP_WHEN_FIRST_CLUSTERED && labels[0] > 0; };
  int k = 0;
  for (int p = 0; p < n; ++p) {
    if (labels[p] != 0) continue;
    std::deque<int> seeds = region(p);
    if (static_cast<int>(seeds.size()) < minPts) {
      labels[p] = -1;
      continue;
    }
    labels[p] = ++k;
    if (stop()) return result;
    while (!seeds.empty()) {
      const int q = seeds.front();
      seeds.pop_front();
      if (labels[q] <= 0) labels[q] = k;
      const std::deque<int> neighbours = region(q);
      if (static_cast<int>(neighbours.size()) < minPts) continue;
      for (int r : neighbours) {
        if (labels[r] > 0) continue;
        labels[r] = k;
        if (stop()) return result;
        seeds.push_back(r);
      }
    }
  }
  result.finalLabels = labels;
  return result;
}

NearestCluster referenceNearest(const ReferenceRun& run, int i) {
  const Labels& labels = run.finalLabels;
  if (i < 0 || i >= static_cast<int>(labels.size())) return NearestCluster{-1, -1.0};
  if (labels[i] != -1) return NearestCluster{labels[i], 0.0};
  NearestCluster best{-1, kNoCluster};
  for (int j = 0; j < static_cast<int>(labels.size()); ++j) {
    if (j != i && run.distances[i][j] < best.distance && labels[j] != -1) {
      best = NearestCluster{labels[j], run.distances[i][j]};
    }
  }
  return best;
}

// Blobs around a few centres plus scattered points and exact duplicates, normalised as the
// callers do.
FeatureMatrix randomMatrix(std::mt19937& generator, int points, int features) {
  std::normal_distribution<double> around(0.0, 1.0);
  std::uniform_real_distribution<double> anywhere(-20.0, 20.0);
  std::uniform_int_distribution<int> kind(0, 9);
  FeatureMatrix centres(3, FeatureVector(features));
  for (FeatureVector& centre : centres) {
    for (double& value : centre) value = anywhere(generator);
  }
  FeatureMatrix rows;
  for (int i = 0; i < points; ++i) {
    const int k = kind(generator);
    if (k == 0 && !rows.empty()) {
      rows.push_back(rows[generator() % rows.size()]);
      continue;
    }
    FeatureVector row(features);
    for (int c = 0; c < features; ++c) {
      row[c] = k == 1 ? anywhere(generator) : centres[k % 3][c] + around(generator);
    }
    rows.push_back(row);
  }
  sfad::normalizeFeatures(rows);
  return rows;
}

// The store and the on-demand path (budget 0) must both match the reference exactly.
TEST(DbscanCrossCheck, MatchesPlainDbscanInBothModesAndBothDistancePaths) {
  std::mt19937 generator(20240611);
  int noisyFirstPointRuns = 0;
  for (int points : {0, 1, 2, 3, 7, 40, 160}) {
    for (int features : {2, 5}) {
      const FeatureMatrix rows = randomMatrix(generator, points, features);
      for (double eps : {0.05, 0.3, 0.8, 2.5}) {
        for (int minPts : {1, 3, 5}) {
          for (sfad::DbscanRunMode mode : {FULL_RUN, STOP_WHEN_FIRST_CLUSTERED}) {
            const ReferenceRun expected = referenceDbscan(rows, eps, minPts, mode);
            for (std::size_t budget : {sfad::kDefaultDistanceCacheBudget, std::size_t{0}}) {
              SCOPED_TRACE(::testing::Message()
                           << "points " << points << " features " << features << " eps " << eps
                           << " minPts " << minPts << " mode " << mode << " budget " << budget);
              DbscanClusterer clusterer(eps, minPts, mode, budget);
              ASSERT_EQ(runLabels(clusterer, rows), expected.callerLabels);
              ASSERT_EQ(clusterer.labels(), expected.finalLabels);
              for (int i = -1; i <= points; ++i) {
                const NearestCluster want = referenceNearest(expected, i);
                const NearestCluster got = clusterer.nearestCluster(i);
                ASSERT_EQ(got.label, want.label) << "point " << i;
                ASSERT_EQ(got.distance, want.distance) << "point " << i;
              }
            }
            const Labels& final = expected.finalLabels;
            if (!final.empty() && final[0] == -1 && referenceNearest(expected, 0).label > 0) {
              ++noisyFirstPointRuns;
            }
          }
        }
      }
    }
  }
  // The random matrices must exercise the nearest-cluster search from a noise point 1.
  EXPECT_GT(noisyFirstPointRuns, 0);
}

TEST(DbscanDistanceCache, DefaultBudgetStoresTheDefaultTrainingLimitOnly) {
  EXPECT_LE(sfad::DbscanDistanceCache::storeBytes(3001), sfad::kDefaultDistanceCacheBudget);
  EXPECT_GT(sfad::DbscanDistanceCache::storeBytes(20001), sfad::kDefaultDistanceCacheBudget);
}

}  // namespace
