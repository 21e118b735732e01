// Configuring the project on a machine without the Google Benchmark library: the
// configure succeeds, says that the benchmark programs are skipped, and keeps the rest.
#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

TEST(Configure, WithoutBenchmarkLibrarySkipsOnlyTheBenchmarkPrograms) {
  TempDir build;
  const ToolResult configure =
      runProgram({SFAD_CMAKE_COMMAND, "-S", SFAD_SOURCE_DIR, "-B", build.path(),
                  "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON", "-DSFAD_BUILD_TESTS=OFF"});
  ASSERT_EQ(configure.exitCode, 0) << configure.out << configure.err;
  EXPECT_NE(configure.out.find("Google Benchmark not found"), std::string::npos) << configure.out;

  const ToolResult targets =
      runProgram({SFAD_CMAKE_COMMAND, "--build", build.path(), "--target", "help"});
  ASSERT_EQ(targets.exitCode, 0) << targets.err;
  EXPECT_EQ(targets.out.find("intake_bench"), std::string::npos);
  EXPECT_NE(targets.out.find("workload_tool"), std::string::npos);
  EXPECT_NE(targets.out.find("sfanomalydetect"), std::string::npos);
}

}  // namespace
}  // namespace sfad::test
