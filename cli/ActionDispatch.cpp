// Dispatch, and the conversion of every failure into the tool's error type.
#include "cli/ActionDispatch.h"

#include "cli/ActionTable.h"
#include "cli/DetectionCliException.h"
#include "storage/Schema.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::kDatabaseOpenFlags;
using Quorvan::Stowfleet::UsageReporting::sqlite_exception;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;

void openAndRun(const ActionArguments& arguments) {
  SQLiteDatabase database(arguments.value("-database"), kDatabaseOpenFlags);
  const ActionEntry* entry = findAction(arguments.value("-action"));
  if (entry && entry->handler) entry->handler(arguments, database);
}

}  // namespace

void runAction(const ActionArguments& arguments) {
  try {
    openAndRun(arguments);
  } catch (const detection_cli_exception&) {
    throw;
  } catch (const intake_error& error) {
    throw reportedError(error);
  } catch (const sqlite_exception& error) {
    throw detection_cli_exception(kDatabaseError, error.report());
  } catch (const std::exception& error) {
    throw detection_cli_exception(kDatabaseError, error.what());
  } catch (const action_failure& failure) {
    throw detection_cli_exception(kDatabaseError, failure.text());
  } catch (...) {
    throw detection_cli_exception(kDatabaseError, "Error occurred.");
  }
}

}  // namespace sfad
