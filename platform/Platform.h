// The few operating-system services the tool uses, behind names of its own: the
// current time and the file-creation mask.
#pragma once

#include <cstdint>

namespace sfad::platform {

// Seconds since the epoch, 64-bit.
std::int64_t currentTime64();

// The low 32 bits of the current time, as the tool stores and compares times.
inline int currentTime32() { return static_cast<int>(static_cast<std::uint32_t>(currentTime64())); }

// Sets the process's file-creation mask; answers the previous mask.
int setFileCreationMask(int mask);

}  // namespace sfad::platform
