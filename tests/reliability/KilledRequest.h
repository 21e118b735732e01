// Runs the tool and ends it with SIGKILL after a delay, as a crash or power cut would end
// it at an arbitrary moment of its work.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace sfad::test {

struct KillOutcome {
  bool killed = false;  // ended by the signal; otherwise it finished first
  int exitCode = -1;    // when it finished
  std::string err;      // its standard error, when it finished
};

KillOutcome runToolKilledAfter(const std::vector<std::string>& arguments,
                               std::chrono::microseconds delay, const std::string& errorPath);

}  // namespace sfad::test
