// LoadConfig against files an operator might leave: current, partial, broken,
// outdated, unreadable, and numbers of every shape and size.
#include <gtest/gtest.h>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "config/loader.h"
#include "config_test.h"
#include "formats/replies.h"

namespace {

using Quillmoor::Config;
using quillmoor_test::ConfigTest;
using quillmoor_test::DefaultsText;
using quillmoor_test::DefaultsWith;
using quillmoor_test::GuideText;
using quillmoor_test::ReadFile;
using quillmoor_test::RowName;
using quillmoor_test::WriteFile;
using Strings = std::vector<std::string>;

std::string Clamped(const std::string& name, const std::string& value, const std::string& low,
                    const std::string& high) {
  return "[Quillmoor] Config: '" + name + "' value " + value + " is out of range [" + low + ", " +
         high + "], clamped.";
}

Config Expected(const std::function<void(Config&)>& change) {
  Config config;
  change(config);
  return config;
}

// --- current files -----------------------------------------------------------

TEST_F(ConfigTest, EveryFieldIsReadFromItsOwnKey) {
  WriteConfig(R"({
    "ConfigVersion": 3,
    "AutoGC": {"Enabled": false, "IntervalMinutes": 30},
    "Rcon": {"CommandName": "Zap✓"},
    "GCCVars": {"Enabled": false, "TimeBetweenPurgingSeconds": 42.5, "NumRetriesBeforeForcingGC": 7,
                "ActorClusteringEnabled": false, "MaxObjectsNotConsideredByGC": 12345},
    "PhysicsCVars": {"Enabled": false, "ChaosMaxSubSteps": 4, "ServerMaxFPS": 60},
    "StructureNetFreq": {"Enabled": false, "NetUpdateFreq": 0.5, "MinNetUpdateFreq": 0.25,
                         "CheckIntervalSeconds": 900},
    "VerboseLogging": true
  })");
  const std::string before = ReadFile(ConfigPath());

  const auto config = Load();
  EXPECT_EQ(config, Expected([](Config& c) {
              c.AutoGC = {false, 30};
              c.Rcon.CommandName = "Zap✓";
              c.GCCVars = {false, 42.5f, 7, false, 12345};
              c.PhysicsCVars = {false, 4, 60};
              c.StructureNetFreq = {false, 0.5f, 0.25f, 900};
              c.VerboseLogging = true;
            }));
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  EXPECT_EQ(ReadFile(ConfigPath()), before);
}

TEST_F(ConfigTest, MissingSectionsAndKeysKeepTheirDefaultsWithoutAnError) {
  WriteConfig(
      R"({"ConfigVersion": 3, "AutoGC": {"IntervalMinutes": 30}, "Rcon": {"CommandName": "Gc"}})");
  const auto config = Load();
  EXPECT_EQ(config, Expected([](Config& c) {
              c.AutoGC.IntervalMinutes = 30;
              c.Rcon.CommandName = "Gc";
            }));
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}

TEST_F(ConfigTest, TextAfterTheClosingBraceIsIgnored) {
  WriteConfig(DefaultsWith({{"AutoGC", {{"IntervalMinutes", 30}}}}) + "\n}} not json {\"x\":");
  const auto config = Load();
  EXPECT_EQ(config.AutoGC.IntervalMinutes, 30);
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}

TEST_F(ConfigTest, FractionalVersionIsCutToTheCurrentOneAndTheFileIsRead) {
  WriteConfig(DefaultsWith({{"ConfigVersion", 3.9}, {"AutoGC", {{"IntervalMinutes", 30}}}}));
  const auto config = Load();
  EXPECT_EQ(config.AutoGC.IntervalMinutes, 30);
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}

// --- corrections ---------------------------------------------------------------

