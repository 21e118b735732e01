// The seven actions and the arguments each one takes.
#include "cli/ActionTable.h"

namespace sfad {

namespace {

void checkDatabaseOnly(ArgumentChecker& checker) { checker.require("-database"); }

void checkInsertData(ArgumentChecker& checker) {
  checker.require("-data_file");
  checker.require("-database");
}

void checkDetect(ArgumentChecker& checker) {
  checker.require("-data_file");
  checker.require("-database");
  checker.require("-config_file");
  if (checker.given("-output_file")) checker.requireValue("-output_file");
}

// A time range or a list of job ids; an option of the other form is left
// unaccepted.
void checkAnomalies(ArgumentChecker& checker) {
  if (checker.given("-min_backup_time")) {
    checker.requireValue("-min_backup_time");
    checker.require("-max_backup_time");
  } else if (checker.given("-job_ids")) {
    checker.requireValue("-job_ids");
  } else {
    checker.failForAction("Either -min_backup_time  or -job_ids missing for action - ");
  }
  checker.require("-database");
}

// The first of -anomaly_id, -anomaly_ids and -client given decides the form;
// the values of the client form's times are checked with the other numbers.
void checkUserFeedback(ArgumentChecker& checker) {
  if (checker.given("-anomaly_id")) {
    checker.requireValue("-anomaly_id");
  } else if (checker.given("-anomaly_ids")) {
    checker.requireValue("-anomaly_ids");
  } else if (checker.given("-client")) {
    checker.requireValue("-client");
    checker.accept("-start_time");
    checker.accept("-end_time");
  }
  checker.require("-feedback");
  checker.require("-database");
}

void checkPurgeDatabase(ArgumentChecker& checker) {
  checker.require("-database");
  checker.require("-purge_interval_in_months");
}

const ActionEntry kActions[] = {
    {"initialize_detection", "-post", checkDatabaseOnly, initializeDetectionAction},
    {"insert_data", "-post", checkInsertData, insertDataAction},
    {"detect", "-post", checkDetect, detectAction},
    {"anomalies", "-get", checkAnomalies, anomaliesAction},
    {"userfeedback", "-post", checkUserFeedback, userFeedbackAction},
    {"status", "-get", checkDatabaseOnly, nullptr},
    {"purge_database", "-post", checkPurgeDatabase, purgeDatabaseAction},
};

}  // namespace

const ActionEntry* findAction(const std::string& name) {
  for (const ActionEntry& entry : kActions) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

}  // namespace sfad
