// The detection run over the pending batch.
#pragma once

#include "detection/DetectionEngine.h"

namespace sfad {

// Judges the pending records (at most 10000) and gives each one a disposition.
void runDetection(DetectionEngine& engine);

}  // namespace sfad
