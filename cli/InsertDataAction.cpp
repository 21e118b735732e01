// insert_data: stores the job statistics of a data file.
#include "cli/ActionHandlers.h"
#include "intake/DataFile.h"

namespace sfad {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

void insertDataAction(const ActionArguments& arguments, SQLiteDatabase& database) {
  parseAndStore(arguments.value("-data_file"), database);
}

}  // namespace sfad
