// POSIX rendering of the platform services.
#include "platform/Platform.h"

#include <sys/stat.h>

#include <ctime>

namespace sfad::platform {

std::int64_t currentTime64() { return static_cast<std::int64_t>(std::time(nullptr)); }

int setFileCreationMask(int mask) { return static_cast<int>(::umask(static_cast<mode_t>(mask))); }

}  // namespace sfad::platform
