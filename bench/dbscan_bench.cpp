// Speed and peak memory of normalisation and DBSCAN on random five-feature points: the
// default training limit (3,001 points), a single-stream group (366) and a large
// multi-stream limit (20,001, past the distance store's budget).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <random>

#include "detection/DbscanClusterer.h"
#include "detection/FeatureMath.h"

namespace {

constexpr int kFeatures = 5;
constexpr double kDefaultRadius = 2.5;
constexpr int kMinPts = 3;

// Jobs of a group scatter around a few typical sizes, with some outliers; the first job,
// the one under test, is typical.
sfad::FeatureMatrix randomJobs(int points) {
  std::mt19937 generator(7);
  std::lognormal_distribution<double> spread(0.0, 0.3);
  std::uniform_real_distribution<double> outlier(0.0, 50.0);
  const double typical[3][kFeatures] = {
      {1e4, 5e6, 2e6, 600, 70}, {2e4, 9e6, 1e6, 900, 85}, {5e3, 1e6, 8e5, 300, 40}};
  sfad::FeatureMatrix rows(points, sfad::FeatureVector(kFeatures));
  for (int i = 0; i < points; ++i) {
    for (int c = 0; c < kFeatures; ++c) {
      rows[i][c] = i % 97 == 50 ? outlier(generator) * typical[0][c] / 10
                                : typical[i % 3][c] * spread(generator);
    }
  }
  return rows;
}

double maxResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in kilobytes
}

void BM_Normalise(benchmark::State& state) {
  const sfad::FeatureMatrix jobs = randomJobs(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    sfad::FeatureMatrix matrix = jobs;
    sfad::normalizeFeatures(matrix);
    benchmark::DoNotOptimize(matrix.data());
  }
}
BENCHMARK(BM_Normalise)->Arg(366)->Arg(3001)->Unit(benchmark::kMicrosecond);

void BM_Cluster(benchmark::State& state) {
  sfad::DbscanDataset dataset;
  dataset.rows = randomJobs(static_cast<int>(state.range(0)));
  sfad::normalizeFeatures(dataset.rows);
  dataset.pointCount = static_cast<int>(dataset.rows.size());
  const auto mode = static_cast<sfad::DbscanRunMode>(state.range(1));
  int noise = 0;
  for (auto _ : state) {
    sfad::DbscanClusterer clusterer(kDefaultRadius, kMinPts, mode);
    std::vector<int> labels;
    clusterer.run(dataset, labels);
    benchmark::DoNotOptimize(clusterer.nearestCluster(0));
    noise = 0;
    for (int label : labels) noise += label == sfad::NOISE;
  }
  state.counters["noise"] = noise;
  state.counters["maxRssMB"] = maxResidentMegabytes();
}
BENCHMARK(BM_Cluster)
    ->ArgNames({"points", "mode"})
    ->Args({366, sfad::FULL_RUN})
    ->Args({366, sfad::STOP_WHEN_FIRST_CLUSTERED})
    ->Args({3001, sfad::FULL_RUN})
    ->Args({3001, sfad::STOP_WHEN_FIRST_CLUSTERED})
    ->Unit(benchmark::kMillisecond);
// Past the budget: distances are computed on every request; one run is enough to measure.
BENCHMARK(BM_Cluster)
    ->ArgNames({"points", "mode"})
    ->Args({20001, sfad::FULL_RUN})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
