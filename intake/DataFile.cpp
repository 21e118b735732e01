// The JSON data file of job statistics: the root keys and groups are read and
// checked first, then every data point becomes a JobRecord stored inside one
// transaction.
#include "intake/DataFile.h"

#include <jansson.h>

#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "intake/IntakeError.h"
#include "intake/JobRecord.h"
#include "json/JsonFile.h"
#include "storage/Transaction.h"

namespace sfad {

namespace {

using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Transaction;

const char kTrainingData[] = "TRAINING_DATA";
const char kDetectionData[] = "DETECTION_DATA";
const char kJobIdField[] = "JOB_ID";
const char kMismatch[] = "Mismatch in field 'data_points_fields' and 'data_points' array.";
const char kInvalidValueType[] =
    "Invalid data_points data type. All fields should be int or double type "
    "except JOB_ID field.";

[[noreturn]] void failParsing(const std::string& message) {
  throw intake_error(intake_error::Kind::kMalformedDataFile, message);
}

// One element of `data`: its string members and its data points (null when
// absent; the value is owned by the document).
struct JobGroup {
  std::map<std::string, std::string> texts;
  json_t* dataPoints = nullptr;
};

// What the root object holds, read completely before anything is stored.
struct DataFileContents {
  JobTable table = JobTable::History;
  std::vector<std::string> fieldNames;
  std::vector<JobGroup> groups;
};

// The data-point fields that reach the JobRecord; every other name is accepted
// and ignored.
enum class Field {
  kJobId,
  kBackupTime,
  kImageSize,
  kNumFiles,
  kDataTransferred,
  kTotalTime,
  kDedupRate,
  kStreamNumber,
  kIgnored,
};

struct FieldSlot {
  Field field;
  bool acceptsText;  // only a position named exactly JOB_ID may hold a string
};

JobTable readOperation(json_t* value) {
  if (!json_is_string(value)) failParsing("Invalid operation type.");
  const std::string operation = json_string_value(value);
  if (operation == kTrainingData) return JobTable::History;
  if (operation == kDetectionData) return JobTable::Queue;
  failParsing("Invalid operation - " + operation);
}

// Splits at every comma without trimming; a trailing comma adds no empty name.
void appendFieldNames(json_t* value, std::vector<std::string>& names) {
  if (!json_is_string(value)) {
    failParsing("Invalid type for data_points_fields. Expected is array type.");
  }
  std::istringstream text(json_string_value(value));
  for (std::string name; std::getline(text, name, ',');) names.push_back(name);
}

JobGroup readGroup(json_t* element) {
  JobGroup group;
  const char* key;
  json_t* value;
  json_object_foreach(element, key, value) {
    if (std::string(key) == "data_points") {
      group.dataPoints = value;
    } else if (json_is_string(value)) {
      group.texts[key] = json_string_value(value);
    } else {
      failParsing(std::string("JSON parsing failed. Details: Invalid data type "
                              "for group field - ") +
                  key);
    }
  }
  return group;
}

// A `data` value that is not an array holds no groups.
void appendGroups(json_t* value, std::vector<JobGroup>& groups) {
  std::size_t index;
  json_t* element;
  json_array_foreach(value, index, element) { groups.push_back(readGroup(element)); }
}

DataFileContents readContents(json_t* root) {
  DataFileContents contents;
  const char* key;
  json_t* value;
  json_object_foreach(root, key, value) {
    const std::string name = key;
    if (name == "operation") {
      contents.table = readOperation(value);
    } else if (name == "data_points_fields") {
      appendFieldNames(value, contents.fieldNames);
    } else if (name == "data") {
      appendGroups(value, contents.groups);
    }
  }
  return contents;
}

Field fieldOfName(const std::string& name) {
  static const std::map<std::string, Field> kFields = {
      {kJobIdField, Field::kJobId},
      {"BACKUP_TIME", Field::kBackupTime},
      {"IMAGE_SIZE", Field::kImageSize},
      {"NUM_FILES", Field::kNumFiles},
      {"DATA_TRANSFERRED", Field::kDataTransferred},
      {"TOTAL_TIME", Field::kTotalTime},
      {"DEDUP_RATE", Field::kDedupRate},
      {"STREAM_NUMBER", Field::kStreamNumber}};
  const auto found = kFields.find(name);
  return found == kFields.end() ? Field::kIgnored : found->second;
}

// One slot per position; a name met again counts only at its first position.
std::vector<FieldSlot> slotsOfNames(const std::vector<std::string>& names) {
  std::vector<FieldSlot> slots;
  std::set<std::string> seen;
  for (const auto& name : names) {
    const bool first = seen.insert(name).second;
    slots.push_back({first ? fieldOfName(name) : Field::kIgnored, name == kJobIdField});
  }
  return slots;
}

const std::string& requiredText(const JobGroup& group, const char* key) {
  const auto found = group.texts.find(key);
  if (found == group.texts.end()) {
    failParsing(std::string("Invalid json input. Missing field under data section - ") + key);
  }
  return found->second;
}

std::string optionalText(const JobGroup& group, const char* key, const char* fallback) {
  const auto found = group.texts.find(key);
  return found == group.texts.end() ? fallback : found->second;
}

// The group fields of every record of the group, in the order the keys are checked.
JobRecord groupTemplate(const JobGroup& group) {
  JobRecord record;
  record.client = requiredText(group, "client");
  record.policy = requiredText(group, "policy");
  record.policyType = requiredText(group, "policy_type");
  record.scheduleType = requiredText(group, "schedule_type");
  record.scheduleName = requiredText(group, "schedule_name");
  record.destinationStorageName = requiredText(group, "destination_storage");
  record.assetId = optionalText(group, "asset_id", "NA");
  record.appType = optionalText(group, "app_type", "NONE");
  return record;
}

// Truncates toward zero; a value whose whole part does not fit a 32-bit signed integer
// would have no defined conversion, so the file is refused instead.
int integerField(double value, const char* name) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) {
    failParsing(std::string("Invalid data_points value. Field ") + name +
                " is outside the 32-bit integer range.");
  }
  return static_cast<int>(value);
}

