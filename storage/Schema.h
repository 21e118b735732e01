// The layout of the detection database and initialize_detection's creation of it.
#pragma once

#include <string>

#include "storage/SQLiteDatabase.h"

namespace Quorvan::Stowfleet::UsageReporting {

// The open flags of every connection: read-write, create, no mutex (0x8006).
constexpr int kDatabaseOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;

// Opens a connection of its own on the path, creates what is missing, closes it.
// Raises std::runtime_error with the wrapped failure text.
void createSchema(const std::string& path);
void generateSchema(SQLiteDatabase& database);
void seedFeatureCatalogue(SQLiteDatabase& database);

}  // namespace Quorvan::Stowfleet::UsageReporting
