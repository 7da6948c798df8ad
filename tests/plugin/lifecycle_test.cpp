// The plugin as the framework loads it: the built library, mapped and
// unmapped through the devhost's loader, with faults injected into the host.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

#include "devhost/dynamic_library.h"
#include "support/host_test.h"

namespace {

using quillmoor_test::HostTest;

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
  EXPECT_TRUE(host().commands().HasRconCommand(L"ForceGC"));
  EXPECT_TRUE(host().commands().HasRconCommand(L"GetServerStats"));
  EXPECT_TRUE(host().commands().HasUpdateCallback(L"Quillmoor_ApplyCVarsOnce"));
  EXPECT_EQ(host().timers().Count(), 2u);

  host().log().ClearCapture();
  Unload();
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "[Quillmoor] RCON command 'ForceGC' unregistered.",
                            "[Quillmoor] RCON command 'GetServerStats' unregistered.",
                            "[Quillmoor] StructureManager shutdown.",
                            "[Quillmoor] GCManager shutdown.",
                            "[Quillmoor] Plugin unloaded.",
                        }));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
  EXPECT_EQ(host().allocator().OutstandingBlocks(), 0u);
  EXPECT_EQ(host().allocator().BadFrees(), 0u);
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
  EXPECT_FALSE(host().commands().HasRconCommand(L"ForceGC"));
  EXPECT_EQ(host().timers().Count(), 0u);
  EXPECT_FALSE(std::filesystem::exists(PluginDir() / "Quillmoor_stats.log"));

  host().log().ClearCapture();
  Unload();
  auto m = Messages();
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m.front(), "[Quillmoor] RCON command 'ForceGC' unregistered.");  // the defaults
  EXPECT_EQ(m.back(), "[Quillmoor] Plugin unloaded.");
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(LifecycleTest, AnythingElseThrownIsReportedAsUnknown) {
  host().faults().ThrowUnknownOn("GetCurrentDir");
  Load();
  EXPECT_EQ(CountOf("[Quillmoor] Plugin_Init: unknown exception."), 1);
  host().faults().ThrowUnknownOn("UnregisterRconCommand");
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

TEST_F(LifecycleTest, TimersAndCallbacksRunAfterLoadWithoutEscapes) {
  Load();
  host().Advance(3600);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
  EXPECT_GE(host().engine().ForcedCollections(), 4u);
  Unload();
  EXPECT_EQ(host().allocator().OutstandingBlocks(), 0u);
}

}  // namespace
