// Splitting the command line into options and their values; knows nothing of
// actions.
#pragma once

#include "cli/Options.h"

namespace sfad {

// The first token is the program's own name. Raises detection_cli_exception
// (code 3) for a stray word or an option given twice.
OptionMap parseOptions(int argc, char* argv[]);

}  // namespace sfad
