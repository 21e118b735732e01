// The JSON data file of job statistics: validation and storing all of its data points
// inside one transaction.
#pragma once

#include <string>

#include "storage/SQLiteDatabase.h"

namespace sfad {

// Raises intake_error for a bad file; sqlite_exception passes.
void parseAndStore(const std::string& path,
                   Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);

}  // namespace sfad
