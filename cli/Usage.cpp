// The usage text, exactly as callers expect it (the detect line's "-ouput_file"
// included).
#include "cli/Usage.h"

#include <iostream>

namespace sfad {

void printUsage() {
  std::cout << "\nsfanomalydetect [ -get | -post ] -action <actionName> [other "
               "parameters] "
            << "\nSupported Actions:"
            << "\n   1. initialize_detection. Usage: sfanomalydetect -post "
               "-action initialize_detection  "
               "-database <Full Database path> "
            << "\n   2. insert_data. Usage: sfanomalydetect -post -action "
               "insert_data -database <Full "
               "Database path> -data_file <Full path of data file> "
            << "\n   3. detect. Usage: sfanomalydetect -post -action detect "
               "-database <Full Database "
               "path> -data_file <Full path of data file> -config_file <Full "
               "path of config file> "
               "[-ouput_file <Full path of json output file>]"
            << "\n   4. anomalies. Usage: sfanomalydetect -get -action "
               "anomalies -database <Full "
               "Database path> [ [-job_ids <comma seperated job ids> ] | "
               "[-min_backup_time <minimum "
               "backup time in epoch format> -max_backup_time <maximum backup "
               "time in epoch>] ] "
            << "\n   5. purge_database. Usage: sfanomalydetect -post -action "
               "purge_database -database "
               "<Full Database path> -purge_interval_in_months <purge interval "
               "in months> "
            << "\n   6. userfeedback. Usage: sfanomalydetect -post -action "
               "userfeedback -database <Full "
               "Database path> [ -anomaly_id <anomaly id> | -anomaly_ids <json "
               "file with ids> | -client "
               "<client name> -start_time <detection start time> -end_time "
               "<detection end time> ] "
               "-feedback <feedback> "
            << "\n"
            << std::flush;
}

}  // namespace sfad