TEST_F(ConfigTest, OutOfRangeIntervalIsClampedToTheNearerBoundWithOneWarning) {
  WriteConfig(DefaultsWith({{"AutoGC", {{"IntervalMinutes", 0}}}}));
  EXPECT_EQ(Load().AutoGC.IntervalMinutes, 1);
  WriteConfig(DefaultsWith({{"AutoGC", {{"IntervalMinutes", 500}}}}));
  EXPECT_EQ(Load().AutoGC.IntervalMinutes, 120);
  EXPECT_EQ(Messages(),
            (Strings{
                "[Quillmoor] Config: 'AutoGC.IntervalMinutes' value 0 is out of range [1, 120], "
                "clamped.",
                "[Quillmoor] Config: 'AutoGC.IntervalMinutes' value 500 is out of range [1, 120], "
                "clamped.",
            }));
}

// Whatever the name, it is the operator's: read as written, with no line
// (the registration's line quotes it escaped).
struct WrittenName {
  const char* name;
  std::string command_name;
};

class ConfigCommandNameTest : public ConfigTest,
                              public ::testing::WithParamInterface<WrittenName> {};

TEST_P(ConfigCommandNameTest, IsReadAsWrittenWithoutALine) {
  WriteConfig(DefaultsWith({{"Rcon", {{"CommandName", GetParam().command_name}}}}));
  EXPECT_EQ(Load().Rcon.CommandName, GetParam().command_name);
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}

INSTANTIATE_TEST_SUITE_P(
    Names, ConfigCommandNameTest,
    ::testing::Values(WrittenName{"Empty", ""},
                      WrittenName{"ForgedLine", "Gc\n01/02/26 10:00 [AsaApi][error] forged\x1b[2J"},
                      WrittenName{"StatisticsCommand", formats::kStatsCommand},
                      // Half the largest file that is read.
                      WrittenName{"HalfAMegabyte", std::string(1 << 19, 'x')}),
    RowName<WrittenName>);

struct Correction {
  const char* name;
  const char* patch;  // JSON merged into the defaults document
  std::function<void(Config&)> expect;
  Strings warnings;
};

class ConfigCorrectionTest : public ConfigTest, public ::testing::WithParamInterface<Correction> {};

TEST_P(ConfigCorrectionTest, ValueIsReadConvertedAndClampedAsExpected) {
  WriteConfig(DefaultsWith(nlohmann::json::parse(GetParam().patch)));
  const auto config = Load();
  EXPECT_EQ(config, Expected(GetParam().expect));
  EXPECT_EQ(MessagesAt("warning"), GetParam().warnings);
  EXPECT_TRUE(MessagesAt("error").empty()) << MessagesAt("error").front();
}

const char* const kInterval = "AutoGC.IntervalMinutes";
const char* const kPurge = "GCCVars.TimeBetweenPurgingSeconds";
const char* const kRetries = "GCCVars.NumRetriesBeforeForcingGC";
const char* const kSubSteps = "PhysicsCVars.ChaosMaxSubSteps";
const char* const kFps = "PhysicsCVars.ServerMaxFPS";
const char* const kNet = "StructureNetFreq.NetUpdateFreq";
const char* const kMin = "StructureNetFreq.MinNetUpdateFreq";
const char* const kCheck = "StructureNetFreq.CheckIntervalSeconds";

