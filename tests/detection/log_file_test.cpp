// The diagnostic log's file sink: line format, appending, and a file that cannot be
// opened.
#include <gtest/gtest.h>

#include "detection/DiagnosticLog.h"
#include "detection/LogFile.h"
#include "tests/support/TestFiles.h"

namespace sfad {
namespace {

TEST(LogFile, LineCarriesTimePidLevelCategoryAndFlattenedMessage) {
  EXPECT_EQ(formatLogLine(0, 42, 16, "dbscan_detection", "two\nlines"),
            "1970-01-01T00:00:00Z [42] 16 dbscan_detection: two lines");
  EXPECT_EQ(formatLogLine(1765367520, 7, 2, "c", "m"), "2025-12-10T11:52:00Z [7] 2 c: m");
}

TEST(LogFile, MessagesAreAppendedWhileInstalledAndDiscardedAfter) {
  test::TempDir dir;
  const std::string path = dir.file("run.log");
  test::writeFile(path, "earlier\n");
  {
    ScopedLogFile log(path);
    logMessage(kLogProgress, kDetectionLogCategory, "Anomaly detected for job %s", "77");
    logMessage(kLogFailure, kDetectionLogCategory, "%s %s", "a", "b");
  }
  logMessage(kLogProgress, kDetectionLogCategory, "after");
  const std::string content = test::readFile(path);
  ASSERT_EQ(content.rfind("earlier\n", 0), 0u);
  EXPECT_NE(content.find(" 2 dbscan_detection: Anomaly detected for job 77\n"), std::string::npos);
  EXPECT_NE(content.find(" 16 dbscan_detection: a b\n"), std::string::npos);
  EXPECT_EQ(content.find("after"), std::string::npos);
}

TEST(LogFile, UnopenableOrEmptyPathWritesNothingAndRaisesNothing) {
  test::TempDir dir;
  {
    ScopedLogFile none("");
    ScopedLogFile missing(dir.file("no/such/dir/run.log"));
    logMessage(kLogProgress, kDetectionLogCategory, "lost");
  }
  EXPECT_FALSE(test::fileExists(dir.file("no")));
}

}  // namespace
}  // namespace sfad
