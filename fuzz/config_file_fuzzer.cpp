// Fuzz target: the detection configuration reader. Whatever the file holds, the settings
// stay inside their documented bounds.
#include <cstddef>
#include <cstdint>

#include "config/DetectionSettings.h"
#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const sfad::fuzz::MemoryFile file(data, size);
  const sfad::DetectionSettings settings = sfad::readDetectionSettings(file.path());
  using sfad::fuzz::require;
  require(settings.sensitivityPercentage >= -99 && settings.sensitivityPercentage <= 100,
          "sensitivity outside -99..100");
  require(settings.minObservationsForTraining >= 30, "minimum observations below 30");
  require(settings.daysForLastBackupToIgnoreAnomaly > 0, "day limit not positive");
  require(settings.maxObservationsForTraining > 0, "maximum observations not positive");
  return 0;
}
