#include "config/console_commands.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "config/settings.h"

namespace {

using Quillmoor::Config;
using Quillmoor::ConsoleCommands;

// The console variable the table gives the setting `section`.`key`.
std::string CVarOf(std::string_view section, std::string_view key) {
  std::string cvar;
  Quillmoor::ForEachSetting([&](const auto& s) {
    if (s.section == section && s.key == key) {
      cvar = std::string(s.cvar);
    }
  });
  EXPECT_FALSE(cvar.empty()) << section << "." << key << " sets no console variable";
  return cvar;
}

struct Row {
  const char* name;
  void (*edit)(Config&);
  std::string section;
  std::vector<std::pair<const char*, std::string>> expected;  // key, value text
};

TEST(ConsoleCommandsTest, SpellsEachVariableOfTheSectionInTableOrder) {
  const Row rows[] = {
      {"physics values as decimals",
       [](Config& c) {
         c.PhysicsCVars.ChaosMaxSubSteps = 3;
         c.PhysicsCVars.ServerMaxFPS = 45;
       },
       "PhysicsCVars",
       {{"ChaosMaxSubSteps", "3"}, {"ServerMaxFPS", "45"}}},
      {"a float with one decimal, a flag as 1 or 0",
       [](Config& c) {
         c.GCCVars.TimeBetweenPurgingSeconds = 12.34f;
         c.GCCVars.NumRetriesBeforeForcingGC = 7;
         c.GCCVars.ActorClusteringEnabled = false;
         c.GCCVars.MaxObjectsNotConsideredByGC = 0;
       },
       "GCCVars",
       {{"TimeBetweenPurgingSeconds", "12.3"},
        {"NumRetriesBeforeForcingGC", "7"},
        {"ActorClusteringEnabled", "0"},
        {"MaxObjectsNotConsideredByGC", "0"}}},
      {"a whole float keeps its decimal, a flag on is 1",
       [](Config& c) {
         c.GCCVars.TimeBetweenPurgingSeconds = 20.0f;
         c.GCCVars.ActorClusteringEnabled = true;
         c.GCCVars.NumRetriesBeforeForcingGC = 5;
         c.GCCVars.MaxObjectsNotConsideredByGC = 100;
       },
       "GCCVars",
       {{"TimeBetweenPurgingSeconds", "20.0"},
        {"NumRetriesBeforeForcingGC", "5"},
        {"ActorClusteringEnabled", "1"},
        {"MaxObjectsNotConsideredByGC", "100"}}},
      {"a disabled section still spells its commands",
       [](Config& c) {
         c.PhysicsCVars.Enabled = false;
         c.PhysicsCVars.ChaosMaxSubSteps = 1;
         c.PhysicsCVars.ServerMaxFPS = 10;
       },
       "PhysicsCVars",
       {{"ChaosMaxSubSteps", "1"}, {"ServerMaxFPS", "10"}}},
      {"a section without console variables", [](Config&) {}, "AutoGC", {}},
      {"an unknown section", [](Config&) {}, "Nope", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Config config;
    row.edit(config);
    std::vector<std::string> expected;
    for (const auto& [key, value] : row.expected) {
      expected.push_back(CVarOf(row.section, key) + " " + value);
    }
    EXPECT_EQ(ConsoleCommands(config, row.section), expected);
  }
}

}  // namespace
