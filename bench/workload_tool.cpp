// Whole-request benchmark of detect: generates the standard workload (job groups with a
// year of daily history, stored day by day as daily ingestion does, multi-stream groups,
// and two rounds of pending jobs with about 1% outliers), runs the built binary on every
// request and prints wall time, time per pending job and peak memory of each detect.
// Besides it, three shapes of history, each small and large, tell whether judging a job
// costs more as the history grows:
//   depth  100 groups with 365 history rows each vs 7,300 (a job every 72 minutes for a
//          year), 5 pending jobs per group;
//   width  500 assets with 365 rows each, each in its own policy vs all under one
//          client, policy and schedule, one pending job per asset;
//   peers  20 new groups whose full backups the deduplication rule reports, while their
//          policy type, schedule type and storage hold the depth history.
// Each shape prints the time per judged job of both sizes and their ratio.
//
// Usage: workload_tool [--binary PATH] [--dir DIR] [--label NAME] [--repeat N]
//                      [--groups N] [--stream-groups N] [--seed N] [--shape NAME]
// --shape is standard (the default), depth, width, peers, insert or all (the five in turn).
// insert times insert_data of one file of 100,000 history points into a fresh database.
// With --dir every generated history database is kept in DIR and reused by later runs
// with the same workload; the outputs and database of each run stay in DIR/<label>/
// (the standard workload) and DIR/<label>/<shape>-<size>/. A history database is stored
// as one made before the read index of the history existed; each run brings its copy
// up to date with initialize_detection of the binary under test, timed apart.
// --stream-groups 0 gives the plain large request: 1,000 groups with a year of daily
// history and 10 new jobs per group.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/Schema.h"

namespace {

namespace fs = std::filesystem;
namespace UsageReporting = Quorvan::Stowfleet::UsageReporting;

struct Workload {
  int groups = 1000;             // ordinary job groups, one job a day each
  int days = 365;                // days of history
  int streamGroups = 10;         // multi-stream groups (ASSET_ID "NA")
  int streams = 10;              // streams 0 to 9 of each
  int streamHistoryRows = 3000;  // history rows of each multi-stream group
  int pendingPerGroup = 10;      // pending jobs of every group in each detect request
  double outlierShare = 0.01;    // share of pending jobs far outside their group's range
  unsigned seed = 20261210;

  std::string stamp() const {
    std::ostringstream text;
    text << groups << " " << days << " " << streamGroups << " " << streams << " "
         << streamHistoryRows << " " << pendingPerGroup << " " << outlierShare << " " << seed;
    return text.str();
  }
  int pendingPerRequest() const { return (groups + streamGroups) * pendingPerGroup; }
};

// One shape of history at one size: its groups, how many rows each holds and how far
// apart, whether they share one client, policy and schedule (telling them apart by
// asset), and what the pending jobs are.
struct Shape {
  std::string name;  // "<shape>-<size>"
  int groups;
  int rowsPerGroup;
  int interval;       // seconds between two history rows of a group
  bool sharedPolicy;  // one client, policy and schedule; one asset per group
  int pendingPerGroup;
  int dedupReports;  // new groups with one full backup the deduplication rule reports
  unsigned seed;

