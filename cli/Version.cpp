// The -version text. SFAD_VERSION is the project version, set by the build for this file
// alone, so that the build description stays its one source.
#include "cli/Version.h"

#include <iostream>

namespace sfad {

void printVersion() { std::cout << "sfanomalydetect " << SFAD_VERSION << "\n" << std::flush; }

}  // namespace sfad
