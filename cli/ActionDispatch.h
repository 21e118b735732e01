// Running a validated request: the database connection around the action's
// handler.
#pragma once

#include "cli/Options.h"

namespace sfad {

// Opens the database named by -database, runs the action's handler and closes
// the database on every path. Raises only detection_cli_exception.
void runAction(const ActionArguments& arguments);

}  // namespace sfad
