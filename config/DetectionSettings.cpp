// Placeholder until the configuration reader lands: the built-in defaults.
#include "config/DetectionSettings.h"

namespace sfad {

DetectionSettings readDetectionSettings(const std::string&) { return DetectionSettings(); }

}  // namespace sfad
