// The -version text: the program's name and the project version it was built as.
#pragma once

namespace sfad {

// Writes "sfanomalydetect <version>" and a newline to standard output.
void printVersion();

}  // namespace sfad
