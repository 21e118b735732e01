// The time before which purge_database deletes rows.
#pragma once

#include <cstdint>

namespace sfad {

// A month is a fixed 30 days.
constexpr std::int64_t kSecondsPerMonth = 2592000;

// now minus the interval, in 64-bit arithmetic and clamped to the 32-bit signed
// range in which times are stored: a huge interval keeps everything, a huge
// negative one deletes everything older than the largest storable time.
int purgeCutoffTime(std::int64_t now, int months);

}  // namespace sfad
