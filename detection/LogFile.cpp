// Appending diagnostic messages to the configured log file.
#include "detection/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>

#include "detection/DiagnosticLog.h"
#include "platform/Platform.h"

namespace sfad {

std::string formatLogLine(long long epochSeconds, long processId, int level,
                          const std::string& category, const std::string& message) {
  const std::time_t seconds = static_cast<std::time_t>(epochSeconds);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char time[32];
  std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string flat = message;
  for (char& c : flat) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return std::string(time) + " [" + std::to_string(processId) + "] " + std::to_string(level) + " " +
         category + ": " + flat;
}

struct ScopedLogFile::Descriptor {
  explicit Descriptor(int openFd) : fd(openFd) {}
  ~Descriptor() { close(fd); }
  const int fd;
};

ScopedLogFile::ScopedLogFile(const std::string& path) {
  if (path.empty()) return;
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  file_ = std::make_shared<Descriptor>(fd);
  std::shared_ptr<Descriptor> file = file_;
  const long processId = static_cast<long>(getpid());
  setLogSink([file, processId](int level, const std::string& category, const std::string& message) {
    const std::string line =
        formatLogLine(platform::currentTime64(), processId, level, category, message) + "\n";
    // One appending write per line, so that lines of concurrent requests do not
    // interleave; a failed write is ignored.
    (void)!write(file->fd, line.data(), line.size());
  });
}

ScopedLogFile::~ScopedLogFile() {
  if (file_) setLogSink(LogSink());
}

}  // namespace sfad
