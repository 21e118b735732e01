// Expected outcomes of requests run through the built binary: the exact error
// object, silent success, and an initialised database to start from.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {

// The error object as the tool prints it (inner texts here need no JSON
// escaping).
inline std::string errorObject(int code, const std::string& innerMessage) {
  static const char* const kMessages[] = {"", "JSON parsing error.", "SQLite database error.",
                                          "Invalid parameters.", "Anomaly detection error."};
  return "{\"errorCode\": " + std::to_string(code) + ", \"errorMessage\": \"" + kMessages[code] +
         "\", \"innerMessage\": \"" + innerMessage + "\"}";
}

inline void expectFailure(const ToolResult& result, int code, const std::string& innerMessage) {
  EXPECT_EQ(result.exitCode, code);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, errorObject(code, innerMessage));
}

inline void expectSilentSuccess(const ToolResult& result) {
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

// A database file with the tool's layout, created by the tool itself.
inline std::string initializedDatabase(const TempDir& dir) {
  const std::string path = dir.file("detect.db");
  const ToolResult result =
      runTool({"-post", "-action", "initialize_detection", "-database", path});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  return path;
}

}  // namespace sfad::test
