// Anomaly records: the ANOMALY_DATA row with its details document, the per-feature rows,
// and the reads of the stored anomalies.
#include "detection/AnomalyStore.h"

#include <jansson.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "json/JsonOwner.h"
#include "platform/Platform.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

namespace {

constexpr const char* kStoreAnomalySql =
    "INSERT OR IGNORE INTO ANOMALY_DATA VALUES (?, ?, ?, ?, ?, ?)";
constexpr const char* kStoreFeatureSql =
    "INSERT OR IGNORE INTO ANOMALY_PER_FEATURE_DATA VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kDetectionKeySql =
    "SELECT DETECTION_KEY FROM ANOMALY_DATA WHERE ANOMALY_UNIQUE_ID = ?";
constexpr const char* kNotHandedOutQuery =
    "SELECT ANOMALY_DETAILS FROM ANOMALY_DATA WHERE PROCESSED != 1";
constexpr const char* kMarkHandedOutSql =
    "UPDATE ANOMALY_DATA SET PROCESSED = 1 WHERE PROCESSED != 1 ";
constexpr const char* kByBackupTimeQuery =
    " SELECT * FROM  (  SELECT ANOMALY_DATA.ANOMALY_DETAILS,  "
    "CAST(substr(ANOMALY_UNIQUE_ID, 1, "
    "instr(ANOMALY_UNIQUE_ID, '_') - 1) AS INTEGER) AS JOB_ID,  "
    "CAST(substr(ANOMALY_UNIQUE_ID, "
    "instr(ANOMALY_UNIQUE_ID, '_') + 1) AS INTEGER) AS BACKUP_DATE  FROM "
    "ANOMALY_DATA WHERE "
    "BACKUP_DATE >= ? AND BACKUP_DATE <= ?  ) ";
constexpr const char* kAnomaliesOfClientQuery =
    "SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA  WHERE CLIENT = ? AND "
    "DETECTION_TIME >= ? AND  "
    "DETECTION_TIME <= ? ";
constexpr const char* kPurgeAnomaliesSql = "DELETE FROM ANOMALY_DATA WHERE DETECTION_TIME < ? ;";
// The per-feature rows of every anomaly that no longer exists: those purged just now, and
// those left behind by purges that did not remove them yet. An anomaly and its per-feature
// rows are stored in one transaction, so no other request can show per-feature rows whose
// anomaly is still to come.
constexpr const char* kPurgeOrphanFeatureRowsSql =
    "DELETE FROM ANOMALY_PER_FEATURE_DATA WHERE ANOMALY_ID NOT IN "
    "(SELECT ANOMALY_UNIQUE_ID FROM ANOMALY_DATA) ;";
// The job id is the text before the first "_" and is compared as text. A stored
// id made of digits only is also compared as a number, as it always was, so
// that "007" or " 7" still finds job 7; an id with any other character matches
// only its own text ("12" never finds job "12abc", "0" never job "abc").
constexpr const char* kByJobIdQuery =
    " SELECT * FROM  (  SELECT ANOMALY_DATA.ANOMALY_DETAILS,  "
    "substr(ANOMALY_UNIQUE_ID, 1, "
    "instr(ANOMALY_UNIQUE_ID, '_') - 1) AS JOB_ID,  "
    "CAST(substr(ANOMALY_UNIQUE_ID, "
    "instr(ANOMALY_UNIQUE_ID, '_') + 1) AS INTEGER) AS BACKUP_DATE  FROM "
    "ANOMALY_DATA WHERE "
    "JOB_ID = ?1 OR (JOB_ID <> '' AND JOB_ID NOT GLOB '*[^0-9]*' AND "
    "CAST(JOB_ID AS NUMERIC) = ?1)  ) ";

// The deduplication rule's own key for the deduplication rate.
constexpr const char* kDedupRuleFeature = "DEDUP_RATE_EXT";
constexpr double kKilobytesToMegabytes = 0.0009765625;  // 1 / 1024

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

AnomalyStore::AnomalyStore(SQLiteDatabase& database) : database_(database) {}

void AnomalyStore::store(const ResultRow& row, const NearestCluster& score, TrainingMode mode,
                         const AnomalousFeatures& features) {
  const std::string anomalyId = row.text("JOB_ID") + "_" + std::to_string(row.asInt("BACKUP_TIME"));
  // One reading of the clock for the stored detection time and the document's.
  const std::int64_t detectionTime = platform::currentTime64();
  const std::string details = detailsDocument(row, features, mode, anomalyId, score, detectionTime);

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

std::string AnomalyStore::detailsDocument(const ResultRow& row, const AnomalousFeatures& features,
                                          TrainingMode mode, const std::string& anomalyId,
                                          const NearestCluster& score, std::int64_t detectionTime) {
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
    if (reported.fullModeOnly && mode != TrainingMode::kFull) continue;
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

  JsonText text(json_dumps(document.get(), 0));
  return text ? std::string(text.get()) : std::string();
}

void AnomalyStore::storeFeatureRows(const std::string& anomalyId,
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

void AnomalyStore::detectionKeyOf(const std::string& anomalyId, QueryResult& rows) {
  const StatementCache::Use use = statements_.use(kDetectionKeySql);
  Statement& statement = use.statement();
  statement.bindText(1, anomalyId);
  database_.query(statement, rows);
}

QueryResult AnomalyStore::detailsNotHandedOut() {
  QueryResult rows;
  database_.query(kNotHandedOutQuery, rows);
  return rows;
}

void AnomalyStore::markHandedOut() {
  Statement statement(database_.handle(), kMarkHandedOutSql);
  database_.executeStatement(statement);
}

QueryResult AnomalyStore::detailsInBackupTimeRange(int minimum, int maximum) {
  Statement statement(database_.handle(), kByBackupTimeQuery);
  statement.bindInt(1, minimum);
  statement.bindInt(2, maximum);
  QueryResult rows;
  database_.query(statement, rows);
  return rows;
}

std::vector<std::string> AnomalyStore::idsOfClient(const std::string& client, int startTime,
                                                   int endTime) {
  Statement statement(database_.handle(), kAnomaliesOfClientQuery);
  statement.bindText(1, client);
  statement.bindInt(2, startTime);
  statement.bindInt(3, endTime);
  QueryResult rows;
  database_.query(statement, rows);
  std::vector<std::string> ids;
  for (const auto& row : rows) ids.push_back(row.text("ANOMALY_UNIQUE_ID"));
  return ids;
}

void AnomalyStore::purgeDetectedBefore(int cutoff) {
  Statement statement(database_.handle(), kPurgeAnomaliesSql);
  statement.bindInt(1, cutoff);
  database_.executeStatement(statement);
}

void AnomalyStore::purgeOrphanFeatureRows() {
  Statement statement(database_.handle(), kPurgeOrphanFeatureRowsSql);
  database_.executeStatement(statement);
}

JobAnomalyLookup::JobAnomalyLookup(SQLiteDatabase& database)
    : database_(database), statement_(database.handle(), kByJobIdQuery) {}

QueryResult JobAnomalyLookup::detailsOfJob(const std::string& jobId) {
  statement_.bindText(1, jobId);
  QueryResult rows;
  database_.query(statement_, rows);
  statement_.reset();
  return rows;
}

}  // namespace sfad