  // The history alone: shapes of the same history share one database.
  std::string historyStamp() const {
    std::ostringstream text;
    text << groups << " " << rowsPerGroup << " " << interval << " " << sharedPolicy << " " << seed;
    return text.str();
  }
  std::string historyFolder() const {
    return "history-" + std::to_string(groups) + "x" + std::to_string(rowsPerGroup) + "-" +
           std::to_string(interval) + (sharedPolicy ? "-shared" : "-own");
  }
  int pendingJobs() const { return dedupReports > 0 ? dedupReports : groups * pendingPerGroup; }
};

constexpr int kFirstBackupTime = 1700000000;
constexpr int kSecondsPerDay = 86400;
constexpr int kPointsPerDataFile = 100000;  // history of the shapes is stored in such chunks
constexpr double kReportedDedupRate = 5.0;  // far below the shapes' threshold
constexpr double kDedupThreshold = 30.0;
constexpr const char* kFields =
    "JOB_ID,BACKUP_TIME,IMAGE_SIZE,NUM_FILES,DATA_TRANSFERRED,TOTAL_TIME,DEDUP_RATE,"
    "STREAM_NUMBER";

// The usual size of one group's jobs, from which every job of the group scatters.
struct GroupProfile {
  double imageSize;  // kilobytes
  double files;
  double transferred;  // kilobytes
  double seconds;
  double dedupRate;
};

struct Job {
  long jobId;
  int backupTime;
  double imageSize;
  int files;
  double transferred;
  int seconds;
  double dedupRate;
  int stream;
};

// Deterministic job values: one generator for the whole workload, consumed in file order.
class JobSource {
 public:
  JobSource(unsigned seed, int profiles) : random_(seed) {
    std::uniform_real_distribution<double> scale(0.5, 4.0);
    for (int i = 0; i < profiles; ++i) {
      const double s = scale(random_);
      profiles_.push_back(
          GroupProfile{5.0e6 * s, 2.0e5 * s, 1.5e6 * s, 1800.0 * s, 60.0 + 10.0 * s});
    }
  }

  // A typical job of the group, or with the given chance one far outside its range.
  Job job(int profile, int backupTime, int stream, double outlierChance) {
    const GroupProfile& usual = profiles_[profile];
    const bool outlier = std::uniform_real_distribution<double>(0, 1)(random_) < outlierChance;
    const double factor = outlier ? 8.0 : 1.0;
    Job job;
    job.jobId = nextJobId_++;
    job.backupTime = backupTime;
    job.imageSize = std::round(usual.imageSize * factor * spread() * 100.0) / 100.0;
    job.files = static_cast<int>(usual.files * factor * spread());
    job.transferred = std::round(usual.transferred * factor * spread() * 100.0) / 100.0;
    job.seconds = static_cast<int>(usual.seconds * factor * spread());
    job.dedupRate = std::round(usual.dedupRate * spread() * 100.0) / 100.0;
    job.stream = stream;
    return job;
  }

 private:
  double spread() { return spread_(random_); }

  std::mt19937 random_;
  std::lognormal_distribution<double> spread_{0.0, 0.1};
  std::vector<GroupProfile> profiles_;
  long nextJobId_ = 100000;
};

// The fields that name a job group in a data file; an empty asset is left out ("NA").
struct GroupKey {
  std::string client;
  std::string policy;
  std::string storage;
  std::string asset;
};

// The standard workload's groups: a client each, four storages; multi-stream groups
// have no asset.
GroupKey standardGroup(int index, bool multiStream) {
  return {"client-" + std::to_string(index), "daily-files", "pool-" + std::to_string(index % 4),
          multiStream ? "" : "asset-" + std::to_string(index)};
}

GroupKey shapeGroup(const Shape& shape, const std::string& prefix, int index) {
  const std::string n = std::to_string(index);
  if (shape.sharedPolicy) return {prefix + "hypervisor", "vm-guests", "pool-0", "vm-" + n};
  return {prefix + "client-" + n, "policy-" + n, "pool-0", "vm-" + n};
}

// One data file: group objects of the fixed fields, each with its data points.
class DataFileWriter {
 public:
  DataFileWriter(const fs::path& path, const char* operation) : out_(path) {
    out_ << "{\"operation\": \"" << operation << "\", \"data_points_fields\": \"" << kFields
         << "\", \"data\": [";
  }
  ~DataFileWriter() { out_ << "]}\n"; }

