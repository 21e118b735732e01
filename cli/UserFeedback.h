// The anomaly-ids file of the userfeedback action.
#pragma once

#include <string>
#include <vector>

namespace sfad {

// Appends the ids of the file's "anomaly_ids" array, in file order. Raises
// detection_cli_exception (code 1) for a file that is not JSON or a malformed
// array.
void readAnomalyIds(const std::string& path, std::vector<std::string>& ids);

}  // namespace sfad
