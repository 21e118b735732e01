// Storing one large data file: 100,000 data points in 100 groups, parsed and written in one
// request (one transaction) into a fresh detection database.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "intake/DataFile.h"
#include "storage/Schema.h"

namespace {

namespace UsageReporting = Quorvan::Stowfleet::UsageReporting;

constexpr int kGroups = 100;
constexpr int kPointsPerGroup = 1000;

// A scratch folder below /tmp, removed with its contents.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/sfad-intake-bench-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeDataFile(const std::string& path, const char* operation) {
  std::ofstream out(path);
  out << R"({"operation": ")" << operation << R"(", "data_points_fields": )"
      << R"("JOB_ID,BACKUP_TIME,IMAGE_SIZE,NUM_FILES,DATA_TRANSFERRED,TOTAL_TIME,DEDUP_RATE,)"
      << R"(STREAM_NUMBER", "data": [)";
  int job = 0;
  for (int group = 0; group < kGroups; ++group) {
    out << (group ? ", " : "") << R"({"client": "client)" << group
        << R"(", "policy": "policy", "policy_type": "Standard", "schedule_type": "0", )"
        << R"("schedule_name": "daily", "destination_storage": "pool", "data_points": [)";
    for (int point = 0; point < kPointsPerGroup; ++point, ++job) {
      out << (point ? ", " : "") << "[\"" << job << "\", " << 1600000000 + point * 86400 << ", "
          << 1048576.5 + point << ", " << 1000 + point % 17 << ", " << 524288.25 + point << ", "
          << 600 + point % 31 << ", " << 2.5 + (point % 7) * 0.1 << ", 0]";
    }
    out << "]}";
  }
  out << "]}";
}

void StoreLargeDataFile(benchmark::State& state, const char* operation) {
  ScratchDir dir;
  const std::string dataPath = dir.file("data.json");
  writeDataFile(dataPath, operation);
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string databasePath = dir.file("detection" + std::to_string(run++) + ".db");
    UsageReporting::createSchema(databasePath);
    UsageReporting::SQLiteDatabase database(databasePath, UsageReporting::kDatabaseOpenFlags);
    state.ResumeTiming();
    sfad::parseAndStore(dataPath, database);
  }
  state.SetItemsProcessed(state.iterations() * kGroups * kPointsPerGroup);
}

BENCHMARK_CAPTURE(StoreLargeDataFile, history, "TRAINING_DATA")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(StoreLargeDataFile, queue, "DETECTION_DATA")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
