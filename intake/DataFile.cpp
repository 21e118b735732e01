// Placeholder until the data-file parser lands.
#include "intake/DataFile.h"

#include <stdexcept>

namespace sfad {

void parseAndStore(const std::string&, Quorvan::Stowfleet::UsageReporting::SQLiteDatabase&) {
  throw std::logic_error("data file intake is not built yet");
}

}  // namespace sfad