  void group(const GroupKey& key, const std::vector<Job>& jobs) {
    out_ << (groups_++ ? ", " : "") << "{\"client\": \"" << key.client << "\", \"policy\": \""
         << key.policy
         << "\", \"policy_type\": \"Standard\", \"schedule_type\": \"FULL\", "
            "\"schedule_name\": \"nightly\", \"destination_storage\": \""
         << key.storage << "\"";
    if (!key.asset.empty()) out_ << ", \"asset_id\": \"" << key.asset << "\"";
    out_ << ", \"data_points\": [";
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      const Job& job = jobs[i];
      char point[256];
      std::snprintf(point, sizeof point, "%s[\"%ld\", %d, %.2f, %d, %.2f, %d, %.2f, %d]",
                    i ? ", " : "", job.jobId, job.backupTime, job.imageSize, job.files,
                    job.transferred, job.seconds, job.dedupRate, job.stream);
      out_ << point;
    }
    out_ << "]}";
  }

 private:
  std::ofstream out_;
  int groups_ = 0;
};

// Backup time of an ordinary group's job on a day; groups back up at different minutes.
int dailyBackupTime(int group, int day) {
  return kFirstBackupTime + day * kSecondsPerDay + (group * 37) % 3600;
}

// The multi-stream group's history rows that fall on a day, spread evenly over the year.
std::vector<Job> streamHistoryOfDay(JobSource& source, const Workload& w, int group, int day) {
  std::vector<Job> jobs;
  for (int row = 0; row < w.streamHistoryRows; ++row) {
    if (static_cast<long>(row) * w.days / w.streamHistoryRows != day) continue;
    const int time = kFirstBackupTime + day * kSecondsPerDay + 4000 + row % 500 * 60;
    jobs.push_back(source.job(w.groups + group, time, row % w.streams, 0.0));
  }
  return jobs;
}

void writeHistoryDay(JobSource& source, const Workload& w, int day, const fs::path& path) {
  DataFileWriter file(path, "TRAINING_DATA");
  for (int group = 0; group < w.groups; ++group) {
    file.group(standardGroup(group, false),
               {source.job(group, dailyBackupTime(group, day), 0, 0.005)});
  }
  for (int group = 0; group < w.streamGroups; ++group) {
    const std::vector<Job> jobs = streamHistoryOfDay(source, w, group, day);
    if (!jobs.empty()) file.group(standardGroup(w.groups + group, true), jobs);
  }
}

// Pending jobs of one request: the days after `firstDay`, day by day across all groups.
void writePending(JobSource& source, const Workload& w, int firstDay, const fs::path& path) {
  DataFileWriter file(path, "DETECTION_DATA");
  for (int k = 0; k < w.pendingPerGroup; ++k) {
    const int day = firstDay + k;
    for (int group = 0; group < w.groups; ++group) {
      file.group(standardGroup(group, false),
                 {source.job(group, dailyBackupTime(group, day), 0, w.outlierShare)});
    }
    for (int group = 0; group < w.streamGroups; ++group) {
      const int time = kFirstBackupTime + day * kSecondsPerDay + 4000 + k * 60;
      file.group(standardGroup(w.groups + group, true),
                 {source.job(w.groups + group, time, k % w.streams, w.outlierShare)});
    }
  }
}

// Backup time of a shape's row (history rows first, pending ones after); groups back up
// at different minutes within the interval.
int shapeBackupTime(const Shape& shape, int group, int row) {
  return kFirstBackupTime + row * shape.interval + (group * 37) % shape.interval;
}

void writeConfig(const fs::path& path) {
  std::ofstream out(path);
  out << "[ANOMALY_DETECTION_SENSITIVITY]\nSENSITIVITY_PERCENTAGE=0\n"
         "[ANOMALY_MODEL_SETTINGS]\nMIN_OBSERVATIONS_FOR_TRAINING=30\n"
         "MAX_OBSERVATIONS_FOR_TRAINING=3000\nDAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY=365\n";
}

struct RequestFigures {
  double wallSeconds = 0;
  double userSeconds = 0;
  double systemSeconds = 0;
  double peakMegabytes = 0;
};

double seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

