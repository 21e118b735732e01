// The purge cut-off, computed without wrapping around.
#include "cli/PurgeCutoff.h"

#include <algorithm>
#include <limits>

namespace sfad {

int purgeCutoffTime(std::int64_t now, int months) {
  const std::int64_t cutoff = now - static_cast<std::int64_t>(months) * kSecondsPerMonth;
  const std::int64_t lowest = std::numeric_limits<int>::min();
  const std::int64_t highest = std::numeric_limits<int>::max();
  return static_cast<int>(std::clamp(cutoff, lowest, highest));
}

}  // namespace sfad
