// The structure pass against the devhost's world: what it writes into which
// actors, what it reports, and that the actor array never leaks.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "config/config.h"
#include "formats/plugin_files.h"
#include "formats/stats_line.h"
#include "stats/stats_logger.h"
#include "structures/structure_manager.h"
#include "support/host_test.h"

namespace {

using Quillmoor::Config;
using Quillmoor::UpdateStructureNetFreq;

class StructureTest : public quillmoor_test::HostTest {
 protected:
  void Configure(devhost::HostOptions& o) override {
    o.engine.structures = structures_;
    o.engine.null_structures = nulls_;
  }
  void SetUp() override {
    HostTest::SetUp();
    Quillmoor::StatsLogger::Init(PluginDir().string());
    host().log().ClearCapture();
  }
  void World(int structures, int nulls) {
    structures_ = structures;
    nulls_ = nulls;
    RestartHost();
    Quillmoor::StatsLogger::Shutdown();
    Quillmoor::StatsLogger::Init(PluginDir().string());
    host().log().ClearCapture();
  }
  // How many structures hold the given pair of frequencies.
  int Holding(float net, float min) {
    int n = 0;
    for (auto& a : host().engine().Structures()) {
      n += (a->NetUpdateFrequency == net && a->MinNetUpdateFrequency == min) ? 1 : 0;
    }
    return n;
  }
  std::string Stats() const {
    auto path = PluginDir() / formats::kStatsLogFile;
    return std::filesystem::exists(path) ? quillmoor_test::ReadFile(path) : std::string();
  }
  std::size_t Leaked() { return host().allocator().OutstandingBlocks(); }

  int structures_ = 47;
  int nulls_ = 0;
};

TEST_F(StructureTest, APassWritesEveryActorAndCountsNullEntriesInTheTotal) {
  World(45, 2);
  UpdateStructureNetFreq(0.2f, 0.1f, true);
  EXPECT_EQ(Holding(0.2f, 0.1f), 45);
  const std::string pass = formats::StructurePassMessage(45, 47, 0.2f, 0.1f);
  EXPECT_NE(Stats().find("] " + pass + std::string(formats::kStatsLineEnd)), std::string::npos)
      << Stats();
  EXPECT_EQ(Messages(), std::vector<std::string>{"[Quillmoor] " + pass});
  EXPECT_EQ(Leaked(), 0u);
}

// The pass looks fields up and writes them in groups of actors: every size
// around a group's edge, with null entries among them, is written whole.
TEST_F(StructureTest, EveryWorldSizeIsWrittenWholeWhateverItsGroups) {
  const struct {
    int structures;
    int nulls;
  } cases[] = {{1, 0}, {1023, 1}, {1024, 0}, {1024, 1}, {1025, 0}, {2047, 2}, {2049, 0}, {5000, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.structures) + " structures, " + std::to_string(c.nulls) +
                 " null");
    World(c.structures, c.nulls);
    UpdateStructureNetFreq(0.2f, 0.1f, true);
    EXPECT_EQ(Holding(0.2f, 0.1f), c.structures);
    EXPECT_EQ(Messages(),
              std::vector<std::string>{
                  "[Quillmoor] " +
                  formats::StructurePassMessage(c.structures, c.structures + c.nulls, 0.2f, 0.1f)});
    EXPECT_EQ(Leaked(), 0u);
  }
}

TEST_F(StructureTest, AQuietPassStillWritesItsStatisticsLine) {
  UpdateStructureNetFreq(10.0f, 0.05f, false);
  EXPECT_TRUE(Messages().empty());
  EXPECT_NE(Stats().find("Applied to 47/47 structures. NetFreq: 10.00, MinNetFreq: 0.05"),
            std::string::npos);
}

TEST_F(StructureTest, OnlyNullEntriesAreCountedButNothingIsWritten) {
  World(0, 3);
  UpdateStructureNetFreq(0.2f, 0.1f, true);
  EXPECT_NE(Stats().find("Applied to 0/3 structures."), std::string::npos);
  EXPECT_EQ(Leaked(), 0u);
}

TEST_F(StructureTest, AnEmptyWorldWarnsAndRecordsNothing) {
  World(0, 0);
  UpdateStructureNetFreq(0.2f, 0.1f, true);
  EXPECT_EQ(
      MessagesAt("warning"),
      std::vector<std::string>{"[Quillmoor] StructureNetFreq: No structures found in range."});
  EXPECT_EQ(Stats(), "");
}

