// ReadConfig on its own, linked without host, logger or the rest of the
// plugin, as an operator tool links it: the decisions it returns for files
// that stop early, are outdated, or need correcting.
#include <gtest/gtest.h>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "config/reading.h"
#include "config/settings.h"

namespace Quillmoor {

void PrintTo(const SettingNumber& number, std::ostream* out) {
  std::visit([&](auto value) { *out << value; }, number);
}

void PrintTo(const CommandNameProblem& problem, std::ostream* out) {
  *out << problem.Text();
}

void PrintTo(const Clamp& clamp, std::ostream* out) {
  *out << clamp.key_path << ": ";
  PrintTo(clamp.found, out);
  *out << " -> ";
  PrintTo(clamp.used, out);
}

}  // namespace Quillmoor

namespace {

using Quillmoor::Clamp;
using Quillmoor::Config;
using Quillmoor::FrequencySwap;
using Quillmoor::ReadConfig;
using Quillmoor::VersionCheck;

struct Case {
  const char* name;
  const char* text;
  std::optional<VersionCheck> version;
  const char* error_at;      // nullptr: no error
  const char* error_prefix;  // the start of the library's message
  std::function<void(Config&)> expect;
  std::vector<Clamp> clamps = {};
  std::optional<FrequencySwap> swap = std::nullopt;
};

class ReadConfigTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReadConfigTest, DecisionsAndRecordAreAsExpected) {
  const Case& c = GetParam();
  const auto reading = ReadConfig(c.text);

  EXPECT_EQ(reading.version, c.version);
  if (c.error_at == nullptr) {
    EXPECT_FALSE(reading.error) << reading.error->message;
  } else {
    ASSERT_TRUE(reading.error);
    EXPECT_EQ(reading.error->key_path, c.error_at);
    EXPECT_TRUE(reading.error->message.starts_with(c.error_prefix)) << reading.error->message;
  }
  Config expected;
  c.expect(expected);
  EXPECT_EQ(reading.config, expected);
  EXPECT_EQ(reading.clamps, c.clamps);
  EXPECT_EQ(reading.swap, c.swap);
}

const auto kNothing = [](Config&) {};
constexpr VersionCheck kCurrent{3, false};
constexpr const char* kTypeError = "[json.exception.type_error.302] type must be";
constexpr const char* kNotAnObject = "[json.exception.type_error.306] cannot use value() with";

INSTANTIATE_TEST_SUITE_P(
    WhereTheReadStops, ReadConfigTest,
    ::testing::Values(
        Case{"NotJson", "{\"AutoGC\": ", std::nullopt, "", "[json.exception.parse_error.101]",
             kNothing},
        Case{"Empty", "", std::nullopt, "", "[json.exception.parse_error.101]", kNothing},
        Case{"TopLevelArray", "[3]", std::nullopt, "ConfigVersion", kNotAnObject, kNothing},
        Case{"VersionAsString", R"({"ConfigVersion": "3"})", std::nullopt, "ConfigVersion",
             kTypeError, kNothing},
        // AutoGC and Rcon are looked up without a presence test.
        Case{"NoAutoGC", R"({"ConfigVersion": 3})", kCurrent, "AutoGC.Enabled", kNotAnObject,
             kNothing},
        Case{"NoRcon", R"({"ConfigVersion": 3, "AutoGC": {"IntervalMinutes": 30}})", kCurrent,
             "Rcon.CommandName", kNotAnObject, [](Config& c) { c.AutoGC.IntervalMinutes = 30; }},
        Case{"OptionalSectionNotAnObject",
             R"({"ConfigVersion": 3, "AutoGC": {}, "Rcon": {}, "PhysicsCVars": 7})", kCurrent,
             "PhysicsCVars.Enabled", kNotAnObject, kNothing},
        // What was read before the error is kept and still range-checked.
        Case{"WrongTypeInTheMiddle",
             R"({"ConfigVersion": 3, "AutoGC": {"IntervalMinutes": 0}, "Rcon": {},
                 "GCCVars": {"TimeBetweenPurgingSeconds": 42, "NumRetriesBeforeForcingGC": "7"}})",
             kCurrent,
             "GCCVars.NumRetriesBeforeForcingGC",
             kTypeError,
             [](Config& c) {
               c.AutoGC.IntervalMinutes = 1;
               c.GCCVars.TimeBetweenPurgingSeconds = 42.0f;
             },
             {Clamp{"AutoGC.IntervalMinutes", 0, 1, 120, 1}}},
        Case{"LastSettingWrong",
             R"({"ConfigVersion": 3, "AutoGC": {}, "Rcon": {}, "VerboseLogging": 1})", kCurrent,
             "VerboseLogging", kTypeError, kNothing}),
    [](const auto& row) { return std::string(row.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Versions, ReadConfigTest,
    ::testing::Values(
        // Outdated: nothing else is read or checked, whatever the file holds.
        Case{"Outdated", R"({"ConfigVersion": 2, "AutoGC": {"IntervalMinutes": 0}, "Rcon": 5})",
             VersionCheck{2, true}, nullptr, nullptr, kNothing},
        Case{"Absent", R"({"AutoGC": {}, "Rcon": {}})", VersionCheck{0, true}, nullptr, nullptr,
             kNothing},
        Case{"FractionCutToCurrent", R"({"ConfigVersion": 3.9, "AutoGC": {}, "Rcon": {}})",
             kCurrent, nullptr, nullptr, kNothing}),
    [](const auto& row) { return std::string(row.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Corrections, ReadConfigTest,
    ::testing::Values(
        Case{"IntegerBelowAndAbove",
             R"({"ConfigVersion": 3, "AutoGC": {"IntervalMinutes": -5}, "Rcon": {},
                 "StructureNetFreq": {"CheckIntervalSeconds": 3601}})",
             kCurrent,
             nullptr,
             nullptr,
             [](Config& c) {
               c.AutoGC.IntervalMinutes = 1;
               c.StructureNetFreq.CheckIntervalSeconds = 3600;
             },
             {Clamp{"AutoGC.IntervalMinutes", -5, 1, 120, 1},
              Clamp{"StructureNetFreq.CheckIntervalSeconds", 3601, 60, 3600, 3600}}},
        // The found value is the field's own, after saturation to the float.
        Case{"FloatClampedThenSwapped",
             R"({"ConfigVersion": 3, "AutoGC": {}, "Rcon": {},
                 "StructureNetFreq": {"NetUpdateFreq": -1e300}})",
             kCurrent,
             nullptr,
             nullptr,
             [](Config& c) {
               c.StructureNetFreq.NetUpdateFreq = 0.1f;
               c.StructureNetFreq.MinNetUpdateFreq = 0.05f;
             },
             {Clamp{"StructureNetFreq.NetUpdateFreq", std::numeric_limits<float>::lowest(), 0.05f,
                    10.0f, 0.05f}},
             FrequencySwap{0.1f, 0.05f}},
        Case{"InRangeFileDecidesNothing",
             R"({"ConfigVersion": 3, "AutoGC": {"IntervalMinutes": 120}, "Rcon": {}})", kCurrent,
             nullptr, nullptr, [](Config& c) { c.AutoGC.IntervalMinutes = 120; }}),
    [](const auto& row) { return std::string(row.param.name); });

