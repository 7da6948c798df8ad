// The garbage-collection manager against the devhost: console variables once
// the world exists, the Auto-GC timer on game time, forced collections.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

#include "config/config.h"
#include "cvars/apply.h"
#include "formats/plugin_files.h"
#include "formats/stats_line.h"
#include "gc/gc_manager.h"
#include "stats/stats_logger.h"
#include "support/host_test.h"

namespace {

using Quillmoor::Config;

const std::vector<std::string> kDefaultCVarLines = {
    "[Quillmoor] CVar -> gc.TimeBetweenPurgingPendingKillObjects 20.0",
    "[Quillmoor] CVar -> gc.NumRetriesBeforeForcingGC 5",
    "[Quillmoor] CVar -> gc.ActorClusteringEnabled 1",
    "[Quillmoor] CVar -> gc.MaxObjectsNotConsideredByGC 0",
    "[Quillmoor] GC CVars applied. TimeBetweenPurging: 20s, NumRetries: 5, Clustering: on, "
    "MaxNotConsidered: 0",
    "[Quillmoor] CVar -> p.Chaos.MaxSubSteps 2",
    "[Quillmoor] CVar -> t.MaxFPS 30",
    "[Quillmoor] Physics CVars applied. ChaosMaxSubSteps: 2, MaxFPS: 30",
};

class GCManagerTest : public quillmoor_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    Quillmoor::StatsLogger::Init(PluginDir().string());
  }
  void TearDown() override {
    Quillmoor::GCManager::Shutdown();
    HostTest::TearDown();
  }
  // Starts the manager and returns only the lines it writes from then on.
  void Start(const Config& config) {
    host().log().ClearCapture();
    Quillmoor::GCManager::Init(config);
  }
  std::vector<std::string> CVarLines() const {
    std::vector<std::string> out;
    for (auto& m : Messages()) {
      if (m.find("CVar") != std::string::npos) {
        out.push_back(m);
      }
    }
    return out;
  }
  std::string Stats() const {
    std::error_code ec;
    auto path = PluginDir() / formats::kStatsLogFile;
    return std::filesystem::exists(path, ec) ? quillmoor_test::ReadFile(path) : std::string();
  }
  // A forced collection's message on the host log, and the end of its line
  // in the statistics log.
  static std::string Forced(std::string_view trigger) {
    return "[Quillmoor] " + formats::ForcedCollectionMessage(trigger);
  }
  static std::string ForcedStatsLineEnd(std::string_view trigger) {
    return "] " + formats::ForcedCollectionMessage(trigger) + std::string(formats::kStatsLineEnd);
  }
  static long Count(const std::string& text, const std::string& what) {
    long n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
      ++n;
    }
    return n;
  }
};

TEST_F(GCManagerTest, DefaultsApplySixCommandsInOrderWithBothSummaries) {
  Start(Config{});
  host().Tick(0.01);
  EXPECT_EQ(CVarLines(), kDefaultCVarLines);
  const std::vector<std::wstring> expected = {L"gc.TimeBetweenPurgingPendingKillObjects 20.0",
                                              L"gc.NumRetriesBeforeForcingGC 5",
                                              L"gc.ActorClusteringEnabled 1",
                                              L"gc.MaxObjectsNotConsideredByGC 0",
                                              L"p.Chaos.MaxSubSteps 2",
                                              L"t.MaxFPS 30"};
  EXPECT_EQ(host().engine().ConsoleHistory(), expected);
  EXPECT_DOUBLE_EQ(host().engine().TickRate(), 30.0);
  EXPECT_FALSE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
  host().Advance(10);
  EXPECT_EQ(host().engine().ConsoleHistory().size(), 6u) << "applied more than once";
}

