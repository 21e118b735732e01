// The detection run over the pending batch, and the steps of it that other code reuses.
#pragma once

#include <string>
#include <vector>

#include "detection/DetectionEngine.h"

namespace sfad {

// Judges the pending records (at most 10000) and gives each one a disposition.
void runDetection(DetectionEngine& engine);

AnomalousFeatures evaluateDeviations(DetectionEngine& engine, const ResultRow& record,
                                     const NearestCluster& nearest, const QueryResult& rows,
                                     const std::vector<int>& labels, int mode);

// UPDATE DATA_TO_PROCESS SET PROCESSED_STATUS = 1 for one UNIQUE_KEY.
void markProcessed(DetectionEngine& engine, const std::string& uniqueKey);

}  // namespace sfad
