// The plugin as the framework loads it: the built library, mapped and
// unmapped through the devhost's loader, with faults injected into the host.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "config/config.h"
#include "devhost/connection.h"
#include "devhost/dynamic_library.h"
#include "formats/plugin_files.h"
#include "formats/replies.h"
#include "formats/stats_line.h"
#include "support/host_test.h"
#include "support/wide.h"

namespace {

using formats::kForceGcCommand;
using formats::kStatsCommand;
using quillmoor_test::HostTest;

const std::wstring kForceGc = quillmoor_test::Widen(kForceGcCommand);
const std::wstring kStats = quillmoor_test::Widen(kStatsCommand);

std::string Registered(std::string_view name) {
  return "[Quillmoor] RCON command '" + std::string(name) + "' registered.";
}
std::string Unregistered(std::string_view name) {
  return "[Quillmoor] RCON command '" + std::string(name) + "' unregistered.";
}

class LifecycleTest : public HostTest {
 protected:
  void Load() { host().LoadPlugin(QUILLMOOR_PLUGIN_PATH); }
  void Unload() { ASSERT_TRUE(host().UnloadPlugin("Quillmoor")); }
  std::ptrdiff_t CountOf(const std::string& message) const {
    auto m = Messages();
    return std::count(m.begin(), m.end(), message);
  }
  bool IsMapped() const { return devhost::IsLibraryMapped(QUILLMOOR_PLUGIN_PATH); }
};

TEST_F(LifecycleTest, CleanLoadAndUnloadWriteTheirLinesInOrder) {
  Load();
  auto m = Messages();
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m.back(), "[Quillmoor] Plugin initialized.");
  EXPECT_TRUE(host().commands().HasRconCommand(kForceGc));
  EXPECT_TRUE(host().commands().HasRconCommand(kStats));
  EXPECT_TRUE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
  EXPECT_EQ(host().timers().Count(), 2u);

  host().log().ClearCapture();
  Unload();
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            Unregistered(kForceGcCommand),
                            Unregistered(kStatsCommand),
                            "[Quillmoor] StructureManager shutdown.",
                            "[Quillmoor] GCManager shutdown.",
                            "[Quillmoor] Plugin unloaded.",
                        }));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
  EXPECT_EQ(host().allocator().OutstandingBlocks(), 0u);
  EXPECT_EQ(host().allocator().BadFrees(), 0u);
}

// The whole host log of a first start with the defaults, a world that
// appears a second later, and a shut-down: every line, level and order.
class WorldLaterTest : public LifecycleTest {
  void Configure(devhost::HostOptions& options) override { options.world_delay = 1; }

 protected:
  // The structure timer's start line with the default settings.
  static std::string StructureTimerLine() {
    const auto defaults = Quillmoor::Config().StructureNetFreq;
    char line[200];
    std::snprintf(line, sizeof line,
                  "info [Quillmoor] StructureNetFreq timer started. Interval: %ds, NetFreq: %.2f, "
                  "MinNetFreq: %.2f",
                  static_cast<int>(defaults.CheckIntervalSeconds),
                  static_cast<double>(defaults.NetUpdateFreq),
                  static_cast<double>(defaults.MinNetUpdateFreq));
    return line;
  }
};