TEST_F(GCManagerTest, EachGroupAppliesAlone) {
  Config physics_only;
  physics_only.GCCVars.Enabled = false;
  Start(physics_only);
  host().Tick(0.01);
  EXPECT_EQ(CVarLines(),
            std::vector<std::string>(kDefaultCVarLines.begin() + 5, kDefaultCVarLines.end()));
  Quillmoor::GCManager::Shutdown();

  Config gc_only;
  gc_only.PhysicsCVars.Enabled = false;
  Start(gc_only);
  host().Tick(0.01);
  EXPECT_EQ(CVarLines(),
            std::vector<std::string>(kDefaultCVarLines.begin(), kDefaultCVarLines.begin() + 5));
}

TEST_F(GCManagerTest, CommandTextsFollowTheValues) {
  Config c;
  c.GCCVars.TimeBetweenPurgingSeconds = 12.34f;
  c.GCCVars.ActorClusteringEnabled = false;
  c.GCCVars.MaxObjectsNotConsideredByGC = -5;
  c.GCCVars.NumRetriesBeforeForcingGC = 20;
  c.PhysicsCVars.ChaosMaxSubSteps = 8;
  c.PhysicsCVars.ServerMaxFPS = 120;
  Start(c);
  host().Tick(0.01);
  EXPECT_EQ(CVarLines(), (std::vector<std::string>{
                             "[Quillmoor] CVar -> gc.TimeBetweenPurgingPendingKillObjects 12.3",
                             "[Quillmoor] CVar -> gc.NumRetriesBeforeForcingGC 20",
                             "[Quillmoor] CVar -> gc.ActorClusteringEnabled 0",
                             "[Quillmoor] CVar -> gc.MaxObjectsNotConsideredByGC -5",
                             "[Quillmoor] GC CVars applied. TimeBetweenPurging: 12.34s, "
                             "NumRetries: 20, Clustering: off, MaxNotConsidered: -5",
                             "[Quillmoor] CVar -> p.Chaos.MaxSubSteps 8",
                             "[Quillmoor] CVar -> t.MaxFPS 120",
                             "[Quillmoor] Physics CVars applied. ChaosMaxSubSteps: 8, MaxFPS: 120",
                         }));
}

TEST_F(GCManagerTest, LargestPurgeIntervalStillFitsItsCommand) {
  Config c;
  c.GCCVars.TimeBetweenPurgingSeconds = 300.0f;
  c.GCCVars.MaxObjectsNotConsideredByGC = -2147483647 - 1;
  Start(c);
  host().Tick(0.01);
  auto lines = CVarLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "[Quillmoor] CVar -> gc.TimeBetweenPurgingPendingKillObjects 300.0");
  EXPECT_EQ(lines[3], "[Quillmoor] CVar -> gc.MaxObjectsNotConsideredByGC -2147483648");
}

class NoWorldYet : public GCManagerTest {
  void Configure(devhost::HostOptions& o) override { o.world_delay = 100; }
};

TEST_F(NoWorldYet, NothingIsLoggedUntilTheWorldExistsThenEverythingOnce) {
  Start(Config{});
  host().Advance(99);
  EXPECT_TRUE(CVarLines().empty());
  EXPECT_TRUE(host().engine().ConsoleHistory().empty());
  host().Advance(2);
  EXPECT_EQ(CVarLines(), kDefaultCVarLines);
  host().Advance(10);
  EXPECT_EQ(CVarLines().size(), kDefaultCVarLines.size());
}

TEST_F(NoWorldYet, ApplyWithoutAWorldRunsNothing) {
  host().log().ClearCapture();
  Quillmoor::ApplyGCCVars(Config{});
  EXPECT_EQ(Messages(),
            std::vector<std::string>{
                "[Quillmoor] ApplyGCCVars: GetWorld() returned null, CVars not applied."});
  EXPECT_TRUE(host().engine().ConsoleHistory().empty());
}

TEST_F(GCManagerTest, ACallAfterApplyingDoesNothing) {
  // A copy of the callback, as the framework may hold several.
  Quillmoor::ApplyCVarsOnce callback(std::make_shared<const Config>());
  auto copy = callback;
  callback();
  copy();
  EXPECT_EQ(host().engine().ConsoleHistory().size(), 6u);
}

