// The reads of a job's training history: how much history its group needs, which rows
// train it, and the checks against the group's history.
#include "detection/JobHistory.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <climits>
#include <cstdint>

#include "detection/DiagnosticLog.h"
#include "detection/GroupFields.h"
#include "storage/ColumnReal.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::FieldValue;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::columnAsTextDouble;
using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

namespace {

constexpr const char* kKeyCountSql = "SELECT COUNT(*) FROM HIST_DATA WHERE UNIQUE_KEY = ?";

// The existence reads answer 0 or 1 (only "is there any row" matters): each stops at the
// first index entry instead of counting the group's rows.
constexpr const char* kStreamCountSql =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND APP_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "STREAM_NUMBER = ? LIMIT 1)";

constexpr const char* kAssetCountSql =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND APP_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "ASSET_ID = ? LIMIT 1)";

constexpr const char* kHighestStreamSql =
    "SELECT MAX(STREAM_NUMBER)  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY  "
    "                 = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? "
    "AND  SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? ";

// The training sets, with the columns that place a row among them (KEPT_ROWID, BACKUP_TIME,
// DESTINATION_STORAGE_NAME, STREAM_NUMBER, MODE, USER_IDENTIFIED_CLUSTER): rows of one
// BACKUP_TIME come in the order of the read index, ties broken by rowid.
constexpr const char* kFullTrainingSql =
    "SELECT NUM_FILES, IMAGE_SIZE, KB_TRANSFERRED, TOTAL_TIME, DEDUP_RATE, "
    "USER_IDENTIFIED_CLUSTER, rowid AS KEPT_ROWID, BACKUP_TIME, DESTINATION_STORAGE_NAME, "
    "STREAM_NUMBER, MODE FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND POLICY_TYPE = ? "
    "AND APP_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "DESTINATION_STORAGE_NAME = ? AND ASSET_ID = ? AND MODE = ? ORDER BY BACKUP_TIME DESC "
    "LIMIT ?";

constexpr const char* kReducedTrainingSql =
    "SELECT NUM_FILES, IMAGE_SIZE, KB_TRANSFERRED, USER_IDENTIFIED_CLUSTER, rowid AS "
    "KEPT_ROWID, BACKUP_TIME, DESTINATION_STORAGE_NAME, STREAM_NUMBER, MODE FROM HIST_DATA "
    "WHERE CLIENT = ? AND POLICY = ? AND POLICY_TYPE = ? AND APP_TYPE = ? AND SCHEDULE_TYPE = "
    "? AND SCHEDULE_NAME = ? AND ASSET_ID = ? ORDER BY BACKUP_TIME DESC LIMIT ?";

// The row a move writes or replaces, with everything the kept copies need of it.
constexpr const char* kMovedRowSql =
    "SELECT rowid AS KEPT_ROWID, CLIENT, POLICY, POLICY_TYPE, APP_TYPE, SCHEDULE_TYPE, "
    "SCHEDULE_NAME, DESTINATION_STORAGE_NAME, ASSET_ID, BACKUP_TIME, STREAM_NUMBER, MODE, "
    "USER_IDENTIFIED_CLUSTER, NUM_FILES, IMAGE_SIZE, KB_TRANSFERRED, TOTAL_TIME, DEDUP_RATE "
    "FROM HIST_DATA WHERE UNIQUE_KEY = ?";

constexpr const char* kHistoryTable = "HIST_DATA";

// Changes when another connection commits, so kept copies may be out of date.
constexpr const char* kDataVersionSql = "PRAGMA data_version";

constexpr const char* kLastBackupSql =
    "SELECT MAX(BACKUP_TIME) FROM HIST_DATA WHERE  CLIENT                   = ? AND  POLICY      "
    "             = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  DESTINATION_STORAGE_NAME "
    "= ? AND  ASSET_ID                 = ? ";

// Reduced mode: the rows the reduced training set is drawn from, on any storage.
constexpr const char* kReducedLastBackupSql =
    "SELECT MAX(BACKUP_TIME) FROM HIST_DATA WHERE  CLIENT        = ? AND  POLICY        = ? AND  "
    "POLICY_TYPE   = ? AND  APP_TYPE      = ? AND  SCHEDULE_TYPE = ? AND  SCHEDULE_NAME = ? AND  "
    "ASSET_ID      = ? ";
// A scan of the table: the rates come in rowid order.
constexpr const char* kPeerRatesSql =
    "SELECT rowid, DEDUP_RATE FROM HIST_DATA  WHERE POLICY_TYPE = ? AND  SCHEDULE_TYPE = ? "
    "AND  DESTINATION_STORAGE_NAME = ?";
constexpr const char* kDedupFeedbackSql =
    "SELECT COUNT(*) FROM (SELECT 1 FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND "
    "POLICY_TYPE = ? AND SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND "
    "USER_IDENTIFIED_CLUSTER = ? LIMIT 1)";

// The ASSET_ID of jobs without an asset of their own (exact, case-sensitive).
constexpr const char* kNoAsset = "NA";
constexpr int kHistoryMode = 1;
// USER_IDENTIFIED_CLUSTER of a job whose feedback silences the deduplication rule.
constexpr int kDedupFeedback = 2;

// The keys of the kept copies: the full training set's group (with MODE 1), the reduced
// set's, and the peers'.
constexpr ColumnList kFullSetFields = {"CLIENT",        "POLICY",        "POLICY_TYPE",
                                       "APP_TYPE",      "SCHEDULE_TYPE", "SCHEDULE_NAME",
                                       "DESTINATION_STORAGE_NAME", "ASSET_ID"};
constexpr ColumnList kReducedSetFields = {"CLIENT",        "POLICY",        "POLICY_TYPE",
                                          "APP_TYPE",      "SCHEDULE_TYPE", "SCHEDULE_NAME",
                                          "ASSET_ID"};
constexpr ColumnList kPeerFields = {"POLICY_TYPE", "SCHEDULE_TYPE", "DESTINATION_STORAGE_NAME"};

// The training columns of each mode, ordered by name as a row keeps them.
const std::vector<std::string>& trainingColumns(TrainingMode mode) {
  static const std::vector<std::string> full = {"DEDUP_RATE",     "IMAGE_SIZE",
                                                "KB_TRANSFERRED", "NUM_FILES",
                                                "TOTAL_TIME",     "USER_IDENTIFIED_CLUSTER"};
  static const std::vector<std::string> reduced = {"IMAGE_SIZE", "KB_TRANSFERRED", "NUM_FILES",
                                                   "USER_IDENTIFIED_CLUSTER"};
  return mode == TrainingMode::kFull ? full : reduced;
}

// The texts of the columns, each preceded by its length, so that no two keys run together.
std::string keyOf(const ResultRow& row, ColumnList columns) {
  std::string key;
  for (const char* column : columns) {
    const std::string& text = row.text(column);
    key += std::to_string(text.size());
    key += ':';
    key += text;
  }
  return key;
}

// Whether the text is an integer as SQLite writes one (so the column held an integer).
bool readInteger(const std::string& text, std::int64_t& value) {
  const char* end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, value);
  return read.ec == std::errc() && read.ptr == end && std::to_string(value) == text;
}

