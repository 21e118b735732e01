// The reads of a job's training history: how much history its group needs, which rows
// train it, and the checks against the group's history.
#include "detection/JobHistory.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>

#include "detection/DiagnosticLog.h"
#include "detection/GroupFields.h"
#include "intake/JobRecord.h"
#include "storage/ColumnNumber.h"
#include "storage/Statement.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::columnAsTextDouble;
using Quorvan::Stowfleet::UsageReporting::columnAsTextInt;
using Quorvan::Stowfleet::UsageReporting::QueryResult;
using Quorvan::Stowfleet::UsageReporting::ResultRow;
using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;
using Quorvan::Stowfleet::UsageReporting::StatementCache;

namespace {

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

// The training sets. Each read selects the five training columns and the mark, then the
// columns that place a row among the others (rowid, BACKUP_TIME, DESTINATION_STORAGE_NAME,
// STREAM_NUMBER, MODE): rows of one BACKUP_TIME come in the order of the read index's
// later columns, ties broken by rowid. The reduced set uses NUM_FILES, IMAGE_SIZE,
// KB_TRANSFERRED and the mark only.
#define SFAD_KEPT_COLUMNS                                                                    \
  "NUM_FILES, IMAGE_SIZE, KB_TRANSFERRED, TOTAL_TIME, DEDUP_RATE, USER_IDENTIFIED_CLUSTER, " \
  "rowid, BACKUP_TIME, DESTINATION_STORAGE_NAME, STREAM_NUMBER, MODE"
constexpr const char* kFullTrainingSql =
    "SELECT " SFAD_KEPT_COLUMNS
    " FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND POLICY_TYPE = ? AND APP_TYPE = ? AND "
    "SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND DESTINATION_STORAGE_NAME = ? AND ASSET_ID = ? "
    "AND MODE = ? ORDER BY BACKUP_TIME DESC LIMIT ?";

constexpr const char* kReducedTrainingSql =
    "SELECT " SFAD_KEPT_COLUMNS
    " FROM HIST_DATA WHERE CLIENT = ? AND POLICY = ? AND POLICY_TYPE = ? AND APP_TYPE = ? AND "
    "SCHEDULE_TYPE = ? AND SCHEDULE_NAME = ? AND ASSET_ID = ? ORDER BY BACKUP_TIME DESC LIMIT ?";

// The row a move writes or replaces: the same columns, then its group's.
constexpr const char* kMovedRowSql =
    "SELECT " SFAD_KEPT_COLUMNS
    ", CLIENT, POLICY, POLICY_TYPE, APP_TYPE, SCHEDULE_TYPE, SCHEDULE_NAME, ASSET_ID FROM "
    "HIST_DATA WHERE UNIQUE_KEY = ?";
#undef SFAD_KEPT_COLUMNS

// Positions of the columns after the training columns and the mark.
constexpr int kMarkColumn = 5;
constexpr int kRowidColumn = 6;
constexpr int kBackupTimeColumn = 7;
constexpr int kStorageColumn = 8;
constexpr int kStreamColumn = 9;
constexpr int kModeColumn = 10;
constexpr int kFirstGroupColumn = 11;
// The group columns of the moved row, in the order it selects them.
constexpr const char* kMovedGroupColumns[] = {
    "CLIENT", "POLICY", "POLICY_TYPE", "APP_TYPE", "SCHEDULE_TYPE", "SCHEDULE_NAME", "ASSET_ID"};
// Training columns a reduced read leaves out: they read as 0.0.
constexpr int kFirstFullOnlyColumn = 3;

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
constexpr ColumnList kFullSetFields = {"CLIENT",
                                       "POLICY",
                                       "POLICY_TYPE",
                                       "APP_TYPE",
                                       "SCHEDULE_TYPE",
                                       "SCHEDULE_NAME",
                                       "DESTINATION_STORAGE_NAME",
                                       "ASSET_ID"};
constexpr ColumnList kReducedSetFields = {
    "CLIENT", "POLICY", "POLICY_TYPE", "APP_TYPE", "SCHEDULE_TYPE", "SCHEDULE_NAME", "ASSET_ID"};
constexpr ColumnList kPeerFields = {"POLICY_TYPE", "SCHEDULE_TYPE", "DESTINATION_STORAGE_NAME"};

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

// The column as an int when SQLite holds it as an integer of that range.
bool integerColumn(sqlite3_stmt* statement, int column, int& value) {
  if (sqlite3_column_type(statement, column) != SQLITE_INTEGER) return false;
  const sqlite3_int64 stored = sqlite3_column_int64(statement, column);
  if (stored < INT_MIN || stored > INT_MAX) return false;
  value = static_cast<int>(stored);
  return true;
}

std::string columnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text ? text : "";
}