// Runs one request of the binary with standard output sent to a file; raises when it
// does not exit with 0.
RequestFigures runRequest(const std::string& binary, const std::vector<std::string>& arguments,
                          const fs::path& output) {
  std::vector<char*> argv;
  std::string program = binary;
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::fflush(stdout);  // the child must not inherit buffered output
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    if (!freopen(output.c_str(), "w", stdout)) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) throw std::runtime_error("wait4 failed");
  RequestFigures figures;
  figures.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.userSeconds = seconds(usage.ru_utime);
  figures.systemSeconds = seconds(usage.ru_stime);
  figures.peakMegabytes = usage.ru_maxrss / 1024.0;  // kilobytes on Linux
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("request " + arguments[1] + " failed, status " +
                             std::to_string(status));
  }
  return figures;
}

RequestFigures insertData(const std::string& binary, const fs::path& database,
                          const fs::path& dataFile, const fs::path& dir) {
  return runRequest(
      binary, {"-post", "-action", "insert_data", "-database", database, "-data_file", dataFile},
      dir / "insert.out");
}

std::string loadAverage() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Anomalies in an output array: every details document names its detection type once.
int anomalyCount(const fs::path& output) {
  const std::string text = readFile(output);
  int count = 0;
  for (std::size_t at = text.find("\"DetectionType\""); at != std::string::npos;
       at = text.find("\"DetectionType\"", at + 1)) {
    ++count;
  }
  return count;
}

// Leaves the history database as one made before the read index of the history, with
// HIST_TABLE_INDEX as its only index of HIST_DATA besides SQLite's own, whichever binary
// stored the rows.
void keepOlderLayout(const fs::path& database) {
  UsageReporting::SQLiteDatabase db(database, UsageReporting::kDatabaseOpenFlags);
  UsageReporting::QueryResult indexes;
  db.query(
      "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'HIST_DATA' AND "
      "name <> 'HIST_TABLE_INDEX' AND name NOT LIKE 'sqlite_autoindex_%'",
      indexes);
  for (const UsageReporting::ResultRow& index : indexes) {
    db.execute("DROP INDEX \"" + index.text("name") + "\"");
  }
  db.execute(
      "CREATE INDEX IF NOT EXISTS HIST_TABLE_INDEX ON HIST_DATA (CLIENT, POLICY, POLICY_TYPE, "
      "SCHEDULE_TYPE, SCHEDULE_NAME, APP_TYPE, DESTINATION_STORAGE_NAME, ASSET_ID, "
      "STREAM_NUMBER, MODE, USER_IDENTIFIED_CLUSTER);");
}

// A history database kept in `dir` under `stamp`; answers whether it is there already,
// and otherwise starts a fresh one with initialize_detection.
bool reuseHistory(const std::string& binary, const fs::path& dir, const std::string& stamp) {
  fs::create_directories(dir);
  const fs::path database = dir / "history.db";
  if (fs::exists(database) && readFile(dir / "workload.txt") == stamp) return true;
  fs::remove(database);
  fs::remove(dir / "workload.txt");
  runRequest(binary, {"-post", "-action", "initialize_detection", "-database", database},
             dir / "init.out");
  return false;
}

void keepHistory(const fs::path& dir, const std::string& stamp, const RequestFigures& inserts,
                 int requests) {
  keepOlderLayout(dir / "history.db");
  std::ofstream(dir / "workload.txt") << stamp;
  std::printf("history %s: %d insert_data requests, %.1f s\n", dir.filename().c_str(), requests,
              inserts.wallSeconds);
}

// The history database of the standard workload, generated and stored day by day unless
// DIR already holds it for the same workload.
fs::path historyDatabase(const std::string& binary, const Workload& w, const fs::path& dir) {
  const fs::path database = dir / "history.db";
  if (reuseHistory(binary, dir, w.stamp())) return database;
  JobSource source(w.seed, w.groups + w.streamGroups);
  const fs::path dayFile = dir / "history-day.json";
  RequestFigures total;
  for (int day = 0; day < w.days; ++day) {
    writeHistoryDay(source, w, day, dayFile);
    total.wallSeconds += insertData(binary, database, dayFile, dir).wallSeconds;
  }
  // Pending jobs come from the same generator, after the history, so they are part of
  // the one deterministic workload.
  writePending(source, w, w.days, dir / "pending-1.json");
  writePending(source, w, w.days + w.pendingPerGroup, dir / "pending-2.json");
  fs::remove(dayFile);
  keepHistory(dir, w.stamp(), total, w.days);
  return database;
}