TEST_F(GCManagerTest, AFailureWhileApplyingIsContainedAndStillEndsTheCallback) {
  host().faults().ThrowOn(
      "lookup:UKismetSystemLibrary.ExecuteConsoleCommand(UObject*,FString&,APlayerController*)", 2);
  Start(Config{});
  host().Advance(1);
  EXPECT_TRUE(
      Logged("[Quillmoor] ApplyGCCVars exception: injected fault: "
             "lookup:UKismetSystemLibrary.ExecuteConsoleCommand(UObject*,FString&,"
             "APlayerController*)"));
  EXPECT_EQ(host().engine().ConsoleHistory().size(), 1u);
  EXPECT_FALSE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(GCManagerTest, AFailingWorldQueryEndsTheCallbackAfterOneErrorLine) {
  host().faults().ThrowOn("GetWorld");
  Start(Config{});
  host().Advance(1);
  EXPECT_EQ(MessagesAt("error"),
            std::vector<std::string>{
                "[Quillmoor] Quillmoor_ApplyCVarsOnce exception: injected fault: GetWorld"});
  EXPECT_TRUE(host().engine().ConsoleHistory().empty());
  EXPECT_FALSE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(GCManagerTest, TimerIntervalIsTheMinutesTimesSixty) {
  for (int minutes : {1, 120}) {
    RestartHost();
    Config c;
    c.AutoGC.IntervalMinutes = minutes;
    Start(c);
    auto timers = host().timers().List();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].id, L"Quillmoor_AutoGC");
    EXPECT_EQ(timers[0].interval_seconds, minutes * 60);
    EXPECT_EQ(timers[0].remaining, -1);
    EXPECT_NE(timers[0].module.find("gc_manager_test"), std::string::npos) << timers[0].module;
    EXPECT_TRUE(
        Logged("[Quillmoor] Auto-GC timer started. Interval: " + std::to_string(minutes) + "min"));
    Quillmoor::GCManager::Shutdown();
  }
}

TEST_F(GCManagerTest, DisabledAutoGCWithBothGroupsOffRegistersNothing) {
  Config c;
  c.AutoGC.Enabled = false;
  c.GCCVars.Enabled = false;
  c.PhysicsCVars.Enabled = false;
  Start(c);
  EXPECT_EQ(Messages(), std::vector<std::string>{"[Quillmoor] Auto-GC disabled in config."});
  EXPECT_EQ(host().timers().Count(), 0u);
  EXPECT_EQ(host().commands().UpdateCallbackCount(), 0u);

  c.GCCVars.Enabled = true;
  Start(c);
  EXPECT_EQ(host().timers().Count(), 0u);
  EXPECT_TRUE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
}

TEST_F(GCManagerTest, AutomaticCollectionsAreQuietUnlessVerbose) {
  Config c;
  c.AutoGC.IntervalMinutes = 1;
  Start(c);
  host().Advance(180);
  EXPECT_EQ(host().engine().ForcedCollections(), 3u);
  EXPECT_EQ(Count(Stats(), ForcedStatsLineEnd(formats::kAutoTimerTrigger)), 3);
  EXPECT_FALSE(Logged(Forced(formats::kAutoTimerTrigger)));

  // An operator's request is always reported on the host log too.
  EXPECT_TRUE(Quillmoor::ForceGC(formats::kRconTrigger, true));
  EXPECT_EQ(Count(Stats(), ForcedStatsLineEnd(formats::kRconTrigger)), 1);
  EXPECT_TRUE(Logged(Forced(formats::kRconTrigger)));
}

TEST_F(GCManagerTest, VerboseAutomaticCollectionsAreReportedOnTheHostLog) {
  Config c;
  c.AutoGC.IntervalMinutes = 1;
  c.VerboseLogging = true;
  Start(c);
  host().Advance(60);
  EXPECT_TRUE(Logged(Forced(formats::kAutoTimerTrigger)));
}

