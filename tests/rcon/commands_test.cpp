// The two remote-console commands as a client sees them: one reply per
// request, byte for byte, with the request's id and the response type.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "devhost/connection.h"
#include "formats/plugin_files.h"
#include "formats/replies.h"
#include "formats/stats_line.h"
#include "gc/gc_manager.h"
#include "rcon/commands.h"
#include "stats/stats_logger.h"
#include "support/host_test.h"
#include "support/wide.h"

namespace {

namespace Rcon = Quillmoor::Rcon;
using formats::ForceGcOutcome;
using formats::kForceGcCommand;
using formats::kStatsCommand;
using quillmoor_test::Widen;

const std::wstring kForced = Widen(formats::ForceGcReply(ForceGcOutcome::kForced));
const std::wstring kForceGc = Widen(kForceGcCommand);

std::string Registered(std::string_view name, const char* what) {
  return "[Quillmoor] RCON command '" + std::string(name) + "' " + what + ".";
}

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
  Register(kForceGcCommand);
  Rcon::UnregisterCommands(registered_);
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            Registered(kForceGcCommand, "registered"),
                            Registered(kStatsCommand, "registered"),
                            Registered(kForceGcCommand, "unregistered"),
                            Registered(kStatsCommand, "unregistered"),
                        }));
  EXPECT_TRUE(host().commands().RconCommandNames().empty());
}

TEST_F(RconCommandsTest, ForceGCRepliesOnceWithTheRequestIdAndForcesACollection) {
  Register(kForceGcCommand);
  auto replies = Send(kForceGc, 4242);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].id, 4242);
  EXPECT_EQ(replies[0].type, 0);
  EXPECT_EQ(replies[0].body, kForced);
  EXPECT_EQ(host().engine().ForcedCollections(), 1u);
  const std::string forced = formats::ForcedCollectionMessage(formats::kRconTrigger);
  EXPECT_TRUE(Logged("[Quillmoor] " + forced));
  EXPECT_NE(quillmoor_test::ReadFile(PluginDir() / formats::kStatsLogFile)
                .find("] " + forced + std::string(formats::kStatsLineEnd)),
            std::string::npos);
}

TEST_F(RconCommandsTest, ARenamedCommandStillAnswersAsForceGC) {
  Register("PurgeNow");
  EXPECT_TRUE(Logged("[Quillmoor] RCON command 'PurgeNow' registered."));
  Send(kForceGc, 1);
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
  Register(kForceGcCommand);
  host().engine().SetEngineNull(true);
  auto replies = Send(kForceGc, 9);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].id, 9);
  EXPECT_EQ(replies[0].body, Widen(formats::ForceGcReply(ForceGcOutcome::kNoEngine)));
  EXPECT_TRUE(Logged("[Quillmoor] ForceGC: GEngine is null (trigger: " +
                     std::string(formats::kRconTrigger) + ")"));
}

TEST_F(RconCommandsTest, AFailureInsideTheHandlerStillGetsExactlyOneReply) {
  Register(kForceGcCommand);
  host().faults().ThrowOn("lookup:Global.GEngine");
  auto replies = Send(kForceGc, 3);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].body, Widen(formats::ForceGcReply(ForceGcOutcome::kFailed)));
  EXPECT_TRUE(
      Logged("[Quillmoor] Rcon::HandleForceGC exception: injected fault: lookup:Global.GEngine"));
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(RconCommandsTest, AFailingSendIsLoggedAndContained) {
  Register(kForceGcCommand);
  host().faults().ThrowOn("SendMessage");
  auto replies = Send(Widen(kStatsCommand), 5);
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
  Register(kForceGcCommand);
  // The framework matches names ignoring case.
  std::string lower = kStatsCommand;
  for (char& c : lower) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  ASSERT_NE(lower, kStatsCommand);
  auto replies = Send(Widen(lower), -7);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].id, -7);
  EXPECT_EQ(replies[0].type, 0);
  EXPECT_EQ(replies[0].body, Widen(formats::StatsReply(2147483000)));
  EXPECT_NE(replies[0].body.find(L":2147483000}"), std::wstring::npos) << "not in plain decimal";
  EXPECT_EQ(host().allocator().OutstandingBlocks(), 0u);
}

}  // namespace