// A data file of history rows [first, last) of every group of the shape in turn.
void writeHistoryChunk(JobSource& source, const Shape& shape, int first, int last,
                       const fs::path& path) {
  DataFileWriter file(path, "TRAINING_DATA");
  for (int group = 0; group < shape.groups; ++group) {
    std::vector<Job> jobs;
    for (int row = first; row < last; ++row) {
      jobs.push_back(source.job(group, shapeBackupTime(shape, group, row), 0, 0.005));
    }
    file.group(shapeGroup(shape, "", group), jobs);
  }
}

// The history database of a shape, stored in data files of about kPointsPerDataFile
// points: a run of consecutive rows of every group in turn, as per-client batches come.
fs::path shapeHistory(const std::string& binary, const Shape& shape, const fs::path& dir) {
  const fs::path database = dir / "history.db";
  if (reuseHistory(binary, dir, shape.historyStamp())) return database;
  JobSource source(shape.seed, shape.groups);
  const int rowsPerFile = std::max(1, kPointsPerDataFile / shape.groups);
  const fs::path chunkFile = dir / "history-chunk.json";
  RequestFigures total;
  int requests = 0;
  for (int first = 0; first < shape.rowsPerGroup; first += rowsPerFile) {
    writeHistoryChunk(source, shape, first, std::min(shape.rowsPerGroup, first + rowsPerFile),
                      chunkFile);
    total.wallSeconds += insertData(binary, database, chunkFile, dir).wallSeconds;
    ++requests;
  }
  fs::remove(chunkFile);
  keepHistory(dir, shape.historyStamp(), total, requests);
  return database;
}

// The pending jobs of a shape: the rows after the history of every group, or one full
// backup of each new group with a deduplication rate far below the threshold.
void writeShapePending(const Shape& shape, const fs::path& path) {
  JobSource source(shape.seed + 1, shape.groups);
  DataFileWriter file(path, "DETECTION_DATA");
  for (int k = 0; k < shape.dedupReports; ++k) {
    Job job = source.job(k, shapeBackupTime(shape, k, shape.rowsPerGroup), 0, 0.0);
    job.dedupRate = kReportedDedupRate;
    file.group(shapeGroup(shape, "new-", k), {job});
  }
  for (int k = 0; k < shape.pendingPerGroup; ++k) {
    for (int group = 0; group < shape.groups; ++group) {
      const int time = shapeBackupTime(shape, group, shape.rowsPerGroup + k);
      file.group(shapeGroup(shape, "", group), {source.job(group, time, 0, 0.01)});
    }
  }
}

void printFigures(const char* name, const RequestFigures& f, int pending, int anomalies) {
  std::printf(
      "%s: wall %.2f s, %.3f ms per pending job (%d), peak RSS %.1f MB, user %.2f s, "
      "sys %.2f s, anomalies %d, load %s\n",
      name, f.wallSeconds, f.wallSeconds * 1000.0 / pending, pending, f.peakMegabytes,
      f.userSeconds, f.systemSeconds, anomalies, loadAverage().c_str());
  std::fflush(stdout);
}

// A fresh copy of the history database in the run's folder, brought up to date by the
// binary under test, with the standard configuration beside it.
fs::path prepareRun(const std::string& binary, const fs::path& history, const fs::path& runDir) {
  fs::create_directories(runDir);
  const fs::path database = runDir / "detection.db";
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(database.string() + suffix);
  fs::copy_file(history, database);
  writeConfig(runDir / "detection.ini");
  const RequestFigures init =
      runRequest(binary, {"-post", "-action", "initialize_detection", "-database", database},
                 runDir / "init.out");
  std::printf("initialize_detection on the copy: %.2f s, load %s\n", init.wallSeconds,
              loadAverage().c_str());
  return database;
}

