// Reading META_DATA / LOG_FILE (no default: without it nothing is logged).
#include "config/LogFileSetting.h"

#include "config/ConfigReader.h"

namespace sfad {

std::string readLogFilePath(const std::string& configPath) {
  ConfigReader reader(configPath, ConfigReader::Defaults::kBuiltIn);
  return reader.readValue("META_DATA", "LOG_FILE");
}

}  // namespace sfad
