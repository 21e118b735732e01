// Installing under a prefix gives a working binary, the compressed manual page and the
// package's changelog and copyright file.
#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {
namespace {

TEST(Install, PrefixHoldsARunnableBinaryAndTheManualPage) {
  TempDir prefix;
  ToolResult install =
      runProgram({SFAD_CMAKE_COMMAND, "--install", SFAD_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  EXPECT_TRUE(fileExists(prefix.file("share/man/man1/sfanomalydetect.1.gz")));
  EXPECT_TRUE(fileExists(prefix.file("share/doc/sfanomalydetect/changelog.gz")));
  EXPECT_TRUE(fileExists(prefix.file("share/doc/sfanomalydetect/copyright")));

  ToolResult help = runProgram({prefix.file("bin/sfanomalydetect"), "-help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out, runTool({"-help"}).out);
  EXPECT_EQ(help.err, "");

  ToolResult status = runProgram({prefix.file("bin/sfanomalydetect"), "-get", "-action", "status",
                                  "-database", prefix.file("d.db")});
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_TRUE(fileExists(prefix.file("d.db")));
}

}  // namespace
}  // namespace sfad::test