// One detect request n of a run: pending-<n>.json from `dataDir`; prints its figures.
RequestFigures detect(const std::string& binary, const fs::path& dataDir, const fs::path& runDir,
                      int n, const std::string& name, int pending) {
  const std::string number = std::to_string(n);
  const fs::path output = runDir / ("anomalies-" + number + ".json");
  const RequestFigures figures =
      runRequest(binary,
                 {"-post", "-action", "detect", "-database", runDir / "detection.db", "-data_file",
                  dataDir / ("pending-" + number + ".json"), "-config_file",
                  runDir / "detection.ini", "-output_file", output},
                 runDir / ("detect-" + number + ".out"));
  printFigures(name.c_str(), figures, pending, anomalyCount(output));
  return figures;
}

// One run: a copy of the history database, the first detect (every group calibrated),
// then the second (models fresh) with the next pending jobs.
void runDetectRequests(const std::string& binary, const Workload& w, const fs::path& dir,
                       const fs::path& history, const fs::path& runDir) {
  prepareRun(binary, history, runDir);
  for (int request = 1; request <= 2; ++request) {
    detect(binary, dir, runDir, request, "detect " + std::to_string(request),
           w.pendingPerRequest());
  }
}

// The small and large variant of a shape.
std::pair<Shape, Shape> shapeVariants(const std::string& name, unsigned seed) {
  if (name == "depth" || name == "peers") {
    const bool peers = name == "peers";
    const Shape small{name + "-small", 100, 365, kSecondsPerDay, false, peers ? 0 : 5,
                      peers ? 20 : 0,  seed};
    Shape large = small;
    large.name = name + "-large";
    large.rowsPerGroup = 7300;
    large.interval = 4320;  // 72 minutes
    return {small, large};
  }
  if (name == "width") {
    const Shape small{"width-small", 500, 365, kSecondsPerDay, false, 1, 0, seed};
    Shape large = small;
    large.name = "width-large";
    large.sharedPolicy = true;
    return {small, large};
  }
  throw std::runtime_error("unknown shape " + name);
}

// Time per judged job of a shape's variant: history, a copy brought up to date, one
// detect of the pending jobs.
double runShape(const std::string& binary, const Shape& shape, const fs::path& dir,
                const fs::path& runDir) {
  // Depth and peers share their history; the pending jobs differ.
  const fs::path history = shapeHistory(binary, shape, dir / shape.historyFolder());
  const fs::path dataDir = dir / shape.name;
  fs::create_directories(dataDir);
  writeShapePending(shape, dataDir / "pending-1.json");
  prepareRun(binary, history, runDir);
  if (shape.dedupReports > 0) {
    UsageReporting::SQLiteDatabase db(runDir / "detection.db", UsageReporting::kDatabaseOpenFlags);
    db.execute("INSERT OR REPLACE INTO DEDUP_THRESHOLD VALUES ('Standard', " +
               std::to_string(kDedupThreshold) + ")");
  }
  const RequestFigures figures =
      detect(binary, dataDir, runDir, 1, "detect " + shape.name, shape.pendingJobs());
  return figures.wallSeconds * 1000.0 / shape.pendingJobs();
}

void runShapes(const std::string& binary, const std::string& name, unsigned seed,
               const fs::path& dir, const fs::path& labelDir) {
  const auto [small, large] = shapeVariants(name, seed);
  const double smallMs = runShape(binary, small, dir, labelDir / small.name);
  const double largeMs = runShape(binary, large, dir, labelDir / large.name);
  std::printf("shape %s: small %.3f ms per judged job, large %.3f ms, large/small %.2f\n",
              name.c_str(), smallMs, largeMs, largeMs / smallMs);
  std::fflush(stdout);
}

