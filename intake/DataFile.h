// The JSON data file of job statistics: validation and storing all of its data points
// inside one transaction.
#pragma once

#include <string>

#include "storage/SQLiteDatabase.h"

namespace sfad {

// Raises detection_cli_exception (code 1) for a bad file; sqlite_exception passes.
void parseAndStore(const std::string& path,
                   Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);

}  // namespace sfad
