// The two remote-console commands as a client sees them: one reply per
// request, byte for byte, with the request's id and the response type.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "devhost/connection.h"
#include "gc/gc_manager.h"
#include "rcon/commands.h"
#include "stats/stats_logger.h"
#include "support/host_test.h"

namespace {

namespace Rcon = Quillmoor::Rcon;

constexpr const wchar_t* kForced =
    L"{\"cmd\":\"ForceGC\",\"message\":\"Garbage collection forced successfully\",\"status\":"
    L"\"success\"}";

class RconCommandsTest : public quillmoor_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    Quillmoor::StatsLogger::Init(PluginDir().string());
  }
  // Sends `command` as a client would, through the framework's registry.
  std::vector<RCONClientConnection::Reply> Send(const std::wstring& command, int id) {
    RCONClientConnection connection;
    RCONPacket packet;
    packet.Id = id;
    packet.Type = 2;
    packet.Body = FString(command.c_str());
    found_ = host().commands().ExecuteRcon(command, &connection, &packet, host().engine().world());
    return connection.Replies();
  }
  void Register(const std::string& name) {
    Rcon::RegisterCommands(name, &Quillmoor::ForceGC, registered_);
  }
  bool found_ = false;
  Rcon::Registered registered_;
};

TEST_F(RconCommandsTest, RegistrationUsesTheConfiguredNameAndLogsFourLines) {
  host().log().ClearCapture();
  Register("ForceGC");
  Rcon::UnregisterCommands(registered_);
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "[Quillmoor] RCON command 'ForceGC' registered.",
                            "[Quillmoor] RCON command 'GetServerStats' registered.",
                            "[Quillmoor] RCON command 'ForceGC' unregistered.",
                            "[Quillmoor] RCON command 'GetServerStats' unregistered.",
                        }));
  EXPECT_TRUE(host().commands().RconCommandNames().empty());
}

TEST_F(RconCommandsTest, ForceGCRepliesOnceWithTheRequestIdAndForcesACollection) {
  Register("ForceGC");
  auto replies = Send(L"ForceGC", 4242);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].id, 4242);
  EXPECT_EQ(replies[0].type, 0);
  EXPECT_EQ(replies[0].body, kForced);
  EXPECT_EQ(host().engine().ForcedCollections(), 1u);
  EXPECT_TRUE(Logged("[Quillmoor] GC forced. Trigger: rcon"));
  EXPECT_NE(quillmoor_test::ReadFile(PluginDir() / "Quillmoor_stats.log")
                .find("] GC forced. Trigger: rcon\r\n"),
            std::string::npos);
}

TEST_F(RconCommandsTest, ARenamedCommandStillAnswersAsForceGC) {
  Register("PurgeNow");
  EXPECT_TRUE(Logged("[Quillmoor] RCON command 'PurgeNow' registered."));
  Send(L"ForceGC", 1);
  EXPECT_FALSE(found_) << "the default name must no longer answer";
  auto replies = Send(L"PurgeNow", 2);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].body, kForced);
}

TEST_F(RconCommandsTest, ANonAsciiCommandNameIsDecodedFromUtf8) {
  Register("Säubern\xFF");
  EXPECT_TRUE(host().commands().HasRconCommand(L"Säubern\uFFFD"));
}

TEST_F(RconCommandsTest, ForceGCWithoutAnEngineRepliesWithAnError) {
  Register("ForceGC");
  host().engine().SetEngineNull(true);
  auto replies = Send(L"ForceGC", 9);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].id, 9);
  EXPECT_EQ(replies[0].body,
            L"{\"cmd\":\"ForceGC\",\"message\":\"Garbage collection could not be forced: engine "
            L"not available\",\"status\":\"error\"}");
  EXPECT_TRUE(Logged("[Quillmoor] ForceGC: GEngine is null (trigger: rcon)"));
}

TEST_F(RconCommandsTest, AFailureInsideTheHandlerStillGetsExactlyOneReply) {
  Register("ForceGC");
  host().faults().ThrowOn("lookup:Global.GEngine");
  auto replies = Send(L"ForceGC", 3);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].body,
            L"{\"cmd\":\"ForceGC\",\"message\":\"Garbage collection could not be forced: internal "
            L"error\",\"status\":\"error\"}");
  EXPECT_TRUE(
      Logged("[Quillmoor] Rcon::HandleForceGC exception: injected fault: lookup:Global.GEngine"));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(RconCommandsTest, AFailingSendIsLoggedAndContained) {
  Register("ForceGC");
  host().faults().ThrowOn("SendMessage");
  auto replies = Send(L"GetServerStats", 5);
  EXPECT_TRUE(replies.empty());
  EXPECT_TRUE(
      Logged("[Quillmoor] Rcon::HandleGetServerStats reply exception: injected fault: "
             "SendMessage"));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

class LargeEngine : public RconCommandsTest {
  void Configure(devhost::HostOptions& o) override { o.engine.objects = 2147483000; }
};

TEST_F(LargeEngine, GetServerStatsReportsTheObjectCountInPlainDecimal) {
  Register("ForceGC");
  auto replies = Send(L"getserverstats", -7);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].id, -7);
  EXPECT_EQ(replies[0].type, 0);
  EXPECT_EQ(replies[0].body,
            L"{\"cmd\":\"GetServerStats\",\"data\":{\"uobjects\":2147483000},\"status\":"
            L"\"success\"}");
  EXPECT_EQ(host().allocator().OutstandingBlocks(), 0u);
}

}  // namespace
