// The handlers of the actions: each takes the validated arguments and the request's
// open connection, prints its result and raises on failure.
#pragma once

#include "cli/Options.h"
#include "storage/SQLiteDatabase.h"

namespace sfad {

void initializeDetectionAction(const ActionArguments& arguments,
                               Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);
void insertDataAction(const ActionArguments& arguments,
                      Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);
void detectAction(const ActionArguments& arguments,
                  Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);
void anomaliesAction(const ActionArguments& arguments,
                     Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);
void userFeedbackAction(const ActionArguments& arguments,
                        Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);
void purgeDatabaseAction(const ActionArguments& arguments,
                         Quorvan::Stowfleet::UsageReporting::SQLiteDatabase& database);

}  // namespace sfad