INSTANTIATE_TEST_SUITE_P(
    Ranges, ConfigCorrectionTest,
    ::testing::Values(
        // Both ends of every range are inside it; 0.05 and 5 compare as floats.
        Correction{"LowBoundsStay",
                   R"({"AutoGC": {"IntervalMinutes": 1},
                       "GCCVars": {"TimeBetweenPurgingSeconds": 5, "NumRetriesBeforeForcingGC": 1},
                       "PhysicsCVars": {"ChaosMaxSubSteps": 1, "ServerMaxFPS": 10},
                       "StructureNetFreq": {"NetUpdateFreq": 0.05, "MinNetUpdateFreq": 0.05,
                                            "CheckIntervalSeconds": 60}})",
                   [](Config& c) {
                     c.AutoGC.IntervalMinutes = 1;
                     c.GCCVars.TimeBetweenPurgingSeconds = 5.0f;
                     c.GCCVars.NumRetriesBeforeForcingGC = 1;
                     c.PhysicsCVars = {true, 1, 10};
                     c.StructureNetFreq = {true, 0.05f, 0.05f, 60};
                   },
                   {}},
        Correction{"HighBoundsStay",
                   R"({"AutoGC": {"IntervalMinutes": 120},
                       "GCCVars": {"TimeBetweenPurgingSeconds": 300, "NumRetriesBeforeForcingGC": 20},
                       "PhysicsCVars": {"ChaosMaxSubSteps": 8, "ServerMaxFPS": 120},
                       "StructureNetFreq": {"NetUpdateFreq": 10, "MinNetUpdateFreq": 10,
                                            "CheckIntervalSeconds": 3600}})",
                   [](Config& c) {
                     c.AutoGC.IntervalMinutes = 120;
                     c.GCCVars.TimeBetweenPurgingSeconds = 300.0f;
                     c.GCCVars.NumRetriesBeforeForcingGC = 20;
                     c.PhysicsCVars = {true, 8, 120};
                     c.StructureNetFreq = {true, 10.0f, 10.0f, 3600};
                   },
                   {}},
        Correction{"EverySettingBelowItsRange",
                   R"({"AutoGC": {"IntervalMinutes": -5},
                       "GCCVars": {"TimeBetweenPurgingSeconds": 4.9, "NumRetriesBeforeForcingGC": 0},
                       "PhysicsCVars": {"ChaosMaxSubSteps": 0, "ServerMaxFPS": 9},
                       "StructureNetFreq": {"NetUpdateFreq": 0.01, "MinNetUpdateFreq": 0.04,
                                            "CheckIntervalSeconds": 59}})",
                   [](Config& c) {
                     c.AutoGC.IntervalMinutes = 1;
                     c.GCCVars.TimeBetweenPurgingSeconds = 5.0f;
                     c.GCCVars.NumRetriesBeforeForcingGC = 1;
                     c.PhysicsCVars = {true, 1, 10};
                     c.StructureNetFreq = {true, 0.05f, 0.05f, 60};
                   },
                   {Clamped(kInterval, "-5", "1", "120"), Clamped(kPurge, "4.9", "5", "300"),
                    Clamped(kRetries, "0", "1", "20"), Clamped(kSubSteps, "0", "1", "8"),
                    Clamped(kFps, "9", "10", "120"), Clamped(kNet, "0.01", "0.05", "10"),
                    Clamped(kMin, "0.04", "0.05", "10"), Clamped(kCheck, "59", "60", "3600")}},
        Correction{"EverySettingAboveItsRange",
                   R"({"AutoGC": {"IntervalMinutes": 121},
                       "GCCVars": {"TimeBetweenPurgingSeconds": 300.5, "NumRetriesBeforeForcingGC": 21},
                       "PhysicsCVars": {"ChaosMaxSubSteps": 9, "ServerMaxFPS": 121},
                       "StructureNetFreq": {"NetUpdateFreq": 11, "MinNetUpdateFreq": 10.5,
                                            "CheckIntervalSeconds": 3601}})",
                   [](Config& c) {
                     c.AutoGC.IntervalMinutes = 120;
                     c.GCCVars.TimeBetweenPurgingSeconds = 300.0f;
                     c.GCCVars.NumRetriesBeforeForcingGC = 20;
                     c.PhysicsCVars = {true, 8, 120};
                     c.StructureNetFreq = {true, 10.0f, 10.0f, 3600};
                   },
                   {Clamped(kInterval, "121", "1", "120"), Clamped(kPurge, "300.5", "5", "300"),
                    Clamped(kRetries, "21", "1", "20"), Clamped(kSubSteps, "9", "1", "8"),
                    Clamped(kFps, "121", "10", "120"), Clamped(kNet, "11", "0.05", "10"),
                    Clamped(kMin, "10.5", "0.05", "10"), Clamped(kCheck, "3601", "60", "3600")}},
        Correction{"DisabledSectionIsClampedAllTheSame",
                   R"({"AutoGC": {"Enabled": false, "IntervalMinutes": 0}})",
                   [](Config& c) {
                     c.AutoGC = {false, 1};
                   },
                   {Clamped(kInterval, "0", "1", "120")}},
        Correction{"NegativeMaxObjectsStays",
                   R"({"GCCVars": {"MaxObjectsNotConsideredByGC": -5}})",
                   [](Config& c) { c.GCCVars.MaxObjectsNotConsideredByGC = -5; },
                   {}}),
    RowName<Correction>);