// A collection forced once the statistics log is closed (during unload)
// still happens and is reported on the host log; the closed log stays as it
// was.
TEST_F(GCManagerTest, AForcedCollectionAfterTheStatisticsLogClosedWritesNoStatisticsLine) {
  Quillmoor::StatsLogger::Log("before");
  Quillmoor::StatsLogger::Shutdown();
  const std::string before = Stats();
  host().log().ClearCapture();
  EXPECT_TRUE(Quillmoor::ForceGC(formats::kRconTrigger, true));
  EXPECT_EQ(host().engine().ForcedCollections(), 1u);
  EXPECT_EQ(Stats(), before);
  EXPECT_EQ(Messages(), std::vector<std::string>{Forced(formats::kRconTrigger)});
}

TEST_F(GCManagerTest, ForcedCollectionIsPurgedOnTheNextFrame) {
  RestartHost();
  Quillmoor::StatsLogger::Init(PluginDir().string());
  host().engine().ExecuteConsoleCommand(L"gc.TimeBetweenPurgingPendingKillObjects 100000");
  ASSERT_TRUE(Quillmoor::ForceGC(formats::kRconTrigger, false));
  EXPECT_EQ(host().engine().Purges(), 0u);
  host().Tick(0.01);
  EXPECT_EQ(host().engine().Purges(), 1u);
}

TEST_F(GCManagerTest, WithoutAnEngineNothingIsForcedAndTheCallerIsTold) {
  host().engine().SetEngineNull(true);
  host().log().ClearCapture();
  EXPECT_FALSE(Quillmoor::ForceGC(formats::kRconTrigger, true));
  EXPECT_FALSE(Quillmoor::ForceGC(formats::kAutoTimerTrigger, false));
  EXPECT_EQ(MessagesAt("error"),
            (std::vector<std::string>{"[Quillmoor] ForceGC: GEngine is null (trigger: " +
                                          std::string(formats::kRconTrigger) + ")",
                                      "[Quillmoor] ForceGC: GEngine is null (trigger: " +
                                          std::string(formats::kAutoTimerTrigger) + ")"}));
  EXPECT_TRUE(MessagesAt("info").empty());
  EXPECT_EQ(Count(Stats(), formats::ForcedCollectionMessage("")), 0);
}

TEST_F(GCManagerTest, AFailingTimerIsContainedAndFiresAgain) {
  Config c;
  c.AutoGC.IntervalMinutes = 1;
  Start(c);
  host().faults().ThrowOn("lookup:Global.GEngine");
  host().Advance(120);
  EXPECT_TRUE(Logged("[Quillmoor] Auto-GC timer exception: injected fault: lookup:Global.GEngine"));
  EXPECT_EQ(host().engine().ForcedCollections(), 1u);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(GCManagerTest, AFailingRegistrationIsReportedAndStartupGoesOn) {
  host().faults().ThrowOn("Timer");
  Start(Config{});
  EXPECT_TRUE(Logged("[Quillmoor] GCManager::Init exception: injected fault: Timer"));
  for (const std::string& m : Messages()) {
    EXPECT_FALSE(m.starts_with("[Quillmoor] Auto-GC timer started.")) << m;
  }
  // What was registered before the failure stays.
  EXPECT_TRUE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
}

TEST_F(GCManagerTest, ShutdownRemovesAWaitingCallbackAndIsSafeWithoutOne) {
  Config c;
  c.AutoGC.Enabled = false;
  Start(c);
  Quillmoor::GCManager::Shutdown();
  EXPECT_FALSE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
  EXPECT_TRUE(Logged("[Quillmoor] GCManager shutdown."));
  Quillmoor::GCManager::Shutdown();
  host().Tick(0.01);
  EXPECT_TRUE(host().engine().ConsoleHistory().empty());
}

}  // namespace
