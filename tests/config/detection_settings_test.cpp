// Reading the detection configuration file: single values with their clamps and defaults,
// lists, whole sections, and files that are missing or not INI text at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "config/ConfigReader.h"
#include "config/DetectionSettings.h"
#include "tests/support/TestFiles.h"

using sfad::ConfigReader;
using sfad::DetectionSettings;
using sfad::readDetectionSettings;
using sfad::test::TempDir;
using sfad::test::writeFile;
using Items = std::set<std::string>;
using Sections = std::map<std::string, Items>;

namespace {

class ConfigFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.file("detection.ini");

  DetectionSettings settingsOf(const std::string& ini) {
    writeFile(path, ini);
    return readDetectionSettings(path);
  }
};

struct NumericCase {
  const char* name;
  const char* ini;
  int sensitivity;
  int minObservations;
  int days;
  int maxObservations;
  bool logModelData;
};

void PrintTo(const NumericCase& numeric, std::ostream* out) { *out << numeric.name; }

class NumericSettingsTest : public ConfigFileTest,
                            public ::testing::WithParamInterface<NumericCase> {};

TEST_P(NumericSettingsTest, ClampsAndDefaults) {
  const NumericCase& c = GetParam();
  const DetectionSettings s = settingsOf(c.ini);
  EXPECT_EQ(s.sensitivityPercentage, c.sensitivity);
  EXPECT_EQ(s.minObservationsForTraining, c.minObservations);
  EXPECT_EQ(s.daysForLastBackupToIgnoreAnomaly, c.days);
  EXPECT_EQ(s.maxObservationsForTraining, c.maxObservations);
  EXPECT_EQ(s.logModelData, c.logModelData);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumericSettingsTest,
    ::testing::Values(
        NumericCase{"EmptyFileGivesDefaults", "", 0, 30, 365, 3000, false},
        NumericCase{"SensitivityAboveRangeClampsTo100",
                    "[ANOMALY_DETECTION_SENSITIVITY]\nSENSITIVITY_PERCENTAGE=150\n", 100, 30, 365,
                    3000, false},
        NumericCase{"SensitivityBelowRangeClampsToMinus99",
                    "[ANOMALY_DETECTION_SENSITIVITY]\nSENSITIVITY_PERCENTAGE=-100\n", -99, 30, 365,
                    3000, false},
        NumericCase{"SensitivityAtLowerBoundKept",
                    "[ANOMALY_DETECTION_SENSITIVITY]\nSENSITIVITY_PERCENTAGE=-99\n", -99, 30, 365,
                    3000, false},
        NumericCase{"SensitivityNotANumberReadsZero",
                    "[ANOMALY_DETECTION_SENSITIVITY]\nSENSITIVITY_PERCENTAGE=abc\n", 0, 30, 365,
                    3000, false},
        NumericCase{"SensitivityReadsLeadingDigits",
                    "[ANOMALY_DETECTION_SENSITIVITY]\nSENSITIVITY_PERCENTAGE= 25x\n", 25, 30, 365,
                    3000, false},
        NumericCase{"SmallMinimumZeroDaysAndZeroMaximumTakeDefaults",
                    "[ANOMALY_MODEL_SETTINGS]\nMIN_OBSERVATIONS_FOR_TRAINING=10\n"
                    "DAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY=0\nMAX_OBSERVATIONS_FOR_TRAINING=0\n",
                    0, 30, 365, 3000, false},
        NumericCase{
            "LargerMinimumAndMaximumKeptNegativeDaysDefault",
            "[ANOMALY_MODEL_SETTINGS]\nMIN_OBSERVATIONS_FOR_TRAINING=50\n"
            "DAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY=-5\nMAX_OBSERVATIONS_FOR_TRAINING=5000\n",
            0, 50, 365, 5000, false},
        NumericCase{"DaysKeptNegativeMaximumDefaults",
                    "[ANOMALY_MODEL_SETTINGS]\nDAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY=7\n"
                    "MAX_OBSERVATIONS_FOR_TRAINING=-1\n",
                    0, 30, 7, 3000, false},
        // A present but empty value does not fall back to its default; it reads as 0.
        NumericCase{"PresentButEmptyValuesReadZero",
                    "[ANOMALY_MODEL_SETTINGS]\nMIN_OBSERVATIONS_FOR_TRAINING=\n"
                    "DAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY=\n",
                    0, 30, 365, 3000, false},
        NumericCase{"LogModelDataOne", "[META_DATA]\nLOG_MODEL_DATA=1\n", 0, 30, 365, 3000, true},
        NumericCase{"LogModelDataTwoIsOff", "[META_DATA]\nLOG_MODEL_DATA=2\n", 0, 30, 365, 3000,
                    false},
        NumericCase{"LogModelDataEmptyIsOff", "[META_DATA]\nLOG_MODEL_DATA=\n", 0, 30, 365, 3000,
                    false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(ConfigFileTest, ListItemsAreLowerCasedAndKeepTheirBlanks) {
  const DetectionSettings s = settingsOf(
      "[EXCLUDE_CLIENTS]\nCLIENT_NAME=HostA,hostB\n"
      "[DISABLE_POLICY_TYPE]\nPOLICY_TYPE=\"Standard, Oracle,,\"\n");
  EXPECT_EQ(s.excludedClients, (Items{"hosta", "hostb"}));
  // Items are the untrimmed texts between commas; the trailing comma adds nothing.
  EXPECT_EQ(s.disabledPolicyTypes, (Items{"standard", " oracle", ""}));
}

TEST_F(ConfigFileTest, EmptyListValueExcludesNobody) {
  const DetectionSettings s = settingsOf("[EXCLUDE_CLIENTS]\nCLIENT_NAME=\n");
  EXPECT_TRUE(s.excludedClients.empty());
}

TEST_F(ConfigFileTest, WholeSectionsMapLowerCasedNamesToTheirItems) {
  const DetectionSettings s = settingsOf(
      "[EXCLUDE_CLIENT_POLICY]\nHostA=Daily,Weekly\nhostC=Monthly\n"
      "[DISABLE_FEATURE_PER_POLICY_TYPE]\nStandard=dedup_rate\nOracle=NUM_FILES,Image_Size\n");
  EXPECT_EQ(s.excludedClientPolicies,
            (Sections{{"hosta", {"daily", "weekly"}}, {"hostc", {"monthly"}}}));
  EXPECT_EQ(s.disabledFeaturesByPolicyType,
            (Sections{{"standard", {"dedup_rate"}}, {"oracle", {"num_files", "image_size"}}}));
}

TEST_F(ConfigFileTest, ReaderAnswersValuesUnchangedAndFallsBackPerKey) {
  writeFile(path, "[ANOMALY_MODEL_SETTINGS]\nMIN_OBSERVATIONS_FOR_TRAINING=MiXeD, Case\n");
  ConfigReader reader(path, ConfigReader::Defaults::kBuiltIn);
  EXPECT_EQ(reader.readValue("ANOMALY_MODEL_SETTINGS", "MIN_OBSERVATIONS_FOR_TRAINING"),
            "MiXeD, Case");
  EXPECT_EQ(reader.readValue("ANOMALY_MODEL_SETTINGS", "MAX_OBSERVATIONS_FOR_TRAINING"), "3000");
  EXPECT_EQ(reader.readValue("DATABASE_SETTINGS", "PURGE_DATA_INTERVAL_IN_MONTHS"), "12");
  EXPECT_EQ(reader.readValue("META_DATA", "LOG_MODEL_DATA"), "");
  // The defaults table is keyed exactly.
  EXPECT_EQ(reader.readValue("DATABASE_SETTINGS", "purge_data_interval_in_months"), "");

  ConfigReader withoutDefaults(path, ConfigReader::Defaults::kNone);
  EXPECT_EQ(withoutDefaults.readValue("DATABASE_SETTINGS", "PURGE_DATA_INTERVAL_IN_MONTHS"), "");
}

TEST_F(ConfigFileTest, ListsAndSectionsAddToWhatTheCallerHas) {
  writeFile(path, "[S]\nA=x,y\n[T]\nB=z\n");
  ConfigReader reader(path, ConfigReader::Defaults::kBuiltIn);
  Items items{"kept"};
  reader.readList("S", "A", items);
  reader.readList("S", "MISSING", items);
  reader.readList("MISSING", "A", items);
  EXPECT_EQ(items, (Items{"kept", "x", "y"}));

  Sections entries{{"b", {"old"}}, {"other", {"kept"}}};
  reader.readSection("T", entries);
  reader.readSection("MISSING", entries);
  EXPECT_EQ(entries, (Sections{{"b", {"z"}}, {"other", {"kept"}}}));
}

TEST_F(ConfigFileTest, MissingFileGivesTheDefaults) {
  for (const std::string& missing : {dir.file("absent.ini"), std::string(), dir.path()}) {
    ConfigReader reader(missing, ConfigReader::Defaults::kBuiltIn);
    EXPECT_EQ(reader.importResult(), -1) << missing;
    Items items;
    reader.readList("EXCLUDE_CLIENTS", "CLIENT_NAME", items);
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(reader.readValue("ANOMALY_MODEL_SETTINGS", "DAYS_FOR_LAST_BACKUP_TO_IGNORE_ANOMALY"),
              "365");
    const DetectionSettings s = readDetectionSettings(missing);
    EXPECT_EQ(s.minObservationsForTraining, 30);
    EXPECT_EQ(s.maxObservationsForTraining, 3000);
    EXPECT_TRUE(s.excludedClientPolicies.empty());
  }
}

std::string randomBytes(unsigned seed, size_t size) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xff);
  return bytes;
}

// Reading a file of random bytes in a child process: it must neither fail nor print, and
// the process must still exit normally through the library's exit handlers.
TEST_F(ConfigFileTest, RandomBytesReadQuietlyAsDefaults) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    writeFile(path, randomBytes(seed, 64 * 1024));
    const std::string output = dir.file("output.txt");
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 1);
      dup2(fd, 2);
      const DetectionSettings s = readDetectionSettings(path);
      const bool sane = s.sensitivityPercentage >= -99 && s.sensitivityPercentage <= 100 &&
                        s.minObservationsForTraining >= 30 &&
                        s.daysForLastBackupToIgnoreAnomaly > 0 && s.maxObservationsForTraining > 0;
      std::exit(sane ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "seed " << seed;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "seed " << seed;
    EXPECT_EQ(sfad::test::readFile(output), "") << "seed " << seed;
  }
}

}  // namespace
