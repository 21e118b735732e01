// The -help text.
#pragma once

namespace sfad {

// Writes the usage text to standard output.
void printUsage();

}  // namespace sfad
