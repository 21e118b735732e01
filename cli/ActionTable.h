// The actions of the tool: the verb each one requires, the checks of its
// arguments and its handler.
#pragma once

#include <string>

#include "cli/ActionHandlers.h"
#include "cli/ArgumentChecker.h"

namespace sfad {

struct ActionEntry {
  const char* name;
  const char* verb;
  // Checks the action's own arguments, accepting each one that passes.
  void (*checkArguments)(ArgumentChecker& checker);
  // Null for status, which only opens and closes the database.
  void (*handler)(const ActionArguments& arguments,
                  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);
};

// The row of the action named exactly so, or null.
const ActionEntry* findAction(const std::string& name);

}  // namespace sfad
