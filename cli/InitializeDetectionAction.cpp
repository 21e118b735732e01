// initialize_detection: brings the database file to the tool's layout.
#include "cli/ActionHandlers.h"
#include "storage/Schema.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

// The schema work runs on a connection of its own.
void initializeDetectionAction(const ActionArguments& arguments, SQLiteDatabase&) {
  Quorvan::Stowfleet::UsageReporting::createSchema(arguments.value("-database"));
}

}  // namespace sfad
