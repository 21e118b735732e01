// The handlers of the actions: each takes the validated arguments and the request's
// open connection, prints its result and raises on failure.
#pragma once

#include "cli/Options.h"
#include "storage/SQLiteDatabase.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

void initializeDetectionAction(const ActionArguments& arguments, SQLiteDatabase& database);
void insertDataAction(const ActionArguments& arguments, SQLiteDatabase& database);
void detectAction(const ActionArguments& arguments, SQLiteDatabase& database);
void anomaliesAction(const ActionArguments& arguments, SQLiteDatabase& database);
void userFeedbackAction(const ActionArguments& arguments, SQLiteDatabase& database);
void purgeDatabaseAction(const ActionArguments& arguments, SQLiteDatabase& database);

}  // namespace sfad
