// The optional diagnostic log file named by the configuration file.
#pragma once

#include <string>

namespace sfad {

// The value of META_DATA / LOG_FILE, or "" when the file or the key is missing.
std::string readLogFilePath(const std::string& configPath);

}  // namespace sfad