TEST_F(WorldLaterTest, StartUpAndShutDownWriteExactlyTheseLines) {
  Load();
  host().Advance(5);
  Unload();
  std::vector<std::string> lines;
  for (const auto& line : host().log().Lines()) {
    if (line.logger == "Quillmoor") {
      lines.push_back(line.level + " " + line.message);
    }
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "info [Quillmoor] PluginConfig.json not found — generated with defaults "
                       "at: " +
                           PluginDirText() + "/PluginConfig.json",
                       "info [Quillmoor] Auto-GC timer started. Interval: " +
                           std::to_string(Quillmoor::Config().AutoGC.IntervalMinutes) + "min",
                       StructureTimerLine(),
                       "info " + Registered(kForceGcCommand),
                       "info " + Registered(kStatsCommand),
                       "info [Quillmoor] Plugin initialized.",
                       "info [Quillmoor] CVar -> gc.TimeBetweenPurgingPendingKillObjects 20.0",
                       "info [Quillmoor] CVar -> gc.NumRetriesBeforeForcingGC 5",
                       "info [Quillmoor] CVar -> gc.ActorClusteringEnabled 1",
                       "info [Quillmoor] CVar -> gc.MaxObjectsNotConsideredByGC 0",
                       "info [Quillmoor] GC CVars applied. TimeBetweenPurging: 20s, NumRetries: "
                       "5, Clustering: on, MaxNotConsidered: 0",
                       "info [Quillmoor] CVar -> p.Chaos.MaxSubSteps 2",
                       "info [Quillmoor] CVar -> t.MaxFPS 30",
                       "info [Quillmoor] Physics CVars applied. ChaosMaxSubSteps: 2, MaxFPS: 30",
                       "info " + Unregistered(kForceGcCommand),
                       "info " + Unregistered(kStatsCommand),
                       "info [Quillmoor] StructureManager shutdown.",
                       "info [Quillmoor] GCManager shutdown.",
                       "info [Quillmoor] Plugin unloaded.",
                   }));
}

TEST_F(LifecycleTest, HostLogLinesCarryTheChannelPattern) {
  Load();
  for (auto& line : host().log().Lines()) {
    if (line.message == "[Quillmoor] Plugin initialized.") {
      // "%D %R [%n][%l] %v": MM/DD/YY HH:MM [Quillmoor][info] message
      EXPECT_EQ(line.text.size(),
                std::string("12/07/26 08:40 [Quillmoor][info] ").size() + line.message.size());
      EXPECT_NE(line.text.find(" [Quillmoor][info] [Quillmoor] Plugin initialized."),
                std::string::npos)
          << line.text;
      return;
    }
  }
  FAIL() << "no start line";
}

TEST_F(LifecycleTest, UnloadUnmapsTheLibraryAndASecondLoadStartsFresh) {
  Load();
  Unload();
  EXPECT_FALSE(IsMapped()) << "static state would survive into the next load";
  Load();
  Unload();
  EXPECT_EQ(CountOf("[Quillmoor] Plugin initialized."), 2);
  EXPECT_EQ(CountOf("[Quillmoor] Plugin unloaded."), 2);
  EXPECT_TRUE(MessagesAt("error").empty()) << MessagesAt("error").front();
  EXPECT_EQ(host().timers().Count(), 0u) << "the module's timers outlived it";
  EXPECT_EQ(host().EscapedExceptions(), 0u);
  EXPECT_EQ(host().allocator().OutstandingBlocks(), 0u);
}

TEST_F(LifecycleTest, AStartupStepThatThrowsStopsTheRestAndUnloadStillRunsEveryStep) {
  host().faults().ThrowOn("GetCurrentDir");
  Load();
  EXPECT_EQ(CountOf("[Quillmoor] Plugin_Init exception: injected fault: GetCurrentDir"), 1);
  EXPECT_EQ(CountOf("[Quillmoor] Plugin initialized."), 0);
  EXPECT_FALSE(host().commands().HasRconCommand(kForceGc));
  EXPECT_EQ(host().timers().Count(), 0u);
  EXPECT_FALSE(std::filesystem::exists(PluginDir() / formats::kStatsLogFile));

  host().log().ClearCapture();
  Unload();
  // Nothing was registered, so nothing is unregistered.
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "[Quillmoor] StructureManager shutdown.",
                            "[Quillmoor] GCManager shutdown.",
                            "[Quillmoor] Plugin unloaded.",
                        }));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

// Commands of the plugin's names that another plugin registered after a
// start-up that failed, before or half-way through the registration.
struct FailedStart {
  const char* name;
  const char* fault;
  int nth;
  std::vector<std::string> unload_lines;
};

