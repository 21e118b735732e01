// The diagnostic log's file sink: each message appended as one line with its time,
// process id, level and category. A file that cannot be opened or written is ignored.
#pragma once

#include <memory>
#include <string>

namespace sfad {

// Formats one log line (without the newline): ISO-8601 UTC time, "[pid]", level,
// category and message; line breaks inside the message become blanks.
std::string formatLogLine(long long epochSeconds, long processId, int level,
                          const std::string& category, const std::string& message);

// Installs a sink appending to the file for its lifetime, and restores the discarding
// sink when it ends. An empty path installs nothing.
class ScopedLogFile {
 public:
  explicit ScopedLogFile(const std::string& path);
  ~ScopedLogFile();
  ScopedLogFile(const ScopedLogFile&) = delete;
  ScopedLogFile& operator=(const ScopedLogFile&) = delete;

 private:
  struct Descriptor;
  std::shared_ptr<Descriptor> file_;
};

}  // namespace sfad
