// Tests of quillmoor-config's check: broken files, each with the findings'
// key paths and severities, the exit code and the configuration the plugin
// will run, written out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/default_document.h"
#include "config/guide.h"
#include "config_check/check.h"
#include "config_check/commands.h"
#include "formats/replies.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace config_tool {
namespace {

using nlohmann::json;
using Quillmoor::Config;

// The defaults document as the plugin writes it; its bytes are the golden
// file's, checked where the document is built.
json Defaults() {
  return Quillmoor::BuildDefaultDocument(Config());
}

// `name` with the case of every letter turned: the plugin's names match
// whatever their case.
std::string OtherCase(std::string name) {
  for (char& c : name) {
    c = static_cast<char>(c >= 'a' && c <= 'z'   ? c - 'a' + 'A'
                          : c >= 'A' && c <= 'Z' ? c - 'A' + 'a'
                                                 : c);
  }
  return name;
}

// A setting of the defaults document as it is written there: key and default.
std::string Written(std::string_view key, const std::string& value) {
  return "\"" + std::string(key) + "\": " + value;
}
const std::string kInterval =
    Written("IntervalMinutes", std::to_string(Config().AutoGC.IntervalMinutes));
const std::string kCommandName = "\"" + Config().Rcon.CommandName + "\"";

struct Case {
  const char* name;
  std::function<void(json&)> edit;  // applied to the defaults document
  std::vector<std::pair<Severity, std::string>> findings;
  int exit_code;
  std::function<void(Config&)> effective;  // applied to Config{}
};

const Severity E = Severity::kError, W = Severity::kWarning, N = Severity::kNote;

const std::vector<Case> kCases = {
    {"wrong type stops the read",
     [](json& d) {
       d["AutoGC"]["Enabled"] = "false";
       d["PhysicsCVars"]["ServerMaxFPS"] = 45;
       d["Rcon"]["CommandName"] = "CleanUp";
     },
     {{E, "AutoGC.Enabled"}, {E, "Rcon.CommandName"}, {E, "PhysicsCVars.ServerMaxFPS"}},
     2,
     [](Config&) {}},
    {"a colliding name behind a wrong type is named too",
     [](json& d) {
       d["AutoGC"]["Enabled"] = 1;
       d["Rcon"]["CommandName"] = OtherCase(formats::kStatsCommand);
     },
     {{E, "AutoGC.Enabled"}, {E, "Rcon.CommandName"}, {W, "Rcon.CommandName"}},
     2,
     [](Config&) {}},
    {"wrong type in the middle of a section",
     [](json& d) {
       d["GCCVars"]["TimeBetweenPurgingSeconds"] = 30;
       d["GCCVars"]["NumRetriesBeforeForcingGC"] = "7";
       d["GCCVars"]["MaxObjectsNotConsideredByGC"] = 9;
     },
     {{E, "GCCVars.NumRetriesBeforeForcingGC"}, {E, "GCCVars.MaxObjectsNotConsideredByGC"}},
     2,
     [](Config& c) { c.GCCVars.TimeBetweenPurgingSeconds = 30; }},
    {"misspelt keys",
     [](json& d) {
       d["AutoGC"]["IntervalMinute"] = 10;
       d["autogc"] = json::object();
       d["Zzzzzz"] = 1;
     },
     {{W, "AutoGC.IntervalMinute"}, {W, "Zzzzzz"}, {W, "autogc"}},
     1,
     [](Config&) {}},
    {"AutoGC missing",
     [](json& d) {
       d.erase("AutoGC");
       d["PhysicsCVars"]["ServerMaxFPS"] = 45;
     },
     {{E, "AutoGC"}, {E, "PhysicsCVars.ServerMaxFPS"}},
     2,
     [](Config&) {}},
    {"GCCVars missing",
     [](json& d) {
       d.erase("GCCVars");
       d["VerboseLogging"] = true;
     },
     {{N, "GCCVars"}},
     0,
     [](Config& c) { c.VerboseLogging = true; }},
    {"clamped and swapped",
     [](json& d) {
       d["AutoGC"]["IntervalMinutes"] = 500;
       d["StructureNetFreq"]["MinNetUpdateFreq"] = 20;
     },
     {{W, "AutoGC.IntervalMinutes"},
      {W, "StructureNetFreq.MinNetUpdateFreq"},
      {W, "StructureNetFreq.MinNetUpdateFreq"}},
     1,
     [](Config& c) {
       c.AutoGC.IntervalMinutes = 120;
       c.StructureNetFreq.NetUpdateFreq = 10.0f;
       c.StructureNetFreq.MinNetUpdateFreq = 0.2f;
     }},
    {"outdated version",
     [](json& d) {
       d["ConfigVersion"] = 2;
       d["AutoGC"]["IntervalMinutes"] = 30;
     },
     {{E, "ConfigVersion"}},
     2,
     [](Config&) {}},
    {"newer version",
     [](json& d) { d["ConfigVersion"] = 4; },
     {{E, "ConfigVersion"}},
     2,
     [](Config&) {}},
    {"no version",
     [](json& d) { d.erase("ConfigVersion"); },
     {{E, "ConfigVersion"}},
     2,
     [](Config&) {}},
    {"renamed command",
     [](json& d) { d["Rcon"]["CommandName"] = "CleanUp"; },
     {},
     0,
     [](Config& c) { c.Rcon.CommandName = "CleanUp"; }},
    // Advice only: the plugin registers each of these as written.
    {"command named like the statistics command",
     [](json& d) { d["Rcon"]["CommandName"] = OtherCase(formats::kStatsCommand); },
     {{W, "Rcon.CommandName"}},
     1,
     [](Config& c) { c.Rcon.CommandName = OtherCase(formats::kStatsCommand); }},
    {"command named like a framework command",
     [](json& d) { d["Rcon"]["CommandName"] = "Plugins.Unload"; },
     {{W, "Rcon.CommandName"}},
     1,
     [](Config& c) { c.Rcon.CommandName = "Plugins.Unload"; }},
    {"command with a space",
     [](json& d) { d["Rcon"]["CommandName"] = "Force GC"; },
     {{W, "Rcon.CommandName"}},
     1,
     [](Config& c) { c.Rcon.CommandName = "Force GC"; }},
    {"empty command",
     [](json& d) { d["Rcon"]["CommandName"] = ""; },
     {{W, "Rcon.CommandName"}},
     1,
     [](Config& c) { c.Rcon.CommandName = ""; }},
    {"long command",
     [](json& d) { d["Rcon"]["CommandName"] = std::string(100, 'n'); },
     {},
     0,
     [](Config& c) { c.Rcon.CommandName = std::string(100, 'n'); }},
    {"misspelt section whose values are lost",
     [](json& d) {
       d["GCCvars"] = d["GCCVars"];
       d.erase("GCCVars");
       d["GCCvars"]["NumRetriesBeforeForcingGC"] = 7;
     },
     {{N, "GCCVars"}, {E, "GCCvars"}},
     2,
     [](Config&) {}},
    {"fraction cut and a flag as a number",
     [](json& d) {
       d["AutoGC"]["IntervalMinutes"] = 15.7;
       d["PhysicsCVars"]["ServerMaxFPS"] = true;
     },
     {{W, "AutoGC.IntervalMinutes"},
      {W, "PhysicsCVars.ServerMaxFPS"},
      {W, "PhysicsCVars.ServerMaxFPS"}},
     1,
     [](Config& c) {
       c.AutoGC.IntervalMinutes = 15;
       c.PhysicsCVars.ServerMaxFPS = 10;
     }},
};

std::vector<std::pair<Severity, std::string>> Sorted(
    std::vector<std::pair<Severity, std::string>> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(ConfigCheckTest, BrokenFiles) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    json doc = Defaults();
    c.edit(doc);
    const CheckResult r = CheckConfigText(doc.dump(2));
    std::vector<std::pair<Severity, std::string>> got;
    for (const auto& f : r.findings) {
      got.emplace_back(f.severity, f.key_path);
      // An operator told of a problem is told what to write instead.
      EXPECT_TRUE(f.severity == Severity::kNote || !f.fix.empty()) << f.message;
    }
    EXPECT_EQ(Sorted(got), Sorted(c.findings));
    EXPECT_EQ(r.ExitCode(), c.exit_code);
    Config expected;
    c.effective(expected);
    EXPECT_EQ(r.effective, expected);
    EXPECT_FALSE(r.defaults_document);
  }
}