class FailedStartTest : public LifecycleTest, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(FailedStartTest, UnloadRemovesOnlyWhatThisLoadRegistered) {
  host().faults().ThrowOn(GetParam().fault, GetParam().nth);
  Load();
  EXPECT_EQ(CountOf("[Quillmoor] Plugin initialized."), 0);
  for (const std::wstring& name : {kForceGc, kStats}) {
    host().commands().RegisterRconCommand(FString(name.c_str()), [](auto...) {});
  }
  host().log().ClearCapture();
  Unload();
  EXPECT_EQ(Messages(), GetParam().unload_lines);
  EXPECT_TRUE(host().commands().HasRconCommand(kStats));
  EXPECT_EQ(host().commands().HasRconCommand(kForceGc), GetParam().unload_lines.size() == 3)
      << "only a force-GC command of this load may go";
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Steps, FailedStartTest,
                         ::testing::Values(FailedStart{"ConfigNeverLoaded",
                                                       "GetCurrentDir",
                                                       1,
                                                       {"[Quillmoor] StructureManager shutdown.",
                                                        "[Quillmoor] GCManager shutdown.",
                                                        "[Quillmoor] Plugin unloaded."}},
                                           FailedStart{"StatisticsCommandNotRegistered",
                                                       "RegisterRconCommand",
                                                       2,
                                                       {Unregistered(kForceGcCommand),
                                                        "[Quillmoor] StructureManager shutdown.",
                                                        "[Quillmoor] GCManager shutdown.",
                                                        "[Quillmoor] Plugin unloaded."}}),
                         [](const auto& row) { return std::string(row.param.name); });

