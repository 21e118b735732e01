// Whole-request benchmark of detect: generates the standard workload (job groups with a
// year of daily history, stored day by day as daily ingestion does, multi-stream groups,
// and two rounds of pending jobs with about 1% outliers), runs the built binary on every
// request and prints wall time, time per pending job and peak memory of each detect.
//
// Usage: workload_tool [--binary PATH] [--dir DIR] [--label NAME] [--repeat N]
//                      [--groups N] [--stream-groups N] [--seed N]
// With --dir the generated history database is kept in DIR and reused by later runs with
// the same workload; the outputs and database of each run stay in DIR/<label>/.
// --stream-groups 0 gives the plain large request: 1,000 groups with a year of daily
// history and 10 new jobs per group.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

namespace fs = std::filesystem;

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

constexpr int kFirstBackupTime = 1700000000;
constexpr int kSecondsPerDay = 86400;
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
  explicit JobSource(const Workload& workload) : random_(workload.seed) {
    std::uniform_real_distribution<double> scale(0.5, 4.0);
    const int profiles = workload.groups + workload.streamGroups;
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

// One data file: group objects of the fixed fields, each with its data points.
class DataFileWriter {
 public:
  DataFileWriter(const fs::path& path, const char* operation) : out_(path) {
    out_ << "{\"operation\": \"" << operation << "\", \"data_points_fields\": \"" << kFields
         << "\", \"data\": [";
  }
  ~DataFileWriter() { out_ << "]}\n"; }

  void group(int index, bool multiStream, const std::vector<Job>& jobs) {
    out_ << (groups_++ ? ", " : "") << "{\"client\": \"client-" << index
         << "\", \"policy\": \"daily-files\", \"policy_type\": \"Standard\", "
            "\"schedule_type\": \"FULL\", \"schedule_name\": \"nightly\", "
            "\"destination_storage\": \"pool-"
         << index % 4 << "\"";
    if (!multiStream) out_ << ", \"asset_id\": \"asset-" << index << "\"";
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
    file.group(group, false, {source.job(group, dailyBackupTime(group, day), 0, 0.005)});
  }
  for (int group = 0; group < w.streamGroups; ++group) {
    const std::vector<Job> jobs = streamHistoryOfDay(source, w, group, day);
    if (!jobs.empty()) file.group(w.groups + group, true, jobs);
  }
}

// Pending jobs of one request: the days after `firstDay`, day by day across all groups.
void writePending(JobSource& source, const Workload& w, int firstDay, const fs::path& path) {
  DataFileWriter file(path, "DETECTION_DATA");
  for (int k = 0; k < w.pendingPerGroup; ++k) {
    const int day = firstDay + k;
    for (int group = 0; group < w.groups; ++group) {
      file.group(group, false, {source.job(group, dailyBackupTime(group, day), 0, w.outlierShare)});
    }
    for (int group = 0; group < w.streamGroups; ++group) {
      const int time = kFirstBackupTime + day * kSecondsPerDay + 4000 + k * 60;
      file.group(w.groups + group, true,
                 {source.job(w.groups + group, time, k % w.streams, w.outlierShare)});
    }
  }
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

// The history database of the workload, generated and stored day by day unless DIR
// already holds it for the same workload.
fs::path historyDatabase(const std::string& binary, const Workload& w, const fs::path& dir) {
  const fs::path database = dir / "history.db";
  const fs::path stampFile = dir / "workload.txt";
  if (fs::exists(database) && readFile(stampFile) == w.stamp()) return database;
  fs::remove(database);
  fs::remove(stampFile);
  JobSource source(w);
  const fs::path dayFile = dir / "history-day.json";
  runRequest(binary, {"-post", "-action", "initialize_detection", "-database", database},
             dir / "init.out");
  RequestFigures total;
  for (int day = 0; day < w.days; ++day) {
    writeHistoryDay(source, w, day, dayFile);
    const RequestFigures one = runRequest(
        binary, {"-post", "-action", "insert_data", "-database", database, "-data_file", dayFile},
        dir / "insert.out");
    total.wallSeconds += one.wallSeconds;
  }
  // Pending jobs come from the same generator, after the history, so they are part of
  // the one deterministic workload.
  writePending(source, w, w.days, dir / "pending-1.json");
  writePending(source, w, w.days + w.pendingPerGroup, dir / "pending-2.json");
  fs::remove(dayFile);
  std::ofstream(stampFile) << w.stamp();
  std::printf("history: %d insert_data requests, %.1f s\n", w.days, total.wallSeconds);
  return database;
}

void printFigures(const char* name, const RequestFigures& f, int pending, int anomalies) {
  std::printf(
      "%s: wall %.2f s, %.3f ms per pending job (%d), peak RSS %.1f MB, user %.2f s, "
      "sys %.2f s, anomalies %d, load %s\n",
      name, f.wallSeconds, f.wallSeconds * 1000.0 / pending, pending, f.peakMegabytes,
      f.userSeconds, f.systemSeconds, anomalies, loadAverage().c_str());
  std::fflush(stdout);
}

// One run: a copy of the history database, the first detect (every group calibrated),
// then the second (models fresh) with the next pending jobs.
void runDetectRequests(const std::string& binary, const Workload& w, const fs::path& dir,
                       const fs::path& history, const fs::path& runDir) {
  fs::create_directories(runDir);
  const fs::path database = runDir / "detection.db";
  fs::remove(database);
  fs::copy_file(history, database);
  const fs::path config = runDir / "detection.ini";
  writeConfig(config);
  for (int request = 1; request <= 2; ++request) {
    const std::string n = std::to_string(request);
    const fs::path output = runDir / ("anomalies-" + n + ".json");
    const RequestFigures figures = runRequest(
        binary,
        {"-post", "-action", "detect", "-database", database, "-data_file",
         dir / ("pending-" + n + ".json"), "-config_file", config, "-output_file", output},
        runDir / ("detect-" + n + ".out"));
    printFigures(("detect " + n).c_str(), figures, w.pendingPerRequest(), anomalyCount(output));
  }
}

// The command line: the binary under test, where the files stay, and the workload's size.
struct Options {
  std::string binary = SFAD_TOOL_PATH;
  std::string dir;  // empty: a scratch folder, removed at the end
  std::string label = "run";
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
  } else {
    return false;
  }
  return true;
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
  const std::string& binary = options.binary;
  const Workload& workload = options.workload;
  char scratch[] = "/tmp/sfad-workload-XXXXXX";
  const bool keep = !options.dir.empty();
  const fs::path dir = keep ? fs::path(options.dir) : fs::path(mkdtemp(scratch));
  fs::create_directories(dir);
  try {
    std::printf(
        "workload: %d groups x %d days, %d multi-stream groups x %d rows, %d pending "
        "per request, seed %u; binary %s\n",
        workload.groups, workload.days, workload.streamGroups, workload.streamHistoryRows,
        workload.pendingPerRequest(), workload.seed, binary.c_str());
    std::fflush(stdout);
    const fs::path history = historyDatabase(binary, workload, dir);
    for (int run = 1; run <= options.repeat; ++run) {
      runDetectRequests(binary, workload, dir, history, dir / options.label);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "workload_tool: %s\n", error.what());
    if (!keep) fs::remove_all(dir);
    return 1;
  }
  if (!keep) fs::remove_all(dir);
  return 0;
}