INSTANTIATE_TEST_SUITE_P(
    Conversions, ConfigCorrectionTest,
    ::testing::Values(Correction{"FractionIsCutOff",
                                 R"({"AutoGC": {"IntervalMinutes": 15.7}})",
                                 [](Config& c) { c.AutoGC.IntervalMinutes = 15; },
                                 {}},
                      // Toward zero, not down: -0.5 becomes 0, not -1.
                      Correction{"NegativeFractionIsCutTowardZero",
                                 R"({"AutoGC": {"IntervalMinutes": -0.5}})",
                                 [](Config& c) { c.AutoGC.IntervalMinutes = 1; },
                                 {Clamped(kInterval, "0", "1", "120")}},
                      Correction{
                          "BooleansAreOneAndZero",
                          R"({"AutoGC": {"IntervalMinutes": true},
                       "GCCVars": {"NumRetriesBeforeForcingGC": false, "TimeBetweenPurgingSeconds": true}})",
                          [](Config& c) {
                            c.AutoGC.IntervalMinutes = 1;
                            c.GCCVars.NumRetriesBeforeForcingGC = 1;
                            c.GCCVars.TimeBetweenPurgingSeconds = 5.0f;
                          },
                          {Clamped(kPurge, "1", "5", "300"), Clamped(kRetries, "0", "1", "20")}},
                      Correction{"IntegerIntoAFloat",
                                 R"({"GCCVars": {"TimeBetweenPurgingSeconds": 42}})",
                                 [](Config& c) { c.GCCVars.TimeBetweenPurgingSeconds = 42.0f; },
                                 {}},
                      Correction{"DecimalIntoTheNearestFloat",
                                 R"({"StructureNetFreq": {"NetUpdateFreq": 0.3}})",
                                 [](Config& c) { c.StructureNetFreq.NetUpdateFreq = 0.3f; },
                                 {}}),
    RowName<Correction>);

// Numbers that do not fit the field are saturated before the range check, so
// they land on the nearer bound instead of wrapping or being undefined.
INSTANTIATE_TEST_SUITE_P(
    OversizedNumbers, ConfigCorrectionTest,
    ::testing::Values(
        Correction{"HugeFloatIntoAnInteger",
                   R"({"AutoGC": {"IntervalMinutes": 1e10}})",
                   [](Config& c) { c.AutoGC.IntervalMinutes = 120; },
                   {Clamped(kInterval, "2147483647", "1", "120")}},
        Correction{"HugeNegativeFloatIntoAnInteger",
                   R"({"AutoGC": {"IntervalMinutes": -1e10}})",
                   [](Config& c) { c.AutoGC.IntervalMinutes = 1; },
                   {Clamped(kInterval, "-2147483648", "1", "120")}},
        Correction{"UnsignedAboveInt32",
                   R"({"AutoGC": {"IntervalMinutes": 3000000000}})",
                   [](Config& c) { c.AutoGC.IntervalMinutes = 120; },
                   {Clamped(kInterval, "2147483647", "1", "120")}},
        Correction{"NegativeBelowInt32",
                   R"({"AutoGC": {"IntervalMinutes": -3000000000}})",
                   [](Config& c) { c.AutoGC.IntervalMinutes = 1; },
                   {Clamped(kInterval, "-2147483648", "1", "120")}},
        Correction{"LargestUnsigned",
                   R"({"PhysicsCVars": {"ServerMaxFPS": 18446744073709551615}})",
                   [](Config& c) { c.PhysicsCVars.ServerMaxFPS = 120; },
                   {Clamped(kFps, "2147483647", "10", "120")}},
        Correction{"HugeIntoAFloat",
                   R"({"GCCVars": {"TimeBetweenPurgingSeconds": 1e300}})",
                   [](Config& c) { c.GCCVars.TimeBetweenPurgingSeconds = 300.0f; },
                   {Clamped(kPurge, "3.40282e+38", "5", "300")}},
        Correction{"HugeNegativeIntoAFloat",
                   R"({"StructureNetFreq": {"NetUpdateFreq": -1e300}})",
                   [](Config& c) {
                     c.StructureNetFreq.NetUpdateFreq = 0.1f;
                     c.StructureNetFreq.MinNetUpdateFreq = 0.05f;
                   },
                   {Clamped(kNet, "-3.40282e+38", "0.05", "10"),
                    "[Quillmoor] Config: 'StructureNetFreq.MinNetUpdateFreq' (0.1) > "
                    "'NetUpdateFreq' (0.05), swapped."}},
        // Unclamped, so only saturation keeps 4294967295 from becoming -1.
        Correction{"MaxObjectsSaturatesHigh",
                   R"({"GCCVars": {"MaxObjectsNotConsideredByGC": 4294967295}})",
                   [](Config& c) { c.GCCVars.MaxObjectsNotConsideredByGC = 2147483647; },
                   {}},
        Correction{"MaxObjectsSaturatesLow",
                   R"({"GCCVars": {"MaxObjectsNotConsideredByGC": -1e10}})",
                   [](Config& c) { c.GCCVars.MaxObjectsNotConsideredByGC = -2147483647 - 1; },
                   {}}),
    RowName<Correction>);