// An aggregate query yields one row; a NULL aggregate reads as 0.
bool firstCountIsNonZero(const QueryResult& rows, const char* column) {
  return !rows.empty() && rows.front().asInt(column) != 0;
}

}  // namespace

JobHistory::JobHistory(SQLiteDatabase& database) : database_(database) {}

bool JobHistory::holdsKey(const std::string& uniqueKey) {
  const StatementCache::Use use = statements_.use(kKeyCountSql);
  Statement& statement = use.statement();
  statement.bindText(1, uniqueKey);
  QueryResult rows;
  database_.query(statement, rows);
  return firstCountIsNonZero(rows, "COUNT(*)");
}

bool JobHistory::hasStreamHistory(const ResultRow& job) {
  const StatementCache::Use use = statements_.use(kStreamCountSql);
  Statement& statement = use.statement();
  const int next = bindFields(statement, job, kPolicyFields);
  statement.bindInt(next, job.asInt("STREAM_NUMBER"));
  QueryResult rows;
  database_.query(statement, rows);
  return firstCountIsNonZero(rows, "COUNT(*)");
}

int JobHistory::requiredObservations(const ResultRow& job, int minObservations,
                                     int& maxStreamNumber) {
  const std::string& assetId = job.text("ASSET_ID");
  {
    const StatementCache::Use use = statements_.use(kAssetCountSql);
    Statement& statement = use.statement();
    statement.bindText(bindFields(statement, job, kPolicyFields), assetId);
    QueryResult rows;
    database_.query(statement, rows);
    if (!firstCountIsNonZero(rows, "COUNT(*)")) return -1;
  }
  if (assetId != kNoAsset) {
    maxStreamNumber = 0;
    return minObservations;
  }
  const StatementCache::Use use = statements_.use(kHighestStreamSql);
  Statement& statement = use.statement();
  bindFields(statement, job, kPolicyFields);
  QueryResult rows;
  database_.query(statement, rows);
  if (rows.empty()) return -1;
  maxStreamNumber = rows.front().asInt("MAX(STREAM_NUMBER)");
  if (maxStreamNumber == 0) return minObservations;
  // One minimum per stream; a product beyond the 32-bit range is held at its
  // largest value instead of wrapping into a small or negative requirement.
  const std::int64_t required =
      static_cast<std::int64_t>(minObservations) * static_cast<std::int64_t>(maxStreamNumber);
  return static_cast<int>(std::clamp<std::int64_t>(required, INT_MIN, INT_MAX));
}

