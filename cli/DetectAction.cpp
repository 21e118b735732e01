// Placeholder until the detect action lands.
#include <stdexcept>

#include "cli/ActionHandlers.h"

namespace sfad {

void detectAction(const ActionArguments&, SQLiteDatabase&) {
  throw std::logic_error("detect is not built yet");
}

}  // namespace sfad
