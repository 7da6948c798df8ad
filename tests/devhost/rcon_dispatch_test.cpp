// The framework's own console commands and the choice of handler, called on
// the game thread as the RCON server calls them, without a socket.
#include <gtest/gtest.h>
#include <filesystem>
#include <string>
#include <vector>

#include "devhost/dynamic_library.h"
#include "devhost/host.h"
#include "devhost/rcon_dispatch.h"
#include "devhost/utf8.h"
#include "formats/replies.h"
#include "support/host_test.h"
#include "support/wide.h"

namespace {

using devhost::RconRequest;

class RconDispatchTest : public quillmoor_test::HostTest {
 protected:
  void Configure(devhost::HostOptions& options) override {
    options.engine.objects = 5000;
    options.engine.structures = 5;
  }
  void Install() {
    std::filesystem::copy_file(QUILLMOOR_PLUGIN_PATH,
                               PluginDir() / ("Quillmoor" + std::string(devhost::kLibrarySuffix)),
                               std::filesystem::copy_options::overwrite_existing);
  }
  // The one reply's body, as UTF-8.
  std::string Ask(const std::string& body, int id = 11) {
    auto replies = devhost::RunRconRequest(host(), RconRequest{id, 0, body, "test"});
    EXPECT_EQ(replies.size(), 1u) << body;
    if (replies.empty()) {
      return {};
    }
    EXPECT_EQ(replies[0].id, id);
    EXPECT_EQ(replies[0].type, 0);
    return devhost::Utf8Encode(replies[0].body);
  }
};

TEST_F(RconDispatchTest, StatusCountsStructuresByTheFrequenciesTheyHold) {
  auto& actors = host().engine().Structures();
  actors[0]->NetUpdateFrequency = 0.2f;
  actors[0]->MinNetUpdateFrequency = 0.1f;
  actors[3]->NetUpdateFrequency = 0.2f;
  actors[3]->MinNetUpdateFrequency = 0.1f;
  const std::string status = Ask("STATUS");
  EXPECT_NE(status.find("Tick rate: 60 fps\n"), std::string::npos) << status;
  EXPECT_NE(status.find("Objects: 5000\n"), std::string::npos) << status;
  EXPECT_NE(status.find("Structures: 5\n"), std::string::npos) << status;
  // Most common pair first.
  EXPECT_NE(status.find("  10 / 2: 3\n  0.2 / 0.1: 2\n"), std::string::npos) << status;
  EXPECT_NE(status.find("Plugins: none"), std::string::npos) << status;
}

TEST_F(RconDispatchTest, StatusSumsUpPairsBeyondTheFirstEight) {
  auto& actors = host().engine().Structures();
  host().engine().AddStructures(7);
  for (std::size_t i = 0; i < actors.size(); ++i) {
    actors[i]->NetUpdateFrequency = static_cast<float>(i);
  }
  const std::string status = Ask("status");
  EXPECT_NE(status.find("  (4 more in 4 other pairs)\n"), std::string::npos) << status;
}

TEST_F(RconDispatchTest, PluginsUnloadAndLoadReportTheirOutcome) {
  Install();
  EXPECT_EQ(Ask("plugins.load Quillmoor"), "Successfully loaded plugin Quillmoor");
  EXPECT_TRUE(host().commands().HasRconCommand(quillmoor_test::Widen(formats::kStatsCommand)));
  EXPECT_EQ(Ask("plugins.load Quillmoor").rfind("Failed to load plugin Quillmoor: ", 0), 0u);
  EXPECT_EQ(Ask("Plugins.Unload   Quillmoor  "), "Successfully unloaded plugin Quillmoor");
  EXPECT_FALSE(host().commands().HasRconCommand(quillmoor_test::Widen(formats::kStatsCommand)));
  EXPECT_EQ(Ask("plugins.unload Quillmoor"), "Plugin Quillmoor is not loaded");
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

TEST_F(RconDispatchTest, PluginsLoadOfAMissingLibrarySaysWhyAndLogsIt) {
  const std::string reply = Ask("plugins.load Nothing");
  EXPECT_EQ(reply.rfind("Failed to load plugin Nothing: plugin library not found: ", 0), 0u)
      << reply;
  const auto library = std::filesystem::path("ArkApi") / "Plugins" / "Nothing" /
                       ("Nothing" + std::string(devhost::kLibrarySuffix));
  EXPECT_NE(reply.find(library.string()), std::string::npos) << reply;
  bool logged = false;
  for (const auto& m : host().log().Messages("AsaApi")) {
    logged = logged || m.rfind("plugins.load Nothing failed: ", 0) == 0;
  }
  EXPECT_TRUE(logged);
}

TEST_F(RconDispatchTest, PluginNamesCannotLeaveThePluginFolder) {
  for (const std::string name : {"", "..", "../../bin/x", "a/b", "a\\b"}) {
    EXPECT_EQ(Ask("plugins.load " + name).rfind("Usage: plugins.load <Name>", 0), 0u) << name;
    EXPECT_EQ(Ask("plugins.unload " + name).rfind("Usage: plugins.unload <Name>", 0), 0u) << name;
  }
  EXPECT_TRUE(host().Plugins().empty());
}

TEST_F(RconDispatchTest, FrameworkCommandsComeBeforeAPluginsCommandOfTheSameName) {
  host().commands().RegisterRconCommand(FString(L"status"),
                                        [](RCONClientConnection* c, RCONPacket* p, UWorld*) {
                                          c->Deliver({p->Id, 0, L"plugin"});
                                        });
  EXPECT_EQ(Ask("status").rfind("Game time: ", 0), 0u);
}

TEST_F(RconDispatchTest, EveryReplyOfAHandlerIsPassedOnInOrder) {
  host().commands().RegisterRconCommand(FString(L"Twice"),
                                        [](RCONClientConnection* c, RCONPacket* p, UWorld*) {
                                          c->Deliver({p->Id, 0, L"one"});
                                          c->Deliver({p->Id + 1, 0, L"two"});
                                        });
  auto replies = devhost::RunRconRequest(host(), RconRequest{5, 0, "twice", "test"});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].body, L"one");
  EXPECT_EQ(replies[1].id, 6);
}

TEST_F(RconDispatchTest, CommandTextIsLoggedEscapedAndCutWhileTheReplyKeepsIt) {
  struct Case {
    std::string body;
    std::string reply;
    std::string logged_body;
    std::string logged_name;
  };
  const std::string long_name(4000, 'A');
  const Case cases[] = {
      {"Bad\nname\x1b[31m", "Unknown command: Bad\nname\x1b[31m", "Bad\\nname\\x1b[31m",
       "Bad\\nname\\x1b[31m"},
      // The reply decodes the bytes as the framework does, one U+FFFD each.
      {"Get\xff\xfe args\r\nX", "Unknown command: Get\xef\xbf\xbd\xef\xbf\xbd",
       "Get\\xff\\xfe args\\r\\nX", "Get\\xff\\xfe"},
      {long_name, "Unknown command: " + long_name, std::string(200, 'A') + "...",
       std::string(64, 'A') + "..."},
  };
  for (const auto& c : cases) {
    host().log().ClearCapture();
    EXPECT_EQ(Ask(c.body), c.reply) << c.logged_body;
    const std::vector<std::string> expected = {
        "RCON test: " + c.logged_body, "RCON test: unknown command '" + c.logged_name + "'"};
    EXPECT_EQ(host().log().Messages("AsaApi"), expected);
  }
}

}  // namespace
