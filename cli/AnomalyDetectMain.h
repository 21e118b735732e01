// The program's main object: parses the command line, prints usage or runs the
// request, and turns its outcome into the process exit code.
#pragma once

namespace sfad {

class AnomalyDetectMain {
 public:
  // Returns 0 on success, for -help, for -version and without a verb; otherwise the error
  // code, after writing the error object to standard error.
  int run(int argc, char* argv[]);
};

}  // namespace sfad
