// Process entry: hands the command line, as the bytes given, to the main
// object.
#include "cli/AnomalyDetectMain.h"

int main(int argc, char* argv[]) {
  sfad::AnomalyDetectMain entry;
  return entry.run(argc, argv);
}