INSTANTIATE_TEST_SUITE_P(
    FrequencyOrder, ConfigCorrectionTest,
    ::testing::Values(
        Correction{"MinAboveMaxIsSwapped",
                   R"({"StructureNetFreq": {"NetUpdateFreq": 0.1, "MinNetUpdateFreq": 0.5}})",
                   [](Config& c) {
                     c.StructureNetFreq = {true, 0.5f, 0.1f, 300};
                   },
                   {"[Quillmoor] Config: 'StructureNetFreq.MinNetUpdateFreq' (0.5) > "
                    "'NetUpdateFreq' (0.1), swapped."}},
        Correction{"MinAboveMaxIsSwappedAfterClamping",
                   R"({"StructureNetFreq": {"NetUpdateFreq": 0.2, "MinNetUpdateFreq": 20}})",
                   [](Config& c) {
                     c.StructureNetFreq = {true, 10.0f, 0.2f, 300};
                   },
                   {Clamped(kMin, "20", "0.05", "10"),
                    "[Quillmoor] Config: 'StructureNetFreq.MinNetUpdateFreq' (10) > "
                    "'NetUpdateFreq' (0.2), swapped."}},
        Correction{"EqualFrequenciesStay",
                   R"({"StructureNetFreq": {"NetUpdateFreq": 0.3, "MinNetUpdateFreq": 0.3}})",
                   [](Config& c) {
                     c.StructureNetFreq = {true, 0.3f, 0.3f, 300};
                   },
                   {}}),
    RowName<Correction>);

// --- broken files ------------------------------------------------------------------

TEST_F(ConfigTest, TypeErrorInTheMiddleKeepsWhatWasReadBeforeIt) {
  WriteConfig(R"({
    "ConfigVersion": 3,
    "AutoGC": {"Enabled": false, "IntervalMinutes": 0},
    "Rcon": {"CommandName": "Gc"},
    "GCCVars": {"Enabled": false, "TimeBetweenPurgingSeconds": 42, "NumRetriesBeforeForcingGC": "7",
                "ActorClusteringEnabled": false, "MaxObjectsNotConsideredByGC": 9},
    "PhysicsCVars": {"Enabled": false},
    "VerboseLogging": true
  })");
  const std::string before = ReadFile(ConfigPath());

  const auto config = Load();
  EXPECT_EQ(config, Expected([](Config& c) {
              c.AutoGC = {false, 1};
              c.Rcon.CommandName = "Gc";
              c.GCCVars.Enabled = false;
              c.GCCVars.TimeBetweenPurgingSeconds = 42.0f;
            }));
  // What was read is still range-checked after the error.
  EXPECT_EQ(Messages(), (Strings{
                            "[Quillmoor] Config parse error: [json.exception.type_error.302] type "
                            "must be number, but is string",
                            Clamped(kInterval, "0", "1", "120"),
                        }));
  EXPECT_EQ(MessagesAt("error").size(), 1u);
  EXPECT_EQ(ReadFile(ConfigPath()), before);
}

