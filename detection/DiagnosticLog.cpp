// Formatting log messages and handing them to the sink.
#include "detection/DiagnosticLog.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "storage/SQLiteDatabase.h"

namespace sfad {

namespace {

LogSink& installedSink() {
  static LogSink sink;
  return sink;
}

}  // namespace

void setLogSink(LogSink sink) { installedSink() = std::move(sink); }

bool logSinkInstalled() { return static_cast<bool>(installedSink()); }

void logMessage(int level, const char* category, const char* format, ...) {
  LogSink& sink = installedSink();
  if (!sink) return;
  va_list arguments;
  va_start(arguments, format);
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string message;
  if (length > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    message.assign(buffer.data(), static_cast<std::size_t>(length));
  }
  va_end(arguments);
  sink(level, category, message);
}

void logCaughtFailure(const FailureLogFormat& format, const std::exception& error) {
  using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
  if (const auto* storageError = dynamic_cast<const sqlite_exception*>(&error)) {
    logMessage(format.storageLevel, kDetectionLogCategory, format.storageFormat,
               storageError->what(), storageError->sqliteMessage().c_str());
    return;
  }
  logMessage(format.otherLevel, kDetectionLogCategory, format.otherFormat, error.what());
}

}  // namespace sfad
