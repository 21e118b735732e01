// The detection run over the pending batch.
#pragma once

#include "detection/DecisionLog.h"
#include "detection/DetectionEngine.h"

namespace sfad {

// Judges the pending records (at most 10000) and gives each one a disposition, with one
// decision line per examined record in the diagnostic log.
void runDetection(DetectionEngine& engine);
// The same, counting the dispositions into the summary.
void runDetection(DetectionEngine& engine, RunSummary& summary);

}  // namespace sfad
