// Tests of quillmoor-config migrate: what is carried, moved, changed or
// dropped from an outdated file, and the files it leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/backup_name.h"
#include "config/default_document.h"
#include "config_check/check.h"
#include "config_check/commands.h"
#include "config_check/migrate.h"

namespace config_tool {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Quillmoor::Config;
using Outcome = CarriedValue::Outcome;

// The defaults document at version 2, edited.
json Outdated(const std::function<void(json&)>& edit) {
  json doc = Quillmoor::BuildDefaultDocument(Config{});
  doc["ConfigVersion"] = 2;
  edit(doc);
  return doc;
}

void FiveChanges(json& d) {
  d["AutoGC"]["IntervalMinutes"] = 30;
  d["Rcon"]["CommandName"] = "CleanUp";
  d["GCCVars"]["TimeBetweenPurgingSeconds"] = 12.5;
  d["StructureNetFreq"]["NetUpdateFreq"] = 0.5;
  d["VerboseLogging"] = true;
}

void WithFiveChanges(Config& c) {
  c.AutoGC.IntervalMinutes = 30;
  c.Rcon.CommandName = "CleanUp";
  c.GCCVars.TimeBetweenPurgingSeconds = 12.5f;
  c.StructureNetFreq.NetUpdateFreq = 0.5f;
  c.VerboseLogging = true;
}

TEST(ConfigMigrateTest, EveryValueIsCarriedOrNamed) {
  const struct {
    const char* name;
    std::function<void(json&)> edit;
    std::vector<std::pair<Outcome, std::string>> not_carried;  // every other value is carried
    std::function<void(Config&)> runs;                         // applied to Config{}
  } cases[] = {
      {"five changed values", FiveChanges, {}, WithFiveChanges},
      {"out of range",
       [](json& d) { d["AutoGC"]["IntervalMinutes"] = 500; },
       {{Outcome::kChanged, "AutoGC.IntervalMinutes"}},
       [](Config& c) { c.AutoGC.IntervalMinutes = 120; }},
      {"a wrong type costs only itself",
       [](json& d) {
         d["PhysicsCVars"]["ServerMaxFPS"] = "60";
         d["StructureNetFreq"]["CheckIntervalSeconds"] = 600;
       },
       {{Outcome::kDropped, "PhysicsCVars.ServerMaxFPS"}},
       [](Config& c) { c.StructureNetFreq.CheckIntervalSeconds = 600; }},
      {"a key in another section is moved to its place",
       [](json& d) {
         d.erase("VerboseLogging");
         d["AutoGC"]["VerboseLogging"] = true;
       },
       {{Outcome::kMoved, "AutoGC.VerboseLogging"}},
       [](Config& c) { c.VerboseLogging = true; }},
      {"keys of no setting are dropped, sections too",
       [](json& d) {
         d["Old"] = 1;
         d["AutoGC"]["Aggressive"] = true;
         d["Rcon"] = "ForceGC";
       },
       {{Outcome::kDropped, "AutoGC.Aggressive"},
        {Outcome::kDropped, "Old"},
        {Outcome::kDropped, "Rcon"}},
       [](Config&) {}},
      {"a name several sections hold is not guessed",
       [](json& d) { d["Rcon"]["Enabled"] = false; },
       {{Outcome::kDropped, "Rcon.Enabled"}},
       [](Config&) {}},
      {"crossed frequencies are swapped as the plugin does",
       [](json& d) {
         d["StructureNetFreq"]["MinNetUpdateFreq"] = 5;
         d["StructureNetFreq"]["NetUpdateFreq"] = 1;
       },
       {{Outcome::kChanged, "StructureNetFreq.MinNetUpdateFreq"}},
       [](Config& c) {
         c.StructureNetFreq.MinNetUpdateFreq = 1.0f;
         c.StructureNetFreq.NetUpdateFreq = 5.0f;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Migration m = MigrateText(Outdated(c.edit).dump(2));
    ASSERT_EQ(m.error, "");
    EXPECT_EQ(m.old_version, 2);
    std::vector<std::pair<Outcome, std::string>> not_carried;
    for (const auto& v : m.values) {
      if (v.outcome != Outcome::kCarried) {
        not_carried.emplace_back(v.outcome, v.key_path);
        EXPECT_FALSE(v.why.empty()) << v.key_path;
      }
    }
    EXPECT_EQ(not_carried, c.not_carried);
    Config expected;
    c.runs(expected);
    EXPECT_EQ(m.config, expected);
    // The new document is current and runs exactly as written.
    const CheckResult check = CheckConfigText(m.document);
    EXPECT_TRUE(check.findings.empty()) << check.findings[0].message;
    EXPECT_EQ(check.effective, expected);
  }
}

TEST(ConfigMigrateTest, RefusesWhatCannotBeCarried) {
  for (const std::string& text : {std::string("{\"ConfigVersion\": 2, "), std::string("[1, 2]"),
                                  Outdated([](json& d) { d["ConfigVersion"] = 4; }).dump(),
                                  Outdated([](json& d) { d["ConfigVersion"] = "2"; }).dump()}) {
    SCOPED_TRACE(text);
    const Migration m = MigrateText(text);
    EXPECT_NE(m.error, "");
    EXPECT_TRUE(m.values.empty());
  }
}

// A value nested deeper than a stack can recurse is dropped unread, as a
// setting's value and as a key of no setting alike.
TEST(ConfigMigrateTest, ValuesNested70000DeepAreDroppedUnread) {
  const std::string deep = std::string(70'000, '[') + std::string(70'000, ']');
  std::string text = Outdated([](json&) {}).dump(2);
  const std::string interval = std::to_string(Config{}.AutoGC.IntervalMinutes);
  text.replace(text.find("\"IntervalMinutes\": " + interval) + 19, interval.size(), deep);
  text.replace(text.find("\"ConfigVersion\""), 0, "\"Old\": " + deep + ", ");
  const Migration m = MigrateText(text);
  ASSERT_EQ(m.error, "");
  std::vector<std::pair<Outcome, std::string>> not_carried;
  for (const auto& v : m.values) {
    if (v.outcome != Outcome::kCarried) {
      not_carried.emplace_back(v.outcome, v.key_path);
    }
  }
  EXPECT_EQ(not_carried,
            (std::vector<std::pair<Outcome, std::string>>{
                {Outcome::kDropped, "AutoGC.IntervalMinutes"}, {Outcome::kDropped, "Old"}}));
  EXPECT_EQ(m.config, Config{});
}

TEST(ConfigMigrateTest, BackupNamesAreTheLoadersOnly) {
  const struct {
    const char* name;
    std::optional<unsigned> n;
  } cases[] = {
      {"PluginConfig.json.bak", 0u},
      {"PluginConfig.json.1.bak", 1u},
      {"PluginConfig.json.12.bak", 12u},
      {"PluginConfig.json.01.bak", std::nullopt},
      {"PluginConfig.json.-1.bak", std::nullopt},
      {"PluginConfig.json..bak", std::nullopt},
      {"PluginConfig.json.1.bak.tmp", std::nullopt},
      {"Other.json.bak", std::nullopt},
      {"PluginConfig.json", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Quillmoor::BackupNumber("PluginConfig.json", c.name), c.n) << c.name;
    if (c.n) {
      EXPECT_EQ(Quillmoor::BackupName("PluginConfig.json", *c.n), c.name);
    }
  }
}

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ConfigMigrateFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           (std::string("quillmoor-migrate-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  int Migrate(bool dry_run, bool force) {
    std::ostringstream out, err;
    const int code = RunMigrate(dir_, dry_run, force, out, err);
    output_ = out.str() + err.str();
    return code;
  }
  Config Runs() { return CheckConfigText(Bytes(dir_ / "PluginConfig.json")).effective; }

  fs::path dir_;
  std::string output_;
};

TEST_F(ConfigMigrateFilesTest, AnOutdatedFileIsReplacedAndKeptOnlyWhenAsked) {
  const std::string old = Outdated(FiveChanges).dump(2);
  Write("PluginConfig.json", old);
  EXPECT_EQ(Migrate(/*dry_run=*/true, false), kExitClean) << output_;
  EXPECT_EQ(Bytes(dir_ / "PluginConfig.json"), old);
  EXPECT_FALSE(fs::exists(dir_ / "PluginConfig.json.bak"));

  EXPECT_EQ(Migrate(false, false), kExitClean) << output_;
  Config expected;
  WithFiveChanges(expected);
  EXPECT_EQ(Runs(), expected);
  EXPECT_EQ(json::parse(Bytes(dir_ / "PluginConfig.json"))["ConfigVersion"], 3);
  EXPECT_EQ(Bytes(dir_ / "PluginConfig.json.bak"), old);

  // Now current and the operator's own: left alone unless forced.
  const std::string migrated = Bytes(dir_ / "PluginConfig.json");
  EXPECT_EQ(Migrate(false, false), kExitTrouble);
  EXPECT_EQ(Bytes(dir_ / "PluginConfig.json"), migrated);
  EXPECT_FALSE(fs::exists(dir_ / "PluginConfig.json.1.bak"));
}

// The plugin set the old file aside and wrote the defaults: the newest
// outdated backup is carried, and the defaults it replaces are kept too.
TEST_F(ConfigMigrateFilesTest, AfterThePluginReplacedItTheNewestOutdatedBackupIsCarried) {
  const std::string defaults = Quillmoor::BuildDefaultDocument(Config{}).dump(2);
  Write("PluginConfig.json.bak",
        Outdated([](json& d) { d["AutoGC"]["IntervalMinutes"] = 30; }).dump(2));
  Write("PluginConfig.json.2.bak",
        Outdated([](json& d) { d["AutoGC"]["IntervalMinutes"] = 45; }).dump(2));
  Write("PluginConfig.json.3.bak", defaults);  // current: nothing to carry
  Write("PluginConfig.json", defaults);
  EXPECT_EQ(Migrate(false, false), kExitClean) << output_;
  EXPECT_EQ(Runs().AutoGC.IntervalMinutes, 45);
  EXPECT_EQ(Bytes(dir_ / "PluginConfig.json.1.bak"), defaults);

  // With settings of its own, only --force replaces it.
  Config own;
  own.VerboseLogging = true;
  Write("PluginConfig.json", Quillmoor::BuildDefaultDocument(own).dump(2));
  EXPECT_EQ(Migrate(false, false), kExitTrouble);
  EXPECT_TRUE(Runs().VerboseLogging);
  EXPECT_EQ(Migrate(false, /*force=*/true), kExitClean) << output_;
  EXPECT_EQ(Runs().AutoGC.IntervalMinutes, 45);
  EXPECT_TRUE(fs::exists(dir_ / "PluginConfig.json.4.bak"));
}

}  // namespace
}  // namespace config_tool
