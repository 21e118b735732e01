// The engine's diagnostic log: one printf-style call with a level and a category.
// Messages go to the installed sink; without one they are discarded.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace sfad {

enum LogLevel {
  kLogProgress = 2,       // progress and most handled failures
  kLogRecalibration = 4,  // a failed deletion of model parameters
  kLogFailure = 16,       // other handled failures
};

constexpr const char* kDetectionLogCategory = "dbscan_detection";

using LogSink =
    std::function<void(int level, const std::string& category, const std::string& message)>;

// Replaces the sink; an empty sink discards every message.
void setLogSink(LogSink sink);

// Whether a sink is installed: messages that are costly to build are skipped without one.
bool logSinkInstalled();

void logMessage(int level, const char* category, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// How a caught failure is written to the log, in the engine's category: a storage error
// with its message and SQLite's text, any other error with its text, each at its own level.
struct FailureLogFormat {
  int storageLevel;
  const char* storageFormat;  // two %s: the message, then SQLite's text
  int otherLevel;
  const char* otherFormat;  // one %s: the error's text
};

// Logs a caught failure in the format of its kind.
void logCaughtFailure(const FailureLogFormat& format, const std::exception& error);

}  // namespace sfad
