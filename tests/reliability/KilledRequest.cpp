// fork/exec of the tool, a sleep, then SIGKILL; standard output is discarded and standard
// error kept in a file.
#include "tests/reliability/KilledRequest.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

#include "tests/support/TestFiles.h"
#include "tests/support/ToolRunner.h"

namespace sfad::test {

KillOutcome runToolKilledAfter(const std::vector<std::string>& arguments,
                               std::chrono::microseconds delay, const std::string& errorPath) {
  std::vector<std::string> argv{toolPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int devNull = open("/dev/null", O_WRONLY);
    const int errors = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (devNull < 0 || errors < 0) _exit(126);
    dup2(devNull, STDOUT_FILENO);
    dup2(errors, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& argument : argv) args.push_back(const_cast<char*>(argument.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  std::this_thread::sleep_for(delay);
  kill(child, SIGKILL);  // harmless when the child has already finished
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  KillOutcome outcome;
  outcome.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  if (WIFEXITED(status)) {
    outcome.exitCode = WEXITSTATUS(status);
    outcome.err = readFile(errorPath);
  }
  return outcome;
}

}  // namespace sfad::test
