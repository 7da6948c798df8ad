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

#include "config/command_name.h"
#include "config/reading.h"
#include "config/settings.h"
#include "formats/replies.h"

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

// Any string is kept as written: no refusal, no default in its place.
TEST(CommandNameTest, EveryNameIsKeptAsWritten) {
  using namespace std::string_literals;
  const std::string names[] = {
      "",
      "CleanUp",
      "S\xc3\xa4ubern",
      std::string(100, 'n'),
      "Force GC",
      "GC\n[AsaApi][error] x",
      "Force\0GC"s,
      "\xc2\x9b"
      "31m",
      "getSERVERstats",
      "Plugins.Unload",
      std::string(1 << 19, '\n'),
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name.substr(0, 20));
    nlohmann::json doc = {{"ConfigVersion", 3}, {"AutoGC", nlohmann::json::object()}};
    doc["Rcon"]["CommandName"] = name;
    const auto reading = Quillmoor::ReadConfig(doc.dump());
    ASSERT_FALSE(reading.error) << reading.error->message;
    EXPECT_EQ(reading.config.Rcon.CommandName, name);
  }
}

// The checker's advice: the first surprise found, in the order of Kind.
TEST(CommandNameTest, AdviceNamesTheFirstSurprise) {
  using namespace std::string_literals;
  using Kind = Quillmoor::CommandNameProblem::Kind;
  struct Row {
    std::string name;
    std::optional<Kind> kind;  // nullopt: nothing to say
    std::string shown = {};
    std::string_view command = {};
  };
  // The statistics command's name with the case of every other letter turned.
  std::string mixed_case_stats = formats::kStatsCommand;
  for (std::size_t i = 0; i < mixed_case_stats.size(); i += 2) {
    char& c = mixed_case_stats[i];
    c = static_cast<char>(c >= 'a' && c <= 'z'   ? c - 'a' + 'A'
                          : c >= 'A' && c <= 'Z' ? c - 'A' + 'a'
                                                 : c);
  }
  ASSERT_NE(mixed_case_stats, formats::kStatsCommand);
  const Row rows[] = {
      {"CleanUp", std::nullopt},
      {"S\xc3\xa4ubern", std::nullopt},
      {std::string(100, 'n'), std::nullopt},
      {"statusReport", std::nullopt},
      {"", Kind::kEmpty, ""},
      {"Force GC", Kind::kWhitespace, "Force GC"},
      {"Force\xc2\xa0GC", Kind::kWhitespace, "Force\xc2\xa0GC"},
      {"Force\xe3\x80\x80GC", Kind::kWhitespace, "Force\xe3\x80\x80GC"},
      {"GC\n[AsaApi] x", Kind::kControlCharacter, "GC\\n[AsaApi] x"},
      {"Force\0GC"s, Kind::kControlCharacter, "Force\\x00GC"},
      {"Force\x7f", Kind::kControlCharacter, "Force\\x7f"},
      {"\xc2\x9b"
       "31m",
       Kind::kControlCharacter, "\\u009b31m"},
      {std::string(1 << 20, '\n'), Kind::kControlCharacter,
       [] {
         std::string shown;
         for (int i = 0; i < 64; ++i) {
           shown += "\\n";
         }
         return shown + "...";
       }()},
      {mixed_case_stats, Kind::kStatsCommand, mixed_case_stats, formats::kStatsCommand},
      {"Plugins.Unload", Kind::kFrameworkCommand, "Plugins.Unload", "plugins.unload"},
      {"STATUS", Kind::kFrameworkCommand, "STATUS", "status"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name.substr(0, 20));
    const auto advice = Quillmoor::CheckCommandName(row.name);
    if (!row.kind) {
      EXPECT_FALSE(advice) << advice->Text();
      continue;
    }
    EXPECT_EQ(advice, (Quillmoor::CommandNameProblem{*row.kind, row.shown, row.command}));
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