TrainingMode JobHistory::trainingSet(const ResultRow& job, QueryResult& rows, int required,
                                     int limit) {
  dropCopiesIfStale();
  const KeptRows& full = keptTrainingRows(job, TrainingMode::kFull, limit);
  if (static_cast<std::int64_t>(full.rows.size()) >= required) {
    appendRows(full, TrainingMode::kFull, rows);
    return TrainingMode::kFull;
  }
  rows.clear();
  appendRows(keptTrainingRows(job, TrainingMode::kReduced, limit), TrainingMode::kReduced, rows);
  return TrainingMode::kReduced;
}

const JobHistory::KeptRows& JobHistory::keptTrainingRows(const ResultRow& job, TrainingMode mode,
                                                         int limit) {
  const bool full = mode == TrainingMode::kFull;
  KeptByLimit& byLimit =
      (full ? fullSets_ : reducedSets_)[keyOf(job, full ? kFullSetFields : kReducedSetFields)];
  const auto found = byLimit.find(limit);
  if (found != byLimit.end()) return found->second;

  QueryResult read;
  {
    const StatementCache::Use use = statements_.use(full ? kFullTrainingSql : kReducedTrainingSql);
    Statement& statement = use.statement();
    int next = bindFields(statement, job, kPolicyFields);
    if (full) next = bindFields(statement, job, {"DESTINATION_STORAGE_NAME"}, next);
    statement.bindText(next++, job.text("ASSET_ID"));
    if (full) statement.bindInt(next++, kHistoryMode);
    statement.bindInt(next, limit);
    database_.query(statement, read);
  }
  KeptRows kept;
  kept.rows.reserve(read.size());
  for (const ResultRow& row : read) {
    KeptRow keptRow;
    if (!keptRowOf(row, mode, keptRow)) kept.ordered = false;
    if (!kept.rows.empty() && !comesBefore(kept.rows.back(), keptRow)) kept.ordered = false;
    kept.rows.push_back(std::move(keptRow));
  }
  return byLimit.emplace(limit, std::move(kept)).first->second;
}

bool JobHistory::keptRowOf(const ResultRow& row, TrainingMode mode, KeptRow& kept) {
  for (const std::string& column : trainingColumns(mode)) {
    kept.texts += row.text(column);
    kept.texts += '\0';
  }
  kept.storage = row.text("DESTINATION_STORAGE_NAME");
  return readInteger(row.text("KEPT_ROWID"), kept.rowid) &&
         readInteger(row.text("BACKUP_TIME"), kept.backupTime) &&
         readInteger(row.text("STREAM_NUMBER"), kept.stream) &&
         readInteger(row.text("MODE"), kept.mode) &&
         readInteger(row.text("USER_IDENTIFIED_CLUSTER"), kept.mark);
}

