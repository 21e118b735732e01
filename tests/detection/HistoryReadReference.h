// The history reads as detection has always issued them, byte for byte: the reference
// against which the suites of the history reads compare the rows, their order and the
// query plans of the read index and of the copies a detect run keeps.
#pragma once

namespace sfad::test {

inline constexpr char kFullTrainingSql[] =
    "SELECT NUM_FILES,  IMAGE_SIZE,  KB_TRANSFERRED,  TOTAL_TIME,  DEDUP_RATE,  "
    "USER_IDENTIFIED_CLUSTER  FROM HIST_DATA  WHERE  CLIENT                   = ? AND  POLICY    "
    "               = ? AND  POLICY_TYPE              = ? AND  APP_TYPE                 = ? AND  "
    "SCHEDULE_TYPE            = ? AND  SCHEDULE_NAME            = ? AND  DESTINATION_STORAGE_NAME "
    "= ? AND  ASSET_ID                 = ? AND  MODE                     = ?   ORDER BY "
    "BACKUP_TIME DESC LIMIT ? ";
inline constexpr char kReducedTrainingSql[] =
    "SELECT   NUM_FILES,  IMAGE_SIZE,  KB_TRANSFERRED,  USER_IDENTIFIED_CLUSTER  FROM HIST_DATA  "
    "WHERE  CLIENT        = ? AND  POLICY        = ? AND  POLICY_TYPE   = ? AND  APP_TYPE      = "
    "? AND  SCHEDULE_TYPE = ? AND  SCHEDULE_NAME = ? AND  ASSET_ID      = ?  ORDER BY BACKUP_TIME "
    "DESC LIMIT ? ";
inline constexpr char kPeerRatesSql[] =
    "SELECT DEDUP_RATE FROM HIST_DATA  WHERE POLICY_TYPE = ? AND  SCHEDULE_TYPE = ? AND  "
    "DESTINATION_STORAGE_NAME = ?";

}  // namespace sfad::test