// Any name is registered as written and logged, escaped, without an error:
// a name holding a line break forges no line of the host log.
TEST_F(LifecycleTest, EveryCommandNameIsRegisteredAsWrittenAndLoggedEscaped) {
  struct Row {
    std::string name;
    std::wstring registered;  // as the framework holds it
    std::vector<std::string> lines;
  };
  const std::string forged = "[Quillmoor] Plugin initialized.";
  const std::string stats = Registered(kStatsCommand);
  const Row rows[] = {
      {"", L"", {Registered(""), stats}},
      {kStatsCommand, kStats, {stats, stats}},
      {std::string(100, 'n'),
       std::wstring(100, L'n'),
       {"[Quillmoor] RCON command '" + std::string(100, 'n') + "' registered.", stats}},
      {"Gc\n" + forged,
       L"Gc\n" + std::wstring(forged.begin(), forged.end()),
       {"[Quillmoor] RCON command 'Gc\\n" + forged + "' registered.", stats}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    nlohmann::json config = {{"ConfigVersion", 3},
                             {"AutoGC", {{"Enabled", false}}},
                             {"Rcon", {{"CommandName", row.name}}}};
    quillmoor_test::WriteFile(PluginDir() / "PluginConfig.json", config.dump());
    host().log().ClearCapture();
    Load();
    EXPECT_TRUE(host().commands().HasRconCommand(row.registered));
    std::vector<std::string> registered;
    for (const std::string& line : Messages()) {
      if (line.starts_with("[Quillmoor] RCON command '") && line.ends_with("' registered.")) {
        registered.push_back(line);
      }
    }
    EXPECT_EQ(registered, row.lines);
    EXPECT_EQ(CountOf(forged), 1) << "a line was forged";
    EXPECT_TRUE(MessagesAt("error").empty()) << MessagesAt("error").front();
    Unload();
  }
}

// The operator's request is reported on both logs, verbose or not.
TEST_F(LifecycleTest, TheRemoteForceGcWritesOneLineToEachLogWhateverTheVerbosity) {
  for (const bool verbose : {false, true}) {
    SCOPED_TRACE(verbose);
    quillmoor_test::WriteFile(
        PluginDir() / "PluginConfig.json",
        nlohmann::json{
            {"ConfigVersion", 3}, {"AutoGC", {{"Enabled", false}}}, {"VerboseLogging", verbose}}
            .dump());
    std::filesystem::remove(PluginDir() / formats::kStatsLogFile);
    host().log().ClearCapture();
    Load();
    RCONClientConnection connection;
    RCONPacket packet;
    packet.Id = 7;
    ASSERT_TRUE(host().commands().ExecuteRcon(kForceGc, &connection, &packet, nullptr));
    Unload();
    const std::string forced = formats::ForcedCollectionMessage(formats::kRconTrigger);
    EXPECT_EQ(CountOf("[Quillmoor] " + forced), 1);
    const std::string stats = quillmoor_test::ReadFile(PluginDir() / formats::kStatsLogFile);
    const std::string line = "] " + forced + std::string(formats::kStatsLineEnd);
    EXPECT_NE(stats.find(line), std::string::npos) << stats;
    EXPECT_EQ(stats.find(line), stats.rfind(line)) << stats;
  }
}

// A second copy of the plugin beside the first asks for the same names: it
// gets none of them, and its unload takes none of the first one's away.
TEST_F(LifecycleTest, ASecondCopyLoadedAndUnloadedLeavesTheFirstItsCommands) {
  Load();
  const auto twin = PluginDir().parent_path() / "QuillmoorTwin" /
                    ("QuillmoorTwin" + std::string(devhost::kLibrarySuffix));
  std::filesystem::create_directories(twin.parent_path());
  std::filesystem::copy_file(QUILLMOOR_PLUGIN_PATH, twin);
  host().LoadPlugin(twin);
  ASSERT_TRUE(host().UnloadPlugin("QuillmoorTwin"));
  auto host_lines = host().log().Messages("AsaApi");
  for (const char* name : {kForceGcCommand, kStatsCommand}) {
    const std::string refused = std::string("RCON command '") + name +
                                "' is registered already by plugin Quillmoor; the name is "
                                "refused to plugin QuillmoorTwin.";
    const std::string kept = std::string("RCON command '") + name +
                             "' belongs to plugin Quillmoor; plugin QuillmoorTwin may not remove "
                             "it, and it stays.";
    EXPECT_EQ(std::count(host_lines.begin(), host_lines.end(), refused), 1) << refused;
    EXPECT_EQ(std::count(host_lines.begin(), host_lines.end(), kept), 1) << kept;
  }
  RCONClientConnection connection;
  RCONPacket packet;
  packet.Id = 7;
  for (const std::wstring& command : {kStats, kForceGc}) {
    EXPECT_TRUE(host().commands().ExecuteRcon(command, &connection, &packet, nullptr));
  }
  EXPECT_EQ(host().engine().ForcedCollections(), 1u);
  EXPECT_TRUE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
  Unload();
  EXPECT_FALSE(host().commands().HasRconCommand(kStats));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(LifecycleTest, AnythingElseThrownIsReportedAsUnknown) {
  host().faults().ThrowUnknownOn("GetCurrentDir");
  Load();
  EXPECT_EQ(CountOf("[Quillmoor] Plugin_Init: unknown exception."), 1);
  host().faults().ThrowUnknownOn("UnregisterUpdateCallback");
  Unload();
  EXPECT_EQ(CountOf("[Quillmoor] Plugin_Unload: unknown exception."), 1);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(LifecycleTest, UnloadStopsAtAFailingFirstStep) {
  Load();
  host().log().ClearCapture();
  host().faults().ThrowOn("UnregisterRconCommand");
  Unload();
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{"[Quillmoor] Plugin_Unload exception: injected fault: "
                                      "UnregisterRconCommand"}));
  // What the plugin left behind is the host's to clean up before unmapping.
  EXPECT_TRUE(host().log().Contains(
      "Plugin Quillmoor left 3 command(s) or callback(s) registered; dropped."));
  EXPECT_EQ(host().commands().UpdateCallbackCount(), 0u);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

// Both removals come before both lines, so a removal that throws leaves
// none; what was removed is still gone.
TEST_F(LifecycleTest, UnloadThatFailsHalfWayLogsOnlyTheException) {
  Load();
  host().log().ClearCapture();
  host().faults().ThrowOn("UnregisterRconCommand", 2);
  Unload();
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "[Quillmoor] Plugin_Unload exception: injected fault: "
                            "UnregisterRconCommand",
                        }));
  EXPECT_FALSE(host().commands().HasRconCommand(kForceGc));
}

TEST_F(LifecycleTest, TimersAndCallbacksRunAfterLoadWithoutEscapes) {
  Load();
  host().Advance(3600);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
  // One collection per Auto-GC interval of the defaults.
  const auto interval = static_cast<unsigned>(Quillmoor::Config().AutoGC.IntervalMinutes) * 60u;
  ASSERT_LE(interval, 3600u / 2u) << "the default interval leaves nothing to count in an hour";
  EXPECT_GE(host().engine().ForcedCollections(), 3600u / interval);
  Unload();
  EXPECT_EQ(host().allocator().OutstandingBlocks(), 0u);
}

}  // namespace
