// Runs a handler's database work and turns its failure into the handler's own
// text, which the dispatcher reports with code 2.
#pragma once

#include <string>

#include "cli/DetectionCliException.h"
#include "storage/SQLiteDatabase.h"

namespace sfad {

// A sqlite_exception becomes databaseFailure + its what(); anything else
// otherFailure.
template <typename Work>
void runWrapped(const char* databaseFailure, const char* otherFailure, Work&& work) {
  try {
    work();
  } catch (const Quorvan::Stowfleet::UsageReporting::sqlite_exception& error) {
    throw action_failure(std::string(databaseFailure) + error.what());
  } catch (...) {
    throw action_failure(otherFailure);
  }
}

}  // namespace sfad
