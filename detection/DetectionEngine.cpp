// Construction of the detection engine: its concepts over the one connection, and the
// seeding of the deduplication thresholds.
#include "detection/DetectionEngine.h"

#include <map>

namespace sfad {

namespace {

// The thresholds the engine itself brings along; none in this system, so
// DEDUP_THRESHOLD holds only what other writers of the database put there.
const std::map<std::string, double>& builtInDedupThresholds() {
  static const std::map<std::string, double> table;
  return table;
}

}  // namespace

DetectionEngine::DetectionEngine(std::string configPath,
                                 Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database,
                                 double defaultRadius, double minNeighbourhood,
                                 FailurePolicy failures)
    : configPath_(std::move(configPath)),
      database_(database),
      defaultRadius_(defaultRadius),
      minNeighbourhood_(minNeighbourhood),
      failures_(failures),
      history_(database),
      queue_(database, history_),
      models_(database, minPts()),
      anomalies_(database),
      dedupRule_(database, history_, anomalies_),
      feedback_(database, anomalies_, queue_) {
  dedupRule_.seedThresholds(builtInDedupThresholds());
}

}  // namespace sfad