// What the operator reads: what the plugin will do with the name, quoted
// escaped and cut, and what to write instead.
TEST(ConfigCheckTest, ASurprisingNameIsAdviceThatSaysWhatWillHappen) {
  struct Row {
    std::string name;
    std::string message;
    std::string fix;
  };
  const std::string stats = formats::kStatsCommand;
  const Row rows[] = {
      {stats,
       "value '" + stats + "' is the name of '" + stats +
           "' (case does not matter): the plugin registers both under one name, and every " +
           stats + " poll will force a collection",
       "write another name, or " + Config().Rcon.CommandName},
      {"Gc\n" + std::string(100000, 'x'),
       "value 'Gc\\n" + std::string(61, 'x') +
           "...' holds a control character, which no client sends: the force-GC command is "
           "registered but cannot be reached",
       "write one word of letters, digits, '.' or '_'"},
      {"status",
       "value 'status' is the server's own command 'status' (case does not matter): the plugin "
       "registers it anyway, and which of the two answers is the server's matter",
       "write another name, or " + Config().Rcon.CommandName},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name.substr(0, 20));
    json doc = Defaults();
    doc["Rcon"]["CommandName"] = row.name;
    const CheckResult r = CheckConfigText(doc.dump(2));
    ASSERT_EQ(r.findings.size(), 1u);
    EXPECT_EQ(r.findings[0].severity, Severity::kWarning);
    EXPECT_EQ(r.findings[0].message, row.message);
    EXPECT_EQ(r.findings[0].fix, row.fix);
    EXPECT_EQ(r.effective.Rcon.CommandName, row.name);
    EXPECT_EQ(r.ExitCode(), 1);
  }
}

