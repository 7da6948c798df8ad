// The plugin's statistics lines and RCON replies, as its own code writes them
// (the spdlog file logger, the command handlers on the devhost), read back by
// the watcher's readers: a format changed on one side only fails here.
#include <gtest/gtest.h>
#include <chrono>
#include <stdexcept>
#include <string>

#include "devhost/connection.h"
#include "devhost/utf8.h"
#include "formats/plugin_files.h"
#include "formats/replies.h"
#include "formats/stats_line.h"
#include "gc/gc_manager.h"
#include "rcon/commands.h"
#include "stats/stats_logger.h"
#include "structures/structure_manager.h"
#include "support/host_test.h"
#include "watch/stats_log.h"
#include "watch/stats_reply.h"

namespace {

using std::chrono::system_clock;

class RoundTripTest : public quillmoor_test::HostTest {
 protected:
  void Configure(devhost::HostOptions& options) override { options.engine.structures = 3; }
  // The reply to `command`, sent as a client would through the registry.
  std::string Ask(const std::string& command) {
    RCONClientConnection connection;
    RCONPacket packet;
    packet.Id = 1;
    packet.Type = 2;
    const std::wstring wide(command.begin(), command.end());
    packet.Body = FString(wide.c_str());
    host().commands().ExecuteRcon(wide, &connection, &packet, host().engine().world());
    return connection.Replies().empty() ? std::string()
                                        : devhost::Utf8Encode(connection.Replies()[0].body);
  }
};

TEST_F(RoundTripTest, TheWatcherFindsEveryForcedCollectionTheStatisticsLogHolds) {
  Quillmoor::StatsLogger::Init(PluginDir().string());
  const auto before = std::chrono::floor<std::chrono::seconds>(system_clock::now());
  ASSERT_TRUE(Quillmoor::ForceGC("auto-timer", false));
  Quillmoor::UpdateStructureNetFreq(0.2f, 0.1f, false);
  ASSERT_TRUE(Quillmoor::ForceGC("rcon", true));
  const auto after = system_clock::now();
  Quillmoor::StatsLogger::Shutdown();

  const auto path = PluginDir() / formats::kStatsLogFile;
  // The structure pass wrote its line in between, and is passed over.
  const std::string text = quillmoor_test::ReadFile(path);
  ASSERT_EQ(formats::SplitStatsLines(text).size(), 3u);
  // Lines that tests and tools write themselves are the logger's, stamp and all.
  for (const std::string_view line : formats::SplitStatsLines(text)) {
    const auto parsed = formats::ParseStatsLine(line);
    ASSERT_TRUE(parsed) << line;
    EXPECT_EQ(formats::StatsLineText(parsed->stamp, parsed->message), line);
  }
  // The metrics read its counts back.
  const auto pass_line = formats::ParseStatsLine(formats::SplitStatsLines(text)[1]);
  ASSERT_TRUE(pass_line);
  const auto pass = formats::ReadStructurePass(pass_line->message);
  ASSERT_TRUE(pass);
  EXPECT_EQ(pass->applied, 3);
  EXPECT_EQ(pass->total, 3);
  EXPECT_DOUBLE_EQ(pass->net_freq, 0.2);
  EXPECT_DOUBLE_EQ(pass->min_net_freq, 0.1);
  const auto found = watch::ReadForcedCollections(path);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].trigger, "auto-timer");
  EXPECT_EQ(found[1].trigger, "rcon");
  for (const auto& collection : found) {
    EXPECT_GE(collection.time, before);
    EXPECT_LE(collection.time, after);
  }
}

TEST_F(RoundTripTest, TheWatcherReadsTheCountOrTheFailureFromTheStatisticsReply) {
  Quillmoor::Rcon::Registered registered;
  Quillmoor::Rcon::RegisterCommands(formats::kForceGcCommand, &Quillmoor::ForceGC, registered);
  EXPECT_EQ(watch::ParseObjectCount(Ask(formats::kStatsCommand)), host().engine().ObjectCount());

  host().faults().ThrowOn("lookup:Global.GUObjectArray");
  const std::string failed = Ask(formats::kStatsCommand);
  ASSERT_FALSE(failed.empty());
  EXPECT_THROW(watch::ParseObjectCount(failed), std::runtime_error);
}

}  // namespace