// Steps the statement to its end, handing each row to `read`; a failed step raises as a
// failed query does.
template <typename Read>
void stepRows(Statement& statement, Read read) {
  for (;;) {
    const int result = sqlite3_step(statement.handle());
    if (result == SQLITE_DONE) return;
    if (result != SQLITE_ROW) {
      throw sqlite_exception("sqlite query execution failed.", result, statement.connection());
    }
    read(statement.handle());
  }
}

// An aggregate query yields one row; a NULL aggregate reads as 0.
bool firstCountIsNonZero(const QueryResult& rows, const char* column) {
  return !rows.empty() && rows.front().asInt(column) != 0;
}

}  // namespace

JobHistory::JobHistory(SQLiteDatabase& database) : database_(database) {}

bool JobHistory::holdsKey(const std::string& uniqueKey) {
  const StatementCache::Use use = statements_.use(keyCountSql(JobTable::History));
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

TrainingMode JobHistory::trainingSet(const ResultRow& job, TrainingRows& rows, int required,
                                     int limit) {
  dropCopiesIfStale();
  const KeptRows& full = keptTrainingRows(job, TrainingMode::kFull, limit);
  if (static_cast<std::int64_t>(full.rows.size()) >= required) {
    appendRows(full, rows);
    return TrainingMode::kFull;
  }
  rows.clear();
  appendRows(keptTrainingRows(job, TrainingMode::kReduced, limit), rows);
  return TrainingMode::kReduced;
}

const JobHistory::KeptRows& JobHistory::keptTrainingRows(const ResultRow& job, TrainingMode mode,
                                                         int limit) {
  const bool full = mode == TrainingMode::kFull;
  KeptByLimit& byLimit =
      (full ? fullSets_ : reducedSets_)[keyOf(job, full ? kFullSetFields : kReducedSetFields)];
  const auto found = byLimit.find(limit);
  if (found != byLimit.end()) return found->second;

  KeptRows kept;
  const StatementCache::Use use = statements_.use(full ? kFullTrainingSql : kReducedTrainingSql);
  Statement& statement = use.statement();
  int next = bindFields(statement, job, kPolicyFields);
  if (full) next = bindFields(statement, job, {"DESTINATION_STORAGE_NAME"}, next);
  statement.bindText(next++, job.text("ASSET_ID"));
  if (full) statement.bindInt(next++, kHistoryMode);
  statement.bindInt(next, limit);
  stepRows(statement, [&](sqlite3_stmt* row) {
    KeptRow keptRow;
    if (!readKeptRow(row, mode, keptRow)) kept.ordered = false;
    if (!kept.rows.empty() && !comesBefore(kept.rows.back(), keptRow)) kept.ordered = false;
    kept.rows.push_back(keptRow);
  });
  // Room for one row more: a row placed into a full set pushes the oldest out.
  kept.rows.reserve(kept.rows.size() + 1);
  return byLimit.emplace(limit, std::move(kept)).first->second;
}

bool JobHistory::readKeptRow(sqlite3_stmt* statement, TrainingMode mode, KeptRow& kept) {
  const int columns =
      mode == TrainingMode::kFull ? static_cast<int>(kTrainingColumnCount) : kFirstFullOnlyColumn;
  for (int column = 0; column < columns; ++column) {
    kept.row.values[static_cast<std::size_t>(column)] = columnAsTextDouble(statement, column);
  }
  kept.row.mark = columnAsTextInt(statement, kMarkColumn);
  kept.rowid = sqlite3_column_int64(statement, kRowidColumn);
  kept.storage = storageId(columnText(statement, kStorageColumn));
  int mark = 0;
  int backupTime = 0;
  const bool ordered = integerColumn(statement, kMarkColumn, mark) &&
                       integerColumn(statement, kBackupTimeColumn, backupTime) &&
                       integerColumn(statement, kStreamColumn, kept.stream) &&
                       integerColumn(statement, kModeColumn, kept.mode);
  kept.backupTime = backupTime;
  return ordered;
}

std::uint32_t JobHistory::storageId(const std::string& storage) {
  const auto found = storageIds_.find(storage);
  if (found != storageIds_.end()) return found->second;
  const auto id = static_cast<std::uint32_t>(storageNames_.size());
  storageNames_.push_back(storage);
  storageIds_.emplace(storage, id);
  return id;
}

bool JobHistory::comesBefore(const KeptRow& a, const KeptRow& b) const {
  // Newest first; rows of one BACKUP_TIME in the order of the read index's later columns
  // (a full set shares its storage and mode), then by rowid.
  if (a.backupTime != b.backupTime) return a.backupTime > b.backupTime;
  if (a.storage != b.storage) return storageNames_[a.storage] < storageNames_[b.storage];
  if (a.stream != b.stream) return a.stream < b.stream;
  if (a.mode != b.mode) return a.mode < b.mode;
  if (a.row.mark != b.row.mark) return a.row.mark < b.row.mark;
  return a.rowid < b.rowid;
}

void JobHistory::appendRows(const KeptRows& kept, TrainingRows& rows) {
  rows.reserve(rows.size() + kept.rows.size());
  for (const KeptRow& keptRow : kept.rows) rows.push_back(keptRow.row);
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
  stepRows(statement, [&kept](sqlite3_stmt* row) {
    const std::int64_t rowid = sqlite3_column_int64(row, 0);
    if (!kept.rates.empty() && rowid <= kept.lastRowid) kept.ordered = false;
    kept.lastRowid = rowid;
    kept.rates.push_back(columnAsTextDouble(row, 1));
  });
  return peerRates_.emplace(key, std::move(kept)).first->second.rates;
}

void JobHistory::beforeMove(const std::string& uniqueKey) {
  if (keepsNothing()) return;
  dropCopiesIfStale();
  if (keepsNothing()) return;
  // The replaced row leaves its place: the copies it was in are read again when needed.
  readMovedRow(uniqueKey, [this](sqlite3_stmt*, const ResultRow& group) {
    fullSets_.erase(keyOf(group, kFullSetFields));
    reducedSets_.erase(keyOf(group, kReducedSetFields));
    peerRates_.erase(keyOf(group, kPeerFields));
  });
}

void JobHistory::afterMove(const std::string& uniqueKey) {
  if (keepsNothing()) return;
  readMovedRow(uniqueKey, [this](sqlite3_stmt* statement, const ResultRow& group) {
    int mode = 0;
    if (integerColumn(statement, kModeColumn, mode) && mode == kHistoryMode) {
      placeRow(statement, group, TrainingMode::kFull, fullSets_);
    }
    placeRow(statement, group, TrainingMode::kReduced, reducedSets_);
    const auto peers = peerRates_.find(keyOf(group, kPeerFields));
    if (peers == peerRates_.end()) return;
    KeptRates& kept = peers->second;
    const std::int64_t rowid = sqlite3_column_int64(statement, kRowidColumn);
    if (kept.ordered && (kept.rates.empty() || rowid > kept.lastRowid)) {
      kept.lastRowid = rowid;
      kept.rates.push_back(columnAsTextDouble(statement, trainingColumn("DEDUP_RATE")));
    } else {
      peerRates_.erase(peers);
    }
  });
  // The move's own writes are in the copies now.
  seenHistoryWrites_ = database_.rowWrites(kHistoryTable);
}

template <typename Use>
void JobHistory::readMovedRow(const std::string& uniqueKey, Use use) {
  const StatementCache::Use statementUse = statements_.use(kMovedRowSql);
  Statement& statement = statementUse.statement();
  statement.bindText(1, uniqueKey);
  stepRows(statement, [&](sqlite3_stmt* row) {
    ResultRow group;
    group.set("DESTINATION_STORAGE_NAME", columnText(row, kStorageColumn));
    int column = kFirstGroupColumn;
    for (const char* name : kMovedGroupColumns) group.set(name, columnText(row, column++));
    use(row, group);
  });
}

void JobHistory::placeRow(sqlite3_stmt* statement, const ResultRow& group, TrainingMode mode,
                          std::unordered_map<std::string, KeptByLimit>& sets) {
  const auto found =
      sets.find(keyOf(group, mode == TrainingMode::kFull ? kFullSetFields : kReducedSetFields));
  if (found == sets.end()) return;
  KeptRow kept;
  const bool placeable = readKeptRow(statement, mode, kept);
  KeptByLimit& byLimit = found->second;
  const auto before = [this](const KeptRow& a, const KeptRow& b) { return comesBefore(a, b); };
  for (auto list = byLimit.begin(); list != byLimit.end();) {
    if (!placeable || !list->second.ordered) {
      list = byLimit.erase(list);
      continue;
    }
    std::vector<KeptRow>& rows = list->second.rows;
    const int limit = list->first;  // a negative LIMIT reads every row
    const auto position = std::upper_bound(rows.begin(), rows.end(), kept, before);
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

bool JobHistory::isFarFromConfirmedJobs(const TrainingRows& rows, const FeatureMatrix& matrix,
                                        double threshold, const DbscanClusterer& clusterer) const {
  const double nearest = nearestConfirmedDistance(rows, matrix, clusterer);
  return nearest < 0.0 || nearest > threshold;
}

double JobHistory::nearestConfirmedDistance(const TrainingRows& rows, const FeatureMatrix& matrix,
                                            const DbscanClusterer& clusterer) const {
  constexpr int kConfirmedJob = 1;
  // Training row i is matrix row i + 1; a matrix without such a row has nothing
  // to compare.
  const std::size_t comparable = matrix.empty() ? 0 : std::min(rows.size(), matrix.size() - 1);
  double nearest = -1.0;
  for (std::size_t i = 0; i < comparable; ++i) {
    if (rows[i].mark != kConfirmedJob) continue;
    const double distance = clusterer.euclideanDistance(matrix[0], matrix[i + 1]);
    if (nearest < 0.0 || distance < nearest) nearest = distance;
  }
  return nearest;
}

}  // namespace sfad