TEST(ConfigCheckTest, TheDefaultsDocumentIsCleanAndSaysSo) {
  const CheckResult r = CheckConfigText(Defaults().dump(2));
  EXPECT_TRUE(r.findings.empty());
  EXPECT_TRUE(r.defaults_document);
  EXPECT_EQ(r.ExitCode(), 0);
}

TEST(ConfigCheckTest, NotJsonGivesTheLineAndTheDefaults) {
  const CheckResult r = CheckConfigText("{\n  \"AutoGC\": {\n    \"Enabled\": tru\n");
  ASSERT_EQ(r.findings.size(), 1u);
  EXPECT_EQ(r.findings[0].severity, Severity::kError);
  EXPECT_EQ(r.findings[0].line, 3u);
  EXPECT_EQ(r.effective, Config{});
  EXPECT_EQ(r.ExitCode(), 2);
}

std::string DefaultsWith(std::string_view from, std::string_view to) {
  std::string text = Defaults().dump(2);
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Texts that each hold one mistake, placed by line and column in the
// defaults document (tests/golden/PluginConfig.json) and told in the
// operator's words, never the JSON library's.
struct PlacedCase {
  const char* name;
  std::string text;
  Severity severity;
  const char* key;
  std::size_t line, column;
  const char* in_message;
  const char* in_fix;
  int exit_code;
};

TEST(ConfigCheckTest, EachMistakeIsPlacedAndExplained) {
  using namespace std::string_literals;
  const std::string deep = std::string(70'000, '[') + std::string(70'000, ']');
  const PlacedCase cases[] = {
      {"trailing comma", DefaultsWith(kInterval, kInterval + ","), E, "", 4, kInterval.size() + 5,
       "trailing comma", "delete the comma", 2},
      {"comment", DefaultsWith("{\n    \"Enabled\"", "{ // every 15 minutes\n    \"Enabled\""), E,
       "", 2, 15, "no comments", "delete `// every 15 minutes`", 2},
      {"unit in a string",
       DefaultsWith(Written("CheckIntervalSeconds",
                            std::to_string(Config().StructureNetFreq.CheckIntervalSeconds)),
                    Written("CheckIntervalSeconds", "\"30s\"")),
       E, "StructureNetFreq.CheckIntervalSeconds", 23, 29, "`\"30s\"` is text",
       "write 30, in seconds", 2},
      {"wrong case loses the value", DefaultsWith(kInterval, Written("intervalMinutes", "10")), E,
       "AutoGC.intervalMinutes", 4, 5, "lost", "rename it to IntervalMinutes", 2},
      {"wrong case with the default value", DefaultsWith(kInterval, "\"i" + kInterval.substr(2)), W,
       "AutoGC.intervalMinutes", 4, 5, "ignores it", "rename it to IntervalMinutes", 1},
      {"number beyond a double", DefaultsWith(kInterval, Written("IntervalMinutes", "1e400")), E,
       "", 4, 24, "`1e400` is too large", "in minutes", 2},
      {"not UTF-8",
       DefaultsWith(kCommandName, kCommandName.substr(0, kCommandName.size() - 1) + "\xE9\""), E,
       "", 20, 28, "0xE9", "save it as UTF-8", 2},
      {"UTF-16", "\xFF\xFE{\0}\0"s, E, "", 1, 1, "UTF-16", "save it as UTF-8", 2},
      {"missing comma", DefaultsWith("\"Enabled\": true,", "\"Enabled\": true"), E, "", 3, 20,
       "comma is missing", "line 3", 2},
      {"capital True", DefaultsWith("true", "True"), E, "", 3, 16, "lower case", "write true", 2},
      {"section of the wrong type",
       DefaultsWith("{\n    \"CommandName\": " + kCommandName + "\n  }", "5"), E, "Rcon", 19, 11,
       "`5` is a number, not a section", "\"Rcon\": {", 2},
      {"duplicate key", DefaultsWith(kInterval, Written("IntervalMinutes", "10, ") + kInterval), W,
       "AutoGC.IntervalMinutes", 4, 5, "again at line 4, column 28", "delete one", 1},
      {"outdated version", DefaultsWith("\"ConfigVersion\": 3", "\"ConfigVersion\": 2"), E,
       "ConfigVersion", 6, 20, "outdated", "quillmoor-config migrate", 2},
      {"text after the document", DefaultsWith("false\n}", "false\n}\n}"), W, "", 30, 1,
       "ignores it", "delete it", 1},
      {"value nested 70,000 deep",
       DefaultsWith("\"Enabled\": true,", "\"Enabled\": true, \"Deep\": " + deep + ","), W,
       "AutoGC.Deep", 3, 22, "unknown key", "delete it", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CheckResult r = CheckConfigText(c.text);
    std::string all;
    for (const auto& f : r.findings) {
      all += f.message + "\n";
    }
    ASSERT_EQ(r.findings.size(), 1u) << all;
    const Finding& f = r.findings[0];
    EXPECT_EQ(f.severity, c.severity);
    EXPECT_EQ(f.key_path, c.key);
    EXPECT_EQ(f.line, c.line);
    EXPECT_EQ(f.column, c.column);
    EXPECT_NE(f.message.find(c.in_message), std::string::npos) << f.message;
    EXPECT_NE(f.fix.find(c.in_fix), std::string::npos) << f.fix;
    EXPECT_EQ((f.message + f.fix).find("json.exception"), std::string::npos);
    EXPECT_EQ(r.ExitCode(), c.exit_code);
  }
}

// A setting's exact name in another section or at the top level: where it
// belongs is named, and a value the plugin never reads is an error.
TEST(ConfigCheckTest, AKeyInTheWrongPlaceIsToldWhereItBelongs) {
  const struct {
    const char* name;
    std::function<void(json&)> edit;
    Severity severity;
    const char* key;
    const char* in_fix;
  } cases[] = {
      {"top-level key inside a section",
       [](json& d) {
         d.erase("VerboseLogging");
         d["AutoGC"]["VerboseLogging"] = true;
       },
       E, "AutoGC.VerboseLogging", "move it to the top level"},
      {"section key at the top level",
       [](json& d) {
         d["AutoGC"].erase("IntervalMinutes");
         d["IntervalMinutes"] = 30;
       },
       E, "IntervalMinutes", "move it to AutoGC"},
      {"key of another section",
       [](json& d) {
         d["PhysicsCVars"].erase("ServerMaxFPS");
         d["GCCVars"]["ServerMaxFPS"] = 60;
       },
       E, "GCCVars.ServerMaxFPS", "move it to PhysicsCVars"},
      {"a name several sections hold", [](json& d) { d["Rcon"]["Enabled"] = false; }, E,
       "Rcon.Enabled", "move it to one of AutoGC, GCCVars, PhysicsCVars or StructureNetFreq"},
      {"also set where it belongs", [](json& d) { d["AutoGC"]["VerboseLogging"] = true; }, W,
       "AutoGC.VerboseLogging", "delete it: VerboseLogging is set at line"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    json doc = Defaults();
    c.edit(doc);
    const CheckResult r = CheckConfigText(doc.dump(2));
    ASSERT_EQ(r.findings.size(), 1u) << r.findings[0].message;
    EXPECT_EQ(r.findings[0].severity, c.severity);
    EXPECT_EQ(r.findings[0].key_path, c.key);
    EXPECT_NE(r.findings[0].fix.find(c.in_fix), std::string::npos) << r.findings[0].fix;
    EXPECT_EQ(r.ExitCode(), c.severity == E ? kExitErrors : kExitWarnings);
  }
}

// Invisible and look-alike letters in a key reach the terminal and the JSON
// report escaped, never as blanks.
TEST(ConfigCheckTest, InvisibleAndLookAlikeLettersAreShownEscaped) {
  std::string text = Defaults().dump(2);
  text.replace(text.find("\"IntervalMinutes\""), 17, "\"Interval\xc2\xa0Minutes\"");
  text.replace(text.find("\"ChaosMaxSubSteps\": 2"), 21, "\"ChaosMaxSubSteps\": \"2\xe2\x80\x8b\"");
  text.replace(text.find("\"ServerMaxFPS\""), 14, "\"ServerM\xd0\xb0xFPS\"");
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "quillmoor-config-invisible.json";
  std::ofstream(path, std::ios::binary) << text;
  std::ostringstream out, err, js, js_err;
  RunCheck(path, {}, out, err);
  RunCheck(path, {.as_json = true}, js, js_err);
  std::filesystem::remove(path);
  for (const char* shown : {"AutoGC.Interval\\u00a0Minutes", "PhysicsCVars.ServerM\\u0430xFPS"}) {
    EXPECT_NE(out.str().find(shown), std::string::npos) << out.str();
  }
  std::string messages;
  const json report = json::parse(js.str());
  for (const auto& f : report["findings"]) {
    messages += f["message"].get<std::string>() + f["fix"].get<std::string>();
  }
  EXPECT_NE(messages.find("2\\u200b"), std::string::npos) << messages;
  for (const std::string raw : {"\xc2\xa0", "\xe2\x80\x8b", "\xd0\xb0"}) {
    EXPECT_EQ(out.str().find(raw), std::string::npos);
    EXPECT_EQ(messages.find(raw), std::string::npos);
  }
}

TEST(ConfigCheckTest, TheSuggestionNamesTheKnownKey) {
  json doc = Defaults();
  doc["AutoGC"]["IntervalMinute"] = 10;
  const CheckResult r = CheckConfigText(doc.dump(2));
  ASSERT_EQ(r.findings.size(), 1u);
  EXPECT_EQ(r.findings[0].message,
            "unknown key: the plugin ignores it; did you mean AutoGC.IntervalMinutes?");
}

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A document as a text-mode stream writes it: CR LF line ends on Windows.
std::string AsWritten(const json& document) {
  const std::string text = document.dump(2);
#if defined(_WIN32)
  std::string crlf;
  for (char c : text) {
    if (c == '\n') {
      crlf += '\r';
    }
    crlf += c;
  }
  return crlf;
#else
  return text;
#endif
}

TEST(ConfigInitTest, WritesBothDocumentsAsThePluginDoesAndKeepsAnExistingConfig) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "quillmoor-config-init-test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ostringstream out, err;
  EXPECT_EQ(RunInit(dir, false, out, err), kExitClean);
  EXPECT_EQ(Slurp(dir / "PluginConfig.json"), AsWritten(Defaults()));
  EXPECT_EQ(Slurp(dir / "PluginConfig.guide.json"), AsWritten(Quillmoor::BuildGuideDocument()));

  std::ofstream(dir / "PluginConfig.json") << "{\"ConfigVersion\": 3}";
  EXPECT_EQ(RunInit(dir, false, out, err), kExitTrouble);
  EXPECT_EQ(Slurp(dir / "PluginConfig.json"), "{\"ConfigVersion\": 3}");
  EXPECT_EQ(RunInit(dir, true, out, err), kExitClean);
  EXPECT_EQ(Slurp(dir / "PluginConfig.json"), AsWritten(Defaults()));
  EXPECT_EQ(RunInit(dir / "missing", false, out, err), kExitTrouble);
  fs::remove_all(dir);
}

// A scratch folder of the test's own.
class ConfigFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("quillmoor-config-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
};

struct FileCase {
  const char* name;
  // Makes what is checked inside the scratch folder; returns the path to check.
  std::function<std::filesystem::path(const std::filesystem::path&)> make;
  int exit_code;
};

// Every outcome, in both modes: the same exit code, and in --json one valid
// document on standard output (the parser refuses bytes that are not UTF-8).
TEST_F(ConfigFilesTest, CheckReadsAsThePluginDoesAndAlwaysReportsInJson) {
  namespace fs = std::filesystem;
  const auto file = [](const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
    return p;
  };
  const FileCase cases[] = {
    {"a folder without a config", [](const fs::path& d) { return d; }, kExitClean},
    {"no such file", [](const fs::path& d) { return d / "missing.json"; }, kExitTrouble},
    {"a folder named PluginConfig.json",
     [](const fs::path& d) {
       fs::create_directories(d / "PluginConfig.json");
       return d;
     },
     kExitTrouble},
    {"over 1 MiB",
     [&](const fs::path& d) {
       return file(d / "big.json", "{}" + std::string((1 << 20) - 1, ' '));
     },
     kExitTrouble},
    {"bytes that are not UTF-8",
     [&](const fs::path& d) { return file(d / "latin1.json", "{\"Rcon\xE9\": 1}"); }, kExitErrors},
#if !defined(_WIN32)
    {"a FIFO",
     [](const fs::path& d) {
       mkfifo((d / "fifo.json").c_str(), 0600);
       return d / "fifo.json";
     },
     kExitTrouble},
    {"a link to a device",
     [](const fs::path& d) {
       fs::create_symlink("/dev/zero", d / "zero.json");
       return d / "zero.json";
     },
     kExitTrouble},
    {"a name that is not UTF-8",
     [&](const fs::path& d) { return file(d / "bad\xE9\x1b.json", Defaults().dump(2)); },
     kExitClean},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const fs::path path = c.make(dir_);
    std::ostringstream text, text_err, js, js_err;
    EXPECT_EQ(RunCheck(path, {}, text, text_err), c.exit_code);
    EXPECT_EQ(RunCheck(path, {.as_json = true}, js, js_err), c.exit_code);
    const json report = json::parse(js.str());
    EXPECT_EQ(report["exit_code"], c.exit_code);
    EXPECT_FALSE(report["findings"].empty() && c.exit_code != kExitClean);
    EXPECT_EQ(text.str().find('\x1b'), std::string::npos);
  }
}

// A server directory gets the file where the plugin and check read it; a
// plugin folder gets it in place; a name that is no folder gets nothing.
TEST_F(ConfigFilesTest, InitWritesWhereThePluginReads) {
  namespace fs = std::filesystem;
  const fs::path plugin_folder = fs::path("ArkApi") / "Plugins" / "Quillmoor";
  const struct {
    const char* name;
    std::vector<fs::path> folders;  // made inside the scratch folder first
    fs::path named;                 // given to init
    fs::path written;               // where PluginConfig.json must appear, or empty
    const char* in_error;
  } cases[] = {
      {"server with the plugin folder", {plugin_folder}, ".", plugin_folder, ""},
      {"server with the framework only", {"ArkApi"}, ".", plugin_folder, ""},
      {"the plugin folder itself", {plugin_folder}, plugin_folder, plugin_folder, ""},
      {"a folder of no server", {"conf"}, "conf", "conf", ""},
      {"a missing folder", {}, "missing", "", "missing does not exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const auto& f : c.folders) {
      fs::create_directories(dir_ / f);
    }
    std::ostringstream out, err, check_out, check_err;
    const int code = RunInit(dir_ / c.named, false, out, err);
    if (c.written.empty()) {
      EXPECT_EQ(code, kExitTrouble);
      EXPECT_NE(err.str().find(c.in_error), std::string::npos) << err.str();
      EXPECT_FALSE(fs::exists(dir_ / c.named));
      continue;
    }
    EXPECT_EQ(code, kExitClean) << err.str();
    EXPECT_EQ(Slurp(dir_ / c.written / "PluginConfig.json"), AsWritten(Defaults()));
    EXPECT_EQ(RunCheck(dir_ / c.named, {}, check_out, check_err), kExitClean);
    EXPECT_NE(check_out.str().find("the defaults document"), std::string::npos) << check_out.str();
  }
}

// Several servers: a line each and the worst exit code, in both modes.
TEST_F(ConfigFilesTest, AFleetGetsALineEachAndTheWorstExitCode) {
  namespace fs = std::filesystem;
  const auto server = [&](const char* name, const std::function<void(json&)>& edit) {
    const fs::path folder = dir_ / name / "ArkApi" / "Plugins" / "Quillmoor";
    fs::create_directories(folder);
    json doc = Defaults();
    edit(doc);
    std::ofstream(folder / "PluginConfig.json") << doc.dump(2);
    return dir_ / name;
  };
  const fs::path clean = server("clean", [](json&) {});
  const fs::path warned = server("warned", [](json& d) { d["AutoGC"]["IntervalMinutes"] = 500; });
  const fs::path broken = server("broken", [](json& d) {
    d["AutoGC"]["IntervalMinutes"] = 500;
    d["AutoGC"]["VerboseLogging"] = true;
    d.erase("VerboseLogging");
  });
  const struct {
    std::vector<fs::path> paths;
    int exit_code;
  } cases[] = {
      {{clean, clean}, kExitClean},
      {{clean, warned}, kExitWarnings},
      {{broken, warned, clean}, kExitErrors},
      {{clean, dir_ / "missing.json", broken}, kExitTrouble},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exit_code);
    std::ostringstream out, js;
    EXPECT_EQ(RunFleetCheck(c.paths, {}, out), c.exit_code);
    EXPECT_EQ(RunFleetCheck(c.paths, {.as_json = true}, js), c.exit_code);
    const std::string text = out.str();
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
              c.paths.size() + 1)
        << text;
    const json report = json::parse(js.str());
    EXPECT_EQ(report["exit_code"], c.exit_code);
    EXPECT_EQ(report["servers"].size(), c.paths.size());
  }
  // The line names the worst problem, not merely the first.
  std::ostringstream out;
  RunFleetCheck({broken}, {}, out);
  EXPECT_NE(out.str().find("belongs to the top level"), std::string::npos) << out.str();
}

#if !defined(_WIN32)
// A file-size limit stands in for a full disk: whichever of the two documents
// it cuts short, the old pair stays as it was and no temporary file is left.
TEST_F(ConfigFilesTest, InitUnderASizeLimitLeavesTheOldPair) {
  namespace fs = std::filesystem;
  for (const rlim_t limit : {rlim_t{100}, rlim_t{1000}}) {
    SCOPED_TRACE(limit);
    std::ofstream(dir_ / "PluginConfig.json") << "the operator's config";
    std::ofstream(dir_ / "PluginConfig.guide.json") << "the old guide";
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit low = old;
    low.rlim_cur = limit;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &low);
    std::ostringstream out, err;
    const int code = RunInit(dir_, true, out, err);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(code, kExitTrouble);
    EXPECT_NE(err.str().find("nothing was changed"), std::string::npos) << err.str();
    EXPECT_EQ(Slurp(dir_ / "PluginConfig.json"), "the operator's config");
    EXPECT_EQ(Slurp(dir_ / "PluginConfig.guide.json"), "the old guide");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  }
}

TEST_F(ConfigFilesTest, InitReplacesALinkAndNeverCreatesItsTarget) {
  namespace fs = std::filesystem;
  fs::create_symlink(dir_ / "elsewhere.json", dir_ / "PluginConfig.json");
  std::ostringstream out, err;
  EXPECT_EQ(RunInit(dir_, false, out, err), kExitTrouble);
  EXPECT_TRUE(fs::is_symlink(dir_ / "PluginConfig.json"));
  EXPECT_EQ(RunInit(dir_, true, out, err), kExitClean);
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere.json"));
  EXPECT_EQ(Slurp(dir_ / "PluginConfig.json"), AsWritten(Defaults()));
}
#endif

}  // namespace
}  // namespace config_tool