struct Broken {
  const char* name;
  const char* text;
  const char* error;  // the library's message after "Config parse error: "
};

class ConfigBrokenFileTest : public ConfigTest, public ::testing::WithParamInterface<Broken> {};

TEST_P(ConfigBrokenFileTest, ErrorIsLoggedAndTheFileIsLeftAsItIs) {
  WriteConfig(GetParam().text);
  const auto config = Load();
  EXPECT_EQ(config, Config{});
  EXPECT_EQ(Messages(),
            Strings{std::string("[Quillmoor] Config parse error: ") + GetParam().error});
  EXPECT_EQ(ReadFile(ConfigPath()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    WrongTypes, ConfigBrokenFileTest,
    ::testing::Values(
        // AutoGC is looked up without a presence test, so its absence is a null.
        Broken{"OnlyTheVersion", R"({"ConfigVersion": 3})",
               "[json.exception.type_error.306] cannot use value() with null"},
        Broken{"TopLevelArray", "[3]",
               "[json.exception.type_error.306] cannot use value() with array"},
        Broken{"TopLevelNull", "null",
               "[json.exception.type_error.306] cannot use value() with null"},
        Broken{"VersionAsString", R"({"ConfigVersion": "3"})",
               "[json.exception.type_error.302] type must be number, but is string"},
        Broken{"EnabledAsNumber", R"({"ConfigVersion": 3, "AutoGC": {"Enabled": 1}})",
               "[json.exception.type_error.302] type must be boolean, but is number"},
        Broken{"SectionAsArray", R"({"ConfigVersion": 3, "AutoGC": []})",
               "[json.exception.type_error.306] cannot use value() with array"},
        Broken{"OptionalSectionAsNumber",
               R"({"ConfigVersion": 3, "AutoGC": {}, "Rcon": {}, "GCCVars": 7})",
               "[json.exception.type_error.306] cannot use value() with number"},
        Broken{"CommandNameAsNumber",
               R"({"ConfigVersion": 3, "AutoGC": {}, "Rcon": {"CommandName": 5}})",
               "[json.exception.type_error.302] type must be string, but is number"},
        Broken{"NullValue", R"({"ConfigVersion": 3, "AutoGC": {"IntervalMinutes": null}})",
               "[json.exception.type_error.302] type must be number, but is null"},
        Broken{"FlagAsString",
               R"({"ConfigVersion": 3, "AutoGC": {}, "Rcon": {}, "VerboseLogging": "yes"})",
               "[json.exception.type_error.302] type must be boolean, but is string"}),
    RowName<Broken>);

TEST_F(ConfigTest, TextThatIsNotJsonIsAParseErrorAndTheFileIsLeftAsItIs) {
  for (const std::string text : {"", "{\"AutoGC\": ", "ConfigVersion = 3", "\xff\xfe{}"}) {
    SCOPED_TRACE(text);
    host().log().ClearCapture();
    WriteConfig(text);
    const auto config = Load();
    EXPECT_EQ(config, Config{});
    const auto m = Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_TRUE(
        m[0].starts_with("[Quillmoor] Config parse error: [json.exception.parse_error.101]"))
        << m[0];
    EXPECT_EQ(ReadFile(ConfigPath()), text);
  }
}

// --- outdated files --------------------------------------------------------------

struct Outdated {
  const char* name;
  const char* version;  // JSON value, or null for an absent key
  const char* found;
};

class ConfigOutdatedFileTest : public ConfigTest, public ::testing::WithParamInterface<Outdated> {};

TEST_P(ConfigOutdatedFileTest, IsKeptAsBackupAndReplacedWithTheDefaults) {
  // Valid and invalid values alike must not survive into the new file.
  WriteConfig(DefaultsWith(nlohmann::json::parse(
      std::string(R"({"AutoGC": {"IntervalMinutes": 30}, "Rcon": {"CommandName": "Old"},
                      "GCCVars": {"NumRetriesBeforeForcingGC": 99}, "ConfigVersion": )") +
      GetParam().version + "}")));
  const std::string old = ReadFile(ConfigPath());

  const auto config = Load();
  EXPECT_EQ(config, Config{});
  EXPECT_EQ(ReadFile(ConfigPath()), DefaultsText());
  EXPECT_EQ(ReadFile(BackupPath()), old);
  EXPECT_EQ(Messages(),
            (Strings{
                std::string("[Quillmoor] PluginConfig.json version mismatch (found: ") +
                    GetParam().found + ", expected: 3) — regenerating with new defaults.",
                "[Quillmoor] Outdated PluginConfig.json kept as: " + BackupPathText(),
                "[Quillmoor] PluginConfig.json outdated, replaced — generated with defaults at: " +
                    ConfigPathText(),
            }));
  EXPECT_EQ(MessagesAt("warning").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ConfigOutdatedFileTest,
    ::testing::Values(Outdated{"Two", "2", "2"}, Outdated{"Absent", "null", "0"},
                      Outdated{"Four", "4", "4"}, Outdated{"Negative", "-3", "-3"},
                      Outdated{"True", "true", "1"},
                      // Wrapped to 32 bits this would read as 3, a current file.
                      Outdated{"ThreeAbove32Bits", "4294967299", "2147483647"},
                      Outdated{"Huge", "1e10", "2147483647"}),
    RowName<Outdated>);

// --- files that are there but cannot be read -----------------------------------------

struct Unreadable {
  const char* name;
  std::function<void(const std::filesystem::path&)> make;
  const char* reason;  // what the reader found, in the line
};

class ConfigUnreadableFileTest : public ConfigTest,
                                 public ::testing::WithParamInterface<Unreadable> {};

// Tests run as root, which reads a file of any mode: a directory and a link
// to itself stand in for a file that is locked or not ours to read.
TEST_P(ConfigUnreadableFileTest, IsReportedAndNotOverwritten) {
#if defined(_WIN32)
  // Creating a symbolic link takes a privilege that servers and Wine lack;
  // there, a file held open without delete sharing is the unreadable one.
  if (std::string_view(GetParam().name).find("Link") != std::string_view::npos) {
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
  }
#endif
  GetParam().make(ConfigPath());
  const auto kind = std::filesystem::symlink_status(ConfigPath()).type();

  const auto config = Load();
  EXPECT_EQ(config, Config{});
  EXPECT_EQ(
      Messages(),
      (Strings{"[Quillmoor] PluginConfig.json exists but cannot be read: " + ConfigPathText() +
               " (" + GetParam().reason + "). Using defaults; the file is left unchanged."}));
  EXPECT_EQ(MessagesAt("error").size(), 1u);
  EXPECT_EQ(std::filesystem::symlink_status(ConfigPath()).type(), kind);
  EXPECT_EQ(ReadFile(GuidePath()), GuideText());
}

INSTANTIATE_TEST_SUITE_P(Kinds, ConfigUnreadableFileTest,
                         ::testing::Values(Unreadable{"Directory",
                                                      [](const auto& path) {
                                                        std::filesystem::create_directory(path);
                                                        WriteFile(path / "kept", "x");
                                                      },
                                                      "a folder"},
                                           Unreadable{"LinkToItself",
                                                      [](const auto& path) {
                                                        std::filesystem::create_symlink(
                                                            path.filename(), path);
                                                      },
                                                      "Too many levels of symbolic links"},
                                           // Its target must not be created either.
                                           Unreadable{"BrokenLink",
                                                      [](const auto& path) {
                                                        std::filesystem::create_symlink(
                                                            "elsewhere.json", path);
                                                      },
                                                      "a link to nothing"}),
                         RowName<Unreadable>);

}  // namespace
