// Anomaly records: the ANOMALY_DATA row with its details document, the
// per-feature rows, and the usual ranges taken from the jobs of the nearest
// cluster.
#include <jansson.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "detection/DetectionEngine.h"
#include "platform/Platform.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::Statement;

namespace {

constexpr const char* kStoreAnomalySql =
    "INSERT OR IGNORE INTO ANOMALY_DATA VALUES (?, ?, ?, ?, ?, ?)";
constexpr const char* kStoreFeatureSql =
    "INSERT OR IGNORE INTO ANOMALY_PER_FEATURE_DATA VALUES (?, ?, ?, ?, ?, ?, ?, ?)";

// The deduplication rule's own key for the deduplication rate.
constexpr const char* kDedupRuleFeature = "DEDUP_RATE_EXT";
constexpr double kKilobytesToMegabytes = 0.0009765625;  // 1 / 1024

struct JsonDeleter {
  void operator()(json_t* value) const noexcept { json_decref(value); }
};
using JsonPtr = std::unique_ptr<json_t, JsonDeleter>;

struct TextDeleter {
  void operator()(char* text) const noexcept { std::free(text); }
};

std::string fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

// Kilobytes shown as megabytes with four decimals.
std::string megabytes(double kilobytes) { return fixed(kilobytes * kKilobytesToMegabytes, 4); }

// Truncated toward zero, in decimal.
std::string whole(double value) { return std::to_string(static_cast<int>(value)); }

// General notation, six significant digits.
std::string general(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

std::string sizeText(const FeatureStats& stats) {
  return megabytes(stats.currentValue) + " MB" + " (Usual: " + megabytes(stats.minValue) +
         " MB - " + megabytes(stats.maxValue) + " MB)";
}

std::string countText(const FeatureStats& stats) {
  return whole(stats.currentValue) + " (Usual: " + whole(stats.minValue) + " - " +
         whole(stats.maxValue) + ")";
}

std::string rateText(const FeatureStats& stats) {
  return general(stats.currentValue) + " (Usual: " + general(stats.minValue) + " - " +
         general(stats.maxValue) + ")";
}

// A text member; Jansson leaves it out when the text is not valid UTF-8.
void setText(json_t* object, const char* key, const std::string& text) {
  json_object_set_new(object, key, json_string(text.c_str()));
}

// Megabytes with three decimals, read back as a number, for the stored size
// columns.
double storedMegabytes(double kilobytes) { return std::atof(fixed(kilobytes / 1024, 3).c_str()); }

}  // namespace

void DetectionEngine::storeAnomaly(const ResultRow& row, const NearestCluster& score, int mode,
                                   const AnomalousFeatures& features) {
  const std::string anomalyId = row.text("JOB_ID") + "_" + std::to_string(row.asInt("BACKUP_TIME"));
  // One reading of the clock for the stored detection time and the document's.
  const std::int64_t detectionTime = platform::currentTime64();
  const std::string details =
      buildAnomalyDetails(row, features, mode, anomalyId, score, detectionTime);

  Statement statement(database_.handle(), kStoreAnomalySql);
  statement.bindText(1, anomalyId);
  statement.bindText(2, details);
  statement.bindInt(3, 0);
  statement.bindText(4, row.text("UNIQUE_KEY"));
  statement.bindText(5, row.text("CLIENT"));
  statement.bindInt(6, static_cast<int>(static_cast<std::uint32_t>(detectionTime)));
  database_.executeStatement(statement);

  storeFeatureRows(anomalyId, features);
}

void DetectionEngine::storeDedupAnomaly(const ResultRow& row, const NearestCluster& score,
                                        const AnomalousFeatures& features) {
  storeAnomaly(row, score, kFullTraining, features);
}

std::string DetectionEngine::buildAnomalyDetails(const ResultRow& row,
                                                 const AnomalousFeatures& features, int mode,
                                                 const std::string& anomalyId,
                                                 const NearestCluster& score,
                                                 std::int64_t detectionTime) const {
  struct Reported {
    const char* feature;
    const char* member;
    std::string (*text)(const FeatureStats&);
    const char* label;
    bool fullModeOnly;
  };
  static const Reported kReported[] = {
      {"IMAGE_SIZE", "anomalyImageSize", sizeText, "Anomaly image size", false},
      {"NUM_FILES", "anomalyBackupFilesCount", countText, "Backup files count", false},
      {"KB_TRANSFERRED", "anomalyDataTransferred", sizeText, "Data transferred", true},
      {"TOTAL_TIME", "anomalyTimeTaken", countText, "Total time", true},
      {"DEDUP_RATE", "anomalyDeduplicationRatio", rateText, "Deduplication ratio", true},
      {kDedupRuleFeature, "anomalyDeduplicationRatio", rateText, "Deduplication ratio", true},
  };

  // The job's own columns, copied as text.
  static const std::pair<const char*, const char*> kJobMembers[] = {
      {"jobid", "JOB_ID"},           {"clientName", "CLIENT"},          {"policyName", "POLICY"},
      {"policyType", "POLICY_TYPE"}, {"scheduleName", "SCHEDULE_NAME"}, {"backupId", "BACKUP_ID"},
      {"backupTime", "BACKUP_TIME"}, {"scheduleType", "SCHEDULE_TYPE"},
  };
  JsonPtr attributes(json_object());
  for (const auto& [member, column] : kJobMembers) {
    setText(attributes.get(), member, row.text(column));
  }

  int count = 0;
  std::string summary;
  std::string anomalyType = "JOB_BASED";
  for (const Reported& reported : kReported) {
    auto found = features.find(reported.feature);
    if (found == features.end()) continue;
    if (reported.fullModeOnly && mode != kFullTraining) continue;
    setText(attributes.get(), reported.member, reported.text(found->second));
    ++count;
    summary += reported.label;
    summary += ", ";
    if (found->first == kDedupRuleFeature) anomalyType = "JOB_BASED_DEDUP_CUSTOM_RULE";
  }
  if (count > 0) summary.erase(summary.size() - 2);

  setText(attributes.get(), "anomalyFeedback", "Report as false positive");
  setText(attributes.get(), "anomalyId", anomalyId);
  setText(attributes.get(), "anomalyType", anomalyType);
  setText(attributes.get(), "summary", summary);
  setText(attributes.get(), "count", std::to_string(count));
  setText(attributes.get(), "score", fixed(score.distance, 2));
  setText(attributes.get(), "storageName", row.text("DESTINATION_STORAGE_NAME"));

  JsonPtr document(json_object());
  setText(document.get(), "DetectionType", "dbscan");
  setText(document.get(), "DetectionTime", std::to_string(detectionTime));
  setText(document.get(), "SizeUnit", "MB");
  json_object_set_new(document.get(), "Attributes", attributes.release());

  std::unique_ptr<char, TextDeleter> text(json_dumps(document.get(), 0));
  return text ? std::string(text.get()) : std::string();
}

void DetectionEngine::storeFeatureRows(const std::string& anomalyId,
                                       const AnomalousFeatures& features) {
  for (const auto& [name, stats] : features) {
    const std::string feature = name == kDedupRuleFeature ? "DEDUP_RATE" : name;
    const bool isSize = feature == "IMAGE_SIZE" || feature == "KB_TRANSFERRED";
    auto stored = [isSize](double value) { return isSize ? storedMegabytes(value) : value; };

    Statement statement(database_.handle(), kStoreFeatureSql);
    statement.bindText(1, anomalyId);
    statement.bindText(2, feature);
    statement.bindText(3, stats.displayName);
    statement.bindDouble(4, stored(stats.currentValue));
    statement.bindDouble(5, stored(stats.minValue));
    statement.bindDouble(6, stored(stats.maxValue));
    statement.bindText(7, stats.unit);
    statement.bindText(8, "{}");
    database_.executeStatement(statement);
  }
}

ClusterValues DetectionEngine::collectClusterValues(int nearestLabel, const QueryResult& rows,
                                                    const std::vector<int>& labels,
                                                    int mode) const {
  ClusterValues values;
  for (const std::string& feature : trainingFeatures(mode)) values[feature];
  // Point 0 is the job under test; point p is training row p - 1.
  const std::size_t points = std::min(labels.size(), rows.size() + 1);
  for (std::size_t point = 1; point < points; ++point) {
    if (labels[point] != nearestLabel) continue;
    for (const std::string& feature : trainingFeatures(mode)) {
      values[feature].push_back(rows[point - 1].asDouble(feature));
    }
  }
  return values;
}

std::pair<double, double> DetectionEngine::usualRange(const ClusterValues& values,
                                                      const std::string& feature) {
  auto found = values.find(feature);
  // An empty list has no range either; it reads like a missing one instead of
  // failing.
  if (found == values.end() || found->second.empty()) return {-1.0, -1.0};
  const auto [low, high] = std::minmax_element(found->second.begin(), found->second.end());
  return {*low, *high};
}

}  // namespace sfad
