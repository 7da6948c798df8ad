// Tests of quillmoor-config's check: broken files, each with the findings'
// key paths and severities, the exit code and the configuration the plugin
// will run, written out by hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config_check/check.h"
#include "config_check/commands.h"

namespace config_tool {
namespace {

using nlohmann::json;
using Quillmoor::Config;

json Defaults() {
  std::ifstream in(QUILLMOOR_GOLDEN_DIR "/PluginConfig.json");
  return json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
}

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
       d["Rcon"]["CommandName"] = "getserverstats";
     },
     {{E, "AutoGC.Enabled"}, {E, "Rcon.CommandName"}, {E, "Rcon.CommandName"}},
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
    {"command named like the statistics command",
     [](json& d) { d["Rcon"]["CommandName"] = "getServerStats"; },
     {{E, "Rcon.CommandName"}},
     2,
     [](Config&) {}},  // the plugin refuses the name and uses ForceGC
    {"command named like a framework command",
     [](json& d) { d["Rcon"]["CommandName"] = "Plugins.Unload"; },
     {{E, "Rcon.CommandName"}},
     2,
     [](Config&) {}},  // the plugin refuses the name and uses ForceGC
    {"command with a space",
     [](json& d) { d["Rcon"]["CommandName"] = "Force GC"; },
     {{E, "Rcon.CommandName"}},
     2,
     [](Config&) {}},  // the plugin refuses the name and uses ForceGC
    {"empty command",
     [](json& d) { d["Rcon"]["CommandName"] = ""; },
     {{E, "Rcon.CommandName"}},
     2,
     [](Config&) {}},  // the plugin refuses the name and uses ForceGC
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
    }
    EXPECT_EQ(Sorted(got), Sorted(c.findings));
    EXPECT_EQ(r.ExitCode(), c.exit_code);
    Config expected;
    c.effective(expected);
    EXPECT_EQ(r.effective, expected);
    EXPECT_FALSE(r.defaults_document);
  }
}

// The plugin's own rule decides, and the name reaches the terminal escaped
// and cut.
TEST(ConfigCheckTest, ARefusedNameIsQuotedEscapedAndCut) {
  json doc = Defaults();
  doc["Rcon"]["CommandName"] = "Gc\n" + std::string(100000, 'x');
  const CheckResult r = CheckConfigText(doc.dump(2));
  ASSERT_EQ(r.findings.size(), 1u);
  EXPECT_EQ(r.findings[0].message, "value 'Gc\\n" + std::string(61, 'x') +
                                       "...' holds a control character: the plugin registers "
                                       "the force-GC command as 'ForceGC' instead");
  EXPECT_EQ(r.effective, Config{});
}

TEST(ConfigCheckTest, TheDefaultsDocumentIsCleanAndSaysSo) {
  std::ifstream in(QUILLMOOR_GOLDEN_DIR "/PluginConfig.json");
  const CheckResult r = CheckConfigText(std::string(std::istreambuf_iterator<char>(in), {}));
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

// A golden file as a text-mode stream writes it: CR LF line ends on Windows.
std::string GoldenAsWritten(const char* name) {
  const std::string text = Slurp(std::filesystem::path(QUILLMOOR_GOLDEN_DIR) / name);
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
  EXPECT_EQ(Slurp(dir / "PluginConfig.json"), GoldenAsWritten("PluginConfig.json"));
  EXPECT_EQ(Slurp(dir / "PluginConfig.guide.json"), GoldenAsWritten("PluginConfig.guide.json"));

  std::ofstream(dir / "PluginConfig.json") << "{\"ConfigVersion\": 3}";
  EXPECT_EQ(RunInit(dir, false, out, err), kExitTrouble);
  EXPECT_EQ(Slurp(dir / "PluginConfig.json"), "{\"ConfigVersion\": 3}");
  EXPECT_EQ(RunInit(dir, true, out, err), kExitClean);
  EXPECT_EQ(Slurp(dir / "PluginConfig.json"), GoldenAsWritten("PluginConfig.json"));
  EXPECT_EQ(RunInit(dir / "missing", false, out, err), kExitTrouble);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace config_tool