// --- the force-GC command's name ------------------------------------------

using Kind = Quillmoor::CommandNameProblem::Kind;

struct NameCase {
  const char* name;
  std::string command_name;
  std::optional<Kind> refused;  // nullopt: the name is used as written
  std::string shown = {};
  std::string_view command = {};
};

TEST(CommandNameTest, AnUnusableNameIsRefusedForTheDefault) {
  using namespace std::string_literals;
  std::string escaped_line_feeds;
  for (int i = 0; i < 64; ++i) {
    escaped_line_feeds += "\\n";
  }
  escaped_line_feeds += "...";
  const NameCase cases[] = {
      {"renamed", "CleanUp", std::nullopt},
      {"letters beyond ASCII", "S\xc3\xa4ubern", std::nullopt},
      {"64 bytes", std::string(64, 'n'), std::nullopt},
      {"a framework command's name inside a longer one", "statusReport", std::nullopt},
      {"65 bytes", std::string(65, 'n'), Kind::kTooLong, std::string(64, 'n') + "..."},
      {"empty", "", Kind::kEmpty, ""},
      {"space", "Force GC", Kind::kWhitespace, "Force GC"},
      {"no-break space", "Force\xc2\xa0GC", Kind::kWhitespace, "Force\xc2\xa0GC"},
      {"ideographic space", "Force\xe3\x80\x80GC", Kind::kWhitespace, "Force\xe3\x80\x80GC"},
      {"line feed", "GC\n[AsaApi][error] x", Kind::kControlCharacter, "GC\\n[AsaApi][error] x"},
      {"NUL", "Force\0GC"s, Kind::kControlCharacter, "Force\\x00GC"},
      {"DEL", "Force\x7f", Kind::kControlCharacter, "Force\\x7f"},
      {"C1 control",
       "\xc2\x9b"
       "31m",
       Kind::kControlCharacter, "\\u009b31m"},
      {"a megabyte of line feeds, shown as the first 64", std::string(1 << 20, '\n'),
       Kind::kControlCharacter, escaped_line_feeds},
      {"statistics command in any case", "getSERVERstats", Kind::kStatsCommand, "getSERVERstats",
       "GetServerStats"},
      {"framework command", "Plugins.Unload", Kind::kFrameworkCommand, "Plugins.Unload",
       "plugins.unload"},
      {"framework status", "STATUS", Kind::kFrameworkCommand, "STATUS", "status"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    nlohmann::json doc = {{"ConfigVersion", 3}, {"AutoGC", nlohmann::json::object()}};
    doc["Rcon"]["CommandName"] = c.command_name;
    const auto reading = Quillmoor::ReadConfig(doc.dump());
    ASSERT_FALSE(reading.error) << reading.error->message;
    if (!c.refused) {
      EXPECT_FALSE(reading.command_name);
      EXPECT_EQ(reading.config.Rcon.CommandName, c.command_name);
      continue;
    }
    EXPECT_EQ(reading.command_name,
              (Quillmoor::CommandNameProblem{*c.refused, c.shown, c.command}));
    EXPECT_EQ(reading.config.Rcon.CommandName, Quillmoor::kCommandNameSetting.default_value);
  }
}

// The JSON library parses and frees nesting without recursion, so half a
// million brackets (1 MiB, the largest file read) are a type error, not a
// blown stack at start-up.
TEST(ReadConfigNestingTest, ValueNestedHalfAMillionDeepIsATypeError) {
  const std::string deep = std::string(500'000, '[') + std::string(500'000, ']');
  const auto reading = ReadConfig(R"({"ConfigVersion": 3, "AutoGC": {"Enabled": )" + deep + "}}");
  ASSERT_TRUE(reading.error);
  EXPECT_EQ(reading.error->key_path, "AutoGC.Enabled");
  EXPECT_EQ(reading.config, Config{});
}

}  // namespace