class NoWorldStructures : public StructureTest {
  void Configure(devhost::HostOptions& o) override {
    StructureTest::Configure(o);
    o.world_delay = 1000;
  }
};

TEST_F(NoWorldStructures, APassBeforeTheWorldExistsWarnsAndChangesNothing) {
  UpdateStructureNetFreq(0.2f, 0.1f, true);
  EXPECT_EQ(
      MessagesAt("warning"),
      std::vector<std::string>{"[Quillmoor] StructureNetFreq: GetWorld() null, skipping update."});
  EXPECT_EQ(Holding(0.2f, 0.1f), 0);
  EXPECT_EQ(Stats(), "");
}

TEST_F(StructureTest, ALookupThatThrowsMidWalkEndsThePassWithoutLeakingAndTheNextPassDoesAll) {
  // In the first group of actors, and after whole groups were written.
  for (const int failing : {7, 2500}) {
    SCOPED_TRACE("lookup " + std::to_string(failing) + " fails");
    World(3000, 0);
    const std::string before = Stats();
    // The nth lookup of the field is the nth actor's.
    host().faults().ThrowOn("lookup:AActor.MinNetUpdateFrequency", failing);
    UpdateStructureNetFreq(0.2f, 0.1f, true);
    EXPECT_EQ(Holding(0.2f, 0.1f), failing - 1);
    EXPECT_EQ(MessagesAt("error"),
              std::vector<std::string>{"[Quillmoor] StructureNetFreq update exception: injected "
                                       "fault: lookup:AActor.MinNetUpdateFrequency"});
    EXPECT_EQ(Stats(), before) << "a failed pass reports no result";
    EXPECT_EQ(Leaked(), 0u);
    EXPECT_EQ(host().allocator().BadFrees(), 0u);

    UpdateStructureNetFreq(0.2f, 0.1f, false);
    EXPECT_EQ(Holding(0.2f, 0.1f), 3000);
    EXPECT_NE(Stats().find("Applied to 3000/3000 structures.", before.size()), std::string::npos);
  }
}

TEST_F(StructureTest, AnUnknownExceptionIsReportedAsSuch) {
  host().faults().ThrowUnknownOn("lookup:AActor.NetUpdateFrequency");
  UpdateStructureNetFreq(0.2f, 0.1f, false);
  EXPECT_EQ(MessagesAt("error"),
            std::vector<std::string>{"[Quillmoor] StructureNetFreq update: unknown exception."});
  EXPECT_EQ(Leaked(), 0u);
}

TEST_F(StructureTest, InitStartsTheTimerWithCopiesOfTheSettings) {
  Config c;
  // Set, not assumed from the defaults: the lines and the timer below show them.
  c.StructureNetFreq.Enabled = true;
  c.StructureNetFreq.CheckIntervalSeconds = 300;
  c.StructureNetFreq.NetUpdateFreq = 0.2f;
  c.StructureNetFreq.MinNetUpdateFreq = 0.1f;
  Quillmoor::StructureManager::Init(c);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "[Quillmoor] StructureNetFreq timer started. Interval: 300s, NetFreq: "
                            "0.20, MinNetFreq: 0.10"});
  auto timers = host().timers().List();
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers[0].id, L"Quillmoor_StructNetFreq");
  EXPECT_EQ(timers[0].interval_seconds, 300);

  host().Advance(299);
  EXPECT_EQ(Holding(0.2f, 0.1f), 0) << "no pass before the first interval";
  host().Advance(1);
  EXPECT_EQ(Holding(0.2f, 0.1f), 47);
  host().Advance(600);
  EXPECT_EQ(host().timers().List()[0].fired, 3u);
  EXPECT_EQ(Leaked(), 0u);
}

TEST_F(StructureTest, DisabledUpdaterRegistersNoTimer) {
  Config c;
  c.StructureNetFreq.Enabled = false;
  Quillmoor::StructureManager::Init(c);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"[Quillmoor] StructureNetFreq disabled in config."});
  EXPECT_EQ(host().timers().Count(), 0u);
}

TEST_F(StructureTest, AFailingTimerRegistrationIsReportedWithoutTheStartLine) {
  host().faults().ThrowOn("Timer");
  Config c;
  c.StructureNetFreq.Enabled = true;
  Quillmoor::StructureManager::Init(c);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "[Quillmoor] StructureManager::Init exception: injected fault: Timer"});
}

}  // namespace