// The numeric values of one data point by field; absent ones stay unset.
struct PointValues {
  std::optional<double> values[static_cast<int>(Field::kIgnored)];
  std::string jobId;

  std::optional<double>& operator[](Field field) { return values[static_cast<int>(field)]; }
};

PointValues readPointValues(json_t* point, const std::vector<FieldSlot>& slots) {
  if (!json_is_array(point)) {
    failParsing("JSON parsing failed. Details: Invalid data type for data_type");
  }
  PointValues values;
  std::size_t position;
  json_t* value;
  json_array_foreach(point, position, value) {
    if (position == slots.size()) failParsing(kMismatch);
    const FieldSlot& slot = slots[position];
    if (json_is_string(value)) {
      if (!slot.acceptsText) failParsing(kInvalidValueType);
      if (slot.field == Field::kJobId) values.jobId = json_string_value(value);
    } else if (json_is_integer(value) && slot.field == Field::kJobId) {
      // A job identifier sent as a whole number is taken as its decimal text.
      values.jobId = std::to_string(json_integer_value(value));
    } else if (json_is_number(value)) {
      if (slot.field != Field::kIgnored && slot.field != Field::kJobId) {
        values[slot.field] = json_number_value(value);
      }
    } else {
      failParsing(kInvalidValueType);
    }
  }
  if (json_array_size(point) < slots.size()) failParsing(kMismatch);
  return values;
}

JobRecord buildRecord(const JobRecord& group, PointValues& values) {
  if (!values[Field::kBackupTime]) {
    failParsing("Invalid data_points_fields section. Missing BACKUP_TIME field.");
  }
  JobRecord record = group;
  record.backupTime = integerField(*values[Field::kBackupTime], "BACKUP_TIME");
  record.backupId = record.client + "_" + std::to_string(record.backupTime);
  if (values[Field::kNumFiles])
    record.numFiles = integerField(*values[Field::kNumFiles], "NUM_FILES");
  if (values[Field::kTotalTime]) {
    record.totalTime = integerField(*values[Field::kTotalTime], "TOTAL_TIME");
  }
  if (values[Field::kStreamNumber]) {
    record.streamNumber = integerField(*values[Field::kStreamNumber], "STREAM_NUMBER");
  }
  record.imageSize = values[Field::kImageSize].value_or(-1.0);
  record.kbTransferred = values[Field::kDataTransferred].value_or(-1.0);
  record.dedupRate = values[Field::kDedupRate].value_or(-1.0);
  record.jobId = values.jobId;
  return record;
}

// Stores every data point of every group; the writer is prepared at the first
// record.
void storeGroups(const DataFileContents& contents, SQLiteDatabase& database) {
  const std::vector<FieldSlot> slots = slotsOfNames(contents.fieldNames);
  std::optional<JobRecordWriter> writer;
  for (const JobGroup& group : contents.groups) {
    const JobRecord fields = groupTemplate(group);
    if (!group.dataPoints) failParsing("Invalid data_points_fields section.");
    std::size_t index;
    json_t* point;
    json_array_foreach(group.dataPoints, index, point) {
      PointValues values = readPointValues(point, slots);
      const JobRecord record = buildRecord(fields, values);
      if (!writer) writer.emplace(database, contents.table);
      writer->store(record);
    }
  }
}

// A file that cannot be loaded is a malformed data file.
JsonPtr loadDataFile(const std::string& path) {
  try {
    return loadJsonFile(path, "JSON parsing failed. Details: Failed to load json file - " + path);
  } catch (const json_file_error& error) {
    failParsing(error.what());
  }
}

}  // namespace

void parseAndStore(const std::string& path, SQLiteDatabase& database) {
  const JsonPtr document = loadDataFile(path);
  const DataFileContents contents = readContents(document.get());
  // A failure leaves the transaction open and its destruction discards every
  // record.
  Transaction transaction(database);
  transaction.begin();
  storeGroups(contents, database);
  transaction.end();
}

}  // namespace sfad
