// The devhost's framework services that plugins rely on: update callbacks,
// timers on game time, module ownership.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "host/framework.h"
#include "support/host_test.h"

namespace {

class FrameworkTest : public quillmoor_test::HostTest {};

TEST_F(FrameworkTest, UpdateCallbackMayUnregisterItselfWhileRunning) {
  int calls = 0;
  AsaApi::GetCommands().RegisterUpdateCallback(FString(L"self"), [&calls] {
    ++calls;
    EXPECT_TRUE(AsaApi::GetCommands().UnregisterUpdateCallback(FString(L"self")));
  });
  host().Tick(0.01);
  host().Tick(0.01);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(host().commands().UpdateCallbackCount(), 0u);
  EXPECT_FALSE(AsaApi::GetCommands().UnregisterUpdateCallback(FString(L"never-added")));
}

TEST_F(FrameworkTest, RecurringTimerFiresOncePerIntervalOfGameTime) {
  int fired = 0;
  API::Timer::Get().RecurringExecuteInternal([&fired] { ++fired; }, 60, -1, false, FString(L"t"),
                                             FString(L"/some/module.so"));
  host().Advance(59.9);
  EXPECT_EQ(fired, 0);
  host().Advance(0.1);
  EXPECT_EQ(fired, 1);
  host().Advance(600);
  EXPECT_EQ(fired, 11);
  // Stored in the host's canonical form, which is a drive path on Windows.
  EXPECT_EQ(host().timers().DropModule(devhost::Host::CanonicalModule("/some/module.so")), 1u);
  host().Advance(600);
  EXPECT_EQ(fired, 11);
}

// A stall or a huge time scale makes one frame span many intervals: the
// frame fires each timer once, counts the rest, and says so once.
TEST_F(FrameworkTest, ALongFrameFiresATimerOnceAndCountsWhatItSkipped) {
  int recurring = 0, limited = 0;
  API::Timer::Get().RecurringExecuteInternal([&] { ++recurring; }, 10, -1, false, FString(L"r"),
                                             FString(L"/some/module.so"));
  API::Timer::Get().RecurringExecuteInternal([&] { ++limited; }, 10, 2, false, FString(L"l"),
                                             FString(L"/some/module.so"));
  const struct {
    double frame;
    int fired;
    std::size_t skipped;
  } steps[] = {
      {1000.5, 1, 99},  // due at 10, 20, ... 1000
      {1000.0, 2, 198},
      {9.4, 2, 198},  // game time 2009.9: the next firing is still on the grid, at 2010
      {0.2, 3, 198},
  };
  for (const auto& step : steps) {
    host().Tick(step.frame);
    EXPECT_EQ(recurring, step.fired) << "after a frame of " << step.frame << " s";
    ASSERT_FALSE(host().timers().List().empty());
    EXPECT_EQ(host().timers().List()[0].skipped, step.skipped) << step.frame;
  }
  EXPECT_EQ(limited, 2) << "a timer with a count fires that many times";
  EXPECT_EQ(host().timers().Count(), 1u);
  std::vector<std::string> warnings;
  for (const auto& line : host().log().Lines()) {
    if (line.level == "warning") {
      warnings.push_back(line.message.substr(0, 46));
    }
  }
  EXPECT_EQ(warnings, (std::vector<std::string>{"Timer r fell 99 firing(s) behind game time in ",
                                                "Timer l fell 99 firing(s) behind game time in "}));
}

TEST_F(FrameworkTest, RconCommandsMatchWithoutRegardToCase) {
  int calls = 0;
  AsaApi::GetCommands().RegisterRconCommand(
      FString(L"ForceGC"), [&calls](RCONClientConnection*, RCONPacket*, UWorld*) { ++calls; });
  EXPECT_TRUE(host().commands().ExecuteRcon(L"forcegc", nullptr, nullptr, nullptr));
  EXPECT_FALSE(host().commands().ExecuteRcon(L"ForceGC2", nullptr, nullptr, nullptr));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(AsaApi::GetCommands().UnregisterRconCommand(FString(L"FORCEGC")));
  EXPECT_FALSE(host().commands().ExecuteRcon(L"ForceGC", nullptr, nullptr, nullptr));
}

TEST_F(FrameworkTest, ExceptionsThatEscapeACallbackAreCountedNotPropagated) {
  AsaApi::GetCommands().RegisterUpdateCallback(FString(L"bad"),
                                               [] { throw std::runtime_error("boom"); });
  EXPECT_NO_THROW(host().Tick(0.01));
  EXPECT_EQ(host().EscapedExceptions(), 1u);
}

class EngineTest : public quillmoor_test::HostTest {
  void Configure(devhost::HostOptions& o) override {
    o.engine.objects = 1000;
    o.engine.object_churn = 100;
  }
};

TEST_F(EngineTest, ObjectsGrowWithChurnAndAFullCollectionTakesThemBack) {
  host().Advance(10);
  const auto grown = host().engine().ObjectCount();
  EXPECT_GT(grown, 1000);
  (*host().engine().engine_slot())->purge_pending = true;
  host().Tick(0.0);
  EXPECT_EQ(host().engine().ObjectCount(), 1000);
}

TEST_F(EngineTest, ConsoleVariablesDriveTickRateAndPurgeInterval) {
  host().engine().ExecuteConsoleCommand(L"t.MaxFPS 30");
  host().engine().ExecuteConsoleCommand(L"gc.TimeBetweenPurgingPendingKillObjects 20.0");
  EXPECT_DOUBLE_EQ(host().engine().TickRate(), 30.0);
  EXPECT_DOUBLE_EQ(host().engine().PurgeInterval(), 20.0);
  host().engine().ExecuteConsoleCommand(L"t.MaxFPS nonsense");
  EXPECT_DOUBLE_EQ(host().engine().TickRate(), 60.0);
}

}  // namespace
