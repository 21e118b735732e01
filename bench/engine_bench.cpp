// Speed of the engine's numeric steps on training-set-sized matrices (366 points: a daily
// group's year plus the job; 3,001: a multi-stream group at the default limit):
// normalisation, judging a job that is a core point (mode 2), a full clustering, and
// calibration, both from the pairwise distances and by the clustering-per-radius search.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <random>

#include "detection/CalibrationRadius.h"
#include "detection/DbscanClusterer.h"
#include "detection/FeatureMath.h"

namespace {

constexpr int kFeatures = 5;
constexpr double kDefaultRadius = 2.5;
constexpr int kMinPts = 3;

// Jobs of a group scatter around a few typical sizes, with about 1% far outside; the first
// job, the one under test, is typical.
sfad::FeatureMatrix trainingJobs(int points) {
  std::mt19937 generator(11);
  std::lognormal_distribution<double> spread(0.0, 0.1);
  const double typical[3][kFeatures] = {
      {2e5, 5e6, 1.5e6, 1800, 70}, {3e5, 8e6, 2e6, 2400, 75}, {1e5, 3e6, 9e5, 1200, 65}};
  sfad::FeatureMatrix rows(points, sfad::FeatureVector(kFeatures));
  for (int i = 0; i < points; ++i) {
    const double factor = i % 101 == 57 ? 8.0 : 1.0;
    for (int c = 0; c < kFeatures; ++c) rows[i][c] = typical[i % 3][c] * factor * spread(generator);
  }
  return rows;
}

sfad::FeatureMatrix normalised(int points) {
  sfad::FeatureMatrix rows = trainingJobs(points);
  sfad::normalizeFeatures(rows);
  return rows;
}

double maxResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void BM_Normalise(benchmark::State& state) {
  const sfad::FeatureMatrix jobs = trainingJobs(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    sfad::FeatureMatrix matrix = jobs;
    sfad::normalizeFeatures(matrix);
    benchmark::DoNotOptimize(matrix.data());
  }
}
BENCHMARK(BM_Normalise)->Arg(366)->Arg(3001)->Unit(benchmark::kMicrosecond);

// What the detection run does for a job that lies inside its group: the matrix normalised,
// a clustering in mode 2 that ends as soon as the job is known to be a core point.
void BM_JudgeCorePoint(benchmark::State& state) {
  const sfad::FeatureMatrix jobs = trainingJobs(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    sfad::DbscanDataset dataset;
    dataset.rows = jobs;
    sfad::normalizeFeatures(dataset.rows);
    dataset.pointCount = static_cast<int>(dataset.rows.size());
    sfad::DbscanClusterer clusterer(kDefaultRadius, kMinPts, sfad::STOP_WHEN_FIRST_CLUSTERED);
    std::vector<int> labels;
    clusterer.run(dataset, labels);
    if (labels.front() <= 0) state.SkipWithError("the job under test is not a core point");
  }
  state.counters["maxRssMB"] = maxResidentMegabytes();
}
BENCHMARK(BM_JudgeCorePoint)->Arg(366)->Arg(3001)->Unit(benchmark::kMicrosecond);

// A job left as noise pays for a full clustering and the nearest-cluster search.
void BM_FullClustering(benchmark::State& state) {
  sfad::DbscanDataset dataset;
  dataset.rows = normalised(static_cast<int>(state.range(0)));
  dataset.pointCount = static_cast<int>(dataset.rows.size());
  for (auto _ : state) {
    sfad::DbscanClusterer clusterer(kDefaultRadius, kMinPts, sfad::FULL_RUN);
    std::vector<int> labels;
    clusterer.run(dataset, labels);
    benchmark::DoNotOptimize(clusterer.nearestCluster(0));
  }
  state.counters["maxRssMB"] = maxResidentMegabytes();
}
BENCHMARK(BM_FullClustering)->Arg(366)->Arg(3001)->Unit(benchmark::kMillisecond);

// Calibration as the engine makes it: normalisation and the radius from the distances.
void BM_Calibration(benchmark::State& state) {
  const sfad::FeatureMatrix jobs = trainingJobs(static_cast<int>(state.range(0)));
  double radius = 0;
  for (auto _ : state) {
    sfad::FeatureMatrix matrix = jobs;
    sfad::normalizeFeatures(matrix);
    radius = sfad::calibrationRadius(matrix, kMinPts);
  }
  state.counters["radius"] = radius;
}
BENCHMARK(BM_Calibration)->Arg(366)->Arg(3001)->Unit(benchmark::kMillisecond);

// For comparison: the same radius by a full clustering per radius tried.
void BM_CalibrationBySearch(benchmark::State& state) {
  const sfad::FeatureMatrix jobs = trainingJobs(static_cast<int>(state.range(0)));
  double radius = 0;
  int clusterings = 0;
  for (auto _ : state) {
    sfad::DbscanDataset dataset;
    dataset.rows = jobs;
    sfad::normalizeFeatures(dataset.rows);
    dataset.pointCount = static_cast<int>(dataset.rows.size());
    radius = kDefaultRadius;
    clusterings = 0;
    do {
      sfad::DbscanClusterer clusterer(radius, kMinPts, sfad::FULL_RUN);
      std::vector<int> labels;
      clusterer.run(dataset, labels);
      ++clusterings;
      if (std::count(labels.begin(), labels.end(), static_cast<int>(sfad::NOISE)) == 0) break;
      radius += 0.1;
    } while (radius <= 4.0);
  }
  state.counters["radius"] = radius;
  state.counters["clusterings"] = clusterings;
}
BENCHMARK(BM_CalibrationBySearch)->Arg(366)->Arg(3001)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