bool JobHistory::comesBefore(const KeptRow& a, const KeptRow& b) {
  // Newest first; rows of one BACKUP_TIME in the order of the read indexes' later columns
  // (a full set shares its storage and mode), then by rowid.
  if (a.backupTime != b.backupTime) return a.backupTime > b.backupTime;
  if (a.storage != b.storage) return a.storage < b.storage;
  if (a.stream != b.stream) return a.stream < b.stream;
  if (a.mode != b.mode) return a.mode < b.mode;
  if (a.mark != b.mark) return a.mark < b.mark;
  return a.rowid < b.rowid;
}

void JobHistory::appendRows(const KeptRows& kept, TrainingMode mode, QueryResult& rows) {
  const std::vector<std::string>& columns = trainingColumns(mode);
  rows.reserve(rows.size() + kept.rows.size());
  for (const KeptRow& keptRow : kept.rows) {
    ResultRow row;
    row.reserve(columns.size());
    const char* text = keptRow.texts.c_str();
    for (const std::string& column : columns) {
      const std::size_t length = std::strlen(text);
      row.set(column, FieldValue(std::string(text, length)));
      text += length + 1;
    }
    rows.push_back(std::move(row));
  }
}

int JobHistory::lastBackupTime(const ResultRow& job, TrainingMode mode) {
  const bool full = mode == TrainingMode::kFull;
  const StatementCache::Use use = statements_.use(full ? kLastBackupSql : kReducedLastBackupSql);
  Statement& statement = use.statement();
  int next = bindFields(statement, job, kPolicyFields);
  if (full) statement.bindText(next++, job.text("DESTINATION_STORAGE_NAME"));
  statement.bindText(next, job.text("ASSET_ID"));
  try {
    QueryResult rows;
    database_.query(statement, rows);
    if (rows.empty()) return -1;
    return rows.front().asInt("MAX(BACKUP_TIME)");
  } catch (...) {
    logMessage(kLogFailure, kDetectionLogCategory,
               "Could not get last known backup time for client - %s, policy - %s.",
               job.text("CLIENT").c_str(), job.text("POLICY").c_str());
    return -1;
  }
}

const std::vector<double>& JobHistory::peerDedupRates(const ResultRow& job) {
  dropCopiesIfStale();
  const std::string key = keyOf(job, kPeerFields);
  const auto found = peerRates_.find(key);
  if (found != peerRates_.end()) return found->second.rates;

  KeptRates kept;
  const StatementCache::Use use = statements_.use(kPeerRatesSql);
  Statement& statement = use.statement();
  bindFields(statement, job, kPeerFields);
  for (;;) {
    const int result = sqlite3_step(statement.handle());
    if (result == SQLITE_DONE) break;
    if (result != SQLITE_ROW) {
      throw sqlite_exception("sqlite query execution failed.", result, statement.connection());
    }
    const std::int64_t rowid = sqlite3_column_int64(statement.handle(), 0);
    if (!kept.rowids.empty() && rowid <= kept.rowids.back()) kept.ordered = false;
    kept.rowids.push_back(rowid);
    kept.rates.push_back(columnAsTextDouble(statement.handle(), 1));
  }
  return peerRates_.emplace(key, std::move(kept)).first->second.rates;
}

void JobHistory::beforeMove(const std::string& uniqueKey) {
  if (keepsNothing()) return;
  dropCopiesIfStale();
  if (keepsNothing()) return;
  QueryResult rows;
  movedRow(uniqueKey, rows);
  if (rows.empty()) return;
  // The replaced row leaves its place: the copies it was in are read again when needed.
  const ResultRow& replaced = rows.front();
  fullSets_.erase(keyOf(replaced, kFullSetFields));
  reducedSets_.erase(keyOf(replaced, kReducedSetFields));
  peerRates_.erase(keyOf(replaced, kPeerFields));
}

