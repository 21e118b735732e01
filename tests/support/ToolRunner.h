// Runs the built sfanomalydetect binary as a child process and captures its standard
// output, standard error and exit code, for the end-to-end suites.
#pragma once

#include <string>
#include <vector>

namespace sfad::test {

struct ToolResult {
  std::string out;
  std::string err;
  int exitCode = -1;  // 128 + signal number when the process was killed
};

// Path of the built binary.
std::string toolPath();
// A path below the source tree (for bundled fixtures and examples).
std::string sourcePath(const std::string& relative);

// Runs the binary with the given arguments (argv[0] is supplied).
ToolResult runTool(const std::vector<std::string>& arguments);
// Runs any program with a full argument vector (argv[0] included).
ToolResult runProgram(const std::vector<std::string>& argv);

}  // namespace sfad::test
