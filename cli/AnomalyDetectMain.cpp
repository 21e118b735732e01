// One request from command line to exit code.
#include "cli/AnomalyDetectMain.h"

#include <csignal>
#include <iostream>

#include "cli/ActionDispatch.h"
#include "cli/DetectionCliException.h"
#include "cli/OptionParser.h"
#include "cli/Options.h"
#include "cli/Usage.h"
#include "cli/Version.h"
#include "platform/Platform.h"

namespace sfad {

namespace {

bool isHelpAlone(const OptionMap& options) {
  return options.size() == 1 && options.count("-help") != 0;
}

// -version and --version, like -help, count only when given alone.
bool isVersionAlone(const OptionMap& options) {
  return options.size() == 1 && (options.count("-version") != 0 || options.count("--version") != 0);
}

bool hasVerb(const OptionMap& options) {
  return options.count("-post") != 0 || options.count("-get") != 0;
}

}  // namespace

int AnomalyDetectMain::run(int argc, char* argv[]) {
  platform::setFileCreationMask(022);
  // A closed standard output must fail the write, not end the process unseen.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const OptionMap options = parseOptions(argc, argv);
    if (isHelpAlone(options)) {
      printUsage();
      return 0;
    }
    if (isVersionAlone(options)) {
      printVersion();
      return 0;
    }
    if (!hasVerb(options)) return 0;
    runAction(ActionArguments(options));
    return 0;
  } catch (const detection_cli_exception& error) {
    std::cerr << error.what() << std::flush;
    return error.code();
  }
}

}  // namespace sfad