// What storing history costs: one insert_data request of kPointsPerDataFile points (100
// groups of 1,000 rows) into a fresh database made by the binary under test.
void runInsert(const std::string& binary, unsigned seed, const fs::path& dir,
               const fs::path& runDir) {
  constexpr int kGroups = 100;
  const Shape shape{"insert", kGroups, kPointsPerDataFile / kGroups, kSecondsPerDay, false, 0,
                    0,        seed};
  JobSource source(shape.seed, shape.groups);
  const fs::path dataFile = dir / "insert-history.json";
  writeHistoryChunk(source, shape, 0, shape.rowsPerGroup, dataFile);
  fs::create_directories(runDir);
  const fs::path database = runDir / "detection.db";
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(database.string() + suffix);
  runRequest(binary, {"-post", "-action", "initialize_detection", "-database", database},
             runDir / "init.out");
  const RequestFigures f = insertData(binary, database, dataFile, runDir);
  std::printf(
      "insert_data of %d points: wall %.3f s, user %.3f s, sys %.3f s, peak RSS %.1f MB, "
      "load %s\n",
      kPointsPerDataFile, f.wallSeconds, f.userSeconds, f.systemSeconds, f.peakMegabytes,
      loadAverage().c_str());
  std::fflush(stdout);
}

// The command line: the binary under test, where the files stay, and the workload's size.
struct Options {
  std::string binary = SFAD_TOOL_PATH;
  std::string dir;  // empty: a scratch folder, removed at the end
  std::string label = "run";
  std::string shape = "standard";
  int repeat = 1;
  Workload workload;
};

// Answers false for an unknown option or one without its value.
bool applyOption(Options& options, const std::string& option, const char* value) {
  if (option == "--binary") {
    options.binary = value;
  } else if (option == "--dir") {
    options.dir = value;
  } else if (option == "--label") {
    options.label = value;
  } else if (option == "--repeat") {
    options.repeat = std::atoi(value);
  } else if (option == "--groups") {
    options.workload.groups = std::atoi(value);
  } else if (option == "--stream-groups") {
    options.workload.streamGroups = std::atoi(value);
  } else if (option == "--seed") {
    options.workload.seed = static_cast<unsigned>(std::atoi(value));
  } else if (option == "--shape") {
    options.shape = value;
  } else {
    return false;
  }
  return true;
}

void runStandard(const Options& options, const fs::path& dir) {
  const Workload& workload = options.workload;
  std::printf(
      "workload: %d groups x %d days, %d multi-stream groups x %d rows, %d pending "
      "per request, seed %u; binary %s\n",
      workload.groups, workload.days, workload.streamGroups, workload.streamHistoryRows,
      workload.pendingPerRequest(), workload.seed, options.binary.c_str());
  std::fflush(stdout);
  const fs::path history = historyDatabase(options.binary, workload, dir);
  for (int run = 1; run <= options.repeat; ++run) {
    runDetectRequests(options.binary, workload, dir, history, dir / options.label);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc || !applyOption(options, argv[i], argv[i + 1])) {
      std::fprintf(stderr, "unknown option or missing value: %s\n", argv[i]);
      return 2;
    }
  }
  const bool all = options.shape == "all";
  const char* const shapes[] = {"depth", "width", "peers"};
  if (!all && options.shape != "standard" && options.shape != "insert" &&
      std::find(std::begin(shapes), std::end(shapes), options.shape) == std::end(shapes)) {
    std::fprintf(stderr, "unknown shape: %s\n", options.shape.c_str());
    return 2;
  }
  char scratch[] = "/tmp/sfad-workload-XXXXXX";
  const bool keep = !options.dir.empty();
  const fs::path dir = keep ? fs::path(options.dir) : fs::path(mkdtemp(scratch));
  fs::create_directories(dir);
  try {
    if (all || options.shape == "standard") runStandard(options, dir);
    for (const char* shape : shapes) {
      if (!all && options.shape != shape) continue;
      for (int run = 1; run <= options.repeat; ++run) {
        runShapes(options.binary, shape, options.workload.seed, dir, dir / options.label);
      }
    }
    if (all || options.shape == "insert") {
      for (int run = 1; run <= options.repeat; ++run) {
        runInsert(options.binary, options.workload.seed, dir, dir / options.label / "insert");
      }
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "workload_tool: %s\n", error.what());
    if (!keep) fs::remove_all(dir);
    return 1;
  }
  if (!keep) fs::remove_all(dir);
  return 0;
}