void JobHistory::afterMove(const std::string& uniqueKey) {
  if (keepsNothing()) return;
  QueryResult rows;
  movedRow(uniqueKey, rows);
  if (rows.empty()) return;
  const ResultRow& row = rows.front();
  if (row.text("MODE") == std::to_string(kHistoryMode)) {
    placeRow(row, TrainingMode::kFull, fullSets_);
  }
  placeRow(row, TrainingMode::kReduced, reducedSets_);
  // The move's own writes are in the copies now.
  seenHistoryWrites_ = database_.rowWrites(kHistoryTable);
  const auto peers = peerRates_.find(keyOf(row, kPeerFields));
  if (peers == peerRates_.end()) return;
  KeptRates& kept = peers->second;
  std::int64_t rowid = 0;
  if (kept.ordered && readInteger(row.text("KEPT_ROWID"), rowid) &&
      (kept.rowids.empty() || rowid > kept.rowids.back())) {
    kept.rowids.push_back(rowid);
    kept.rates.push_back(row.asDouble("DEDUP_RATE"));
  } else {
    peerRates_.erase(peers);
  }
}

void JobHistory::movedRow(const std::string& uniqueKey, QueryResult& rows) {
  const StatementCache::Use use = statements_.use(kMovedRowSql);
  Statement& statement = use.statement();
  statement.bindText(1, uniqueKey);
  database_.query(statement, rows);
}

void JobHistory::placeRow(const ResultRow& row, TrainingMode mode,
                          std::unordered_map<std::string, KeptByLimit>& sets) {
  const auto found =
      sets.find(keyOf(row, mode == TrainingMode::kFull ? kFullSetFields : kReducedSetFields));
  if (found == sets.end()) return;
  KeptRow kept;
  const bool placeable = keptRowOf(row, mode, kept);
  KeptByLimit& byLimit = found->second;
  for (auto list = byLimit.begin(); list != byLimit.end();) {
    if (!placeable || !list->second.ordered) {
      list = byLimit.erase(list);
      continue;
    }
    std::vector<KeptRow>& rows = list->second.rows;
    const int limit = list->first;  // a negative LIMIT reads every row
    const auto position = std::upper_bound(rows.begin(), rows.end(), kept, comesBefore);
    const bool full = limit >= 0 && rows.size() >= static_cast<std::size_t>(limit);
    if (!(full && position == rows.end())) {
      rows.insert(position, kept);
      if (limit >= 0 && rows.size() > static_cast<std::size_t>(limit)) rows.pop_back();
    }
    ++list;
  }
}

bool JobHistory::keepsNothing() const {
  return fullSets_.empty() && reducedSets_.empty() && peerRates_.empty();
}

void JobHistory::dropCopiesIfStale() {
  std::int64_t version = 0;
  {
    const StatementCache::Use use = statements_.use(kDataVersionSql);
    QueryResult rows;
    database_.query(use.statement(), rows);
    if (!rows.empty()) version = std::atoll(rows.front().text("data_version").c_str());
  }
  const std::uint64_t undone = database_.undoCount();
  const std::uint64_t written = database_.rowWrites(kHistoryTable);
  if (version == seenDataVersion_ && undone == seenUndoCount_ && written == seenHistoryWrites_) {
    return;
  }
  fullSets_.clear();
  reducedSets_.clear();
  peerRates_.clear();
  seenDataVersion_ = version;
  seenUndoCount_ = undone;
  seenHistoryWrites_ = written;
}

bool JobHistory::hasDedupFeedback(const ResultRow& job) {
  const StatementCache::Use use = statements_.use(kDedupFeedbackSql);
  Statement& statement = use.statement();
  const int next = bindFields(
      statement, job, {"CLIENT", "POLICY", "POLICY_TYPE", "SCHEDULE_TYPE", "SCHEDULE_NAME"});
  statement.bindInt(next, kDedupFeedback);
  QueryResult rows;
  database_.query(statement, rows);
  return firstCountIsNonZero(rows, "COUNT(*)");
}

bool JobHistory::isFarFromConfirmedJobs(const QueryResult& rows, const FeatureMatrix& matrix,
                                        double threshold, const DbscanClusterer& clusterer) const {
  constexpr int kConfirmedJob = 1;
  // Training row i is matrix row i + 1; a matrix without such a row has nothing
  // to compare.
  const std::size_t comparable = matrix.empty() ? 0 : std::min(rows.size(), matrix.size() - 1);
  for (std::size_t i = 0; i < comparable; ++i) {
    if (rows[i].asInt("USER_IDENTIFIED_CLUSTER") != kConfirmedJob) continue;
    if (clusterer.euclideanDistance(matrix[0], matrix[i + 1]) <= threshold) return false;
  }
  return true;
}

}  // namespace sfad
