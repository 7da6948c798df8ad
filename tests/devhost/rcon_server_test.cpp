// The RCON port as a client on a raw socket sees it: framing, login, command
// replies, and every kind of bad input, against an in-process server over a
// host with the plugin loaded. The test thread is the game thread: it pumps
// frames while it waits for the network thread's answers.
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "devhost/connection.h"
#include "devhost/dynamic_library.h"
#include "devhost/host.h"
#include "devhost/rcon_server.h"
#include "devhost/utf8.h"
#include "formats/replies.h"
#include "host/framework.h"
#include "support/host_test.h"
#include "support/rcon_client.h"

namespace {

using namespace std::chrono_literals;
using devhost::RconOptions;
using devhost::RconServer;
using formats::kForceGcCommand;
using formats::kStatsCommand;
using quillmoor_test::kAuth;
using quillmoor_test::kAuthResponse;
using quillmoor_test::kExecCommand;
using quillmoor_test::kResponseValue;
using quillmoor_test::RconPacket;
using quillmoor_test::RconSocket;

// How long a test waits for what must happen (a reply, a close, a log line).
// Waits end as soon as it happens, so only a fault costs this much; it is
// long so that a loaded machine, a sanitizer or Wine never fails a test.
constexpr auto kPatience = 20s;
constexpr std::int32_t kObjects = 123456;
constexpr const char* kPassword = "s3cret";
const std::string kStatsReply = formats::StatsReply(kObjects);

// `name` in another case: the framework matches command names ignoring it.
std::string OtherCase(std::string name, bool upper) {
  for (char& c : name) {
    if (upper && c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (!upper && c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

class RconServerTest : public quillmoor_test::HostTest {
 protected:
  void Configure(devhost::HostOptions& options) override { options.engine.objects = kObjects; }

  void SetUp() override {
    HostTest::SetUp();
    // Loaded from its folder in the server directory, as the dev server
    // installs it, so that plugins.load finds it again.
    const auto installed = PluginDir() / ("Quillmoor" + std::string(devhost::kLibrarySuffix));
    std::filesystem::copy_file(QUILLMOOR_PLUGIN_PATH, installed);
    host().LoadPlugin(installed);
    RconOptions options;
    options.port = 0;
    options.password = kPassword;
    Tune(options);
    server_ = std::make_unique<RconServer>(host(), options);
  }
  void TearDown() override {
    server_.reset();
    HostTest::TearDown();
  }
  virtual void Tune(RconOptions& /*options*/) {}

  std::unique_ptr<RconSocket> Connect(int receive_buffer = 0) {
    return std::make_unique<RconSocket>(server_->port(), receive_buffer);
  }
  void Pump() { host().Tick(1.0 / 30); }

  // The next packet, pumping the game loop meanwhile; none if the server
  // closed the connection or nothing came within `timeout`.
  std::optional<RconPacket> Receive(RconSocket& s, std::chrono::milliseconds timeout = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (auto p = s.TakePacket()) {
        return p;
      }
      if (!s.Poll(2ms) && s.Buffered() < 4) {
        return std::nullopt;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        return std::nullopt;
      }
      Pump();
    }
  }
  // True if the server ends the connection within `timeout`; whatever it
  // sent before that is left in `s`.
  bool ClosedWithin(RconSocket& s, std::chrono::milliseconds timeout = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!s.Poll(2ms)) {
        return true;
      }
      Pump();
    }
    return false;
  }
  // True if no byte arrives for `quiet`: "exactly one reply" means nothing
  // follows the one.
  bool NothingMoreWithin(RconSocket& s, std::chrono::milliseconds quiet = 300ms) {
    const std::size_t before = s.Buffered();
    const auto deadline = std::chrono::steady_clock::now() + quiet;
    while (std::chrono::steady_clock::now() < deadline) {
      s.Poll(2ms);
      Pump();
    }
    return s.Buffered() == before && !s.closed();
  }

  void Login(RconSocket& s, std::int32_t id = 1) {
    ASSERT_TRUE(s.SendPacket(id, kAuth, kPassword));
    auto reply = Receive(s);
    ASSERT_TRUE(reply.has_value()) << "no answer to the login";
    ASSERT_EQ(reply->type, kAuthResponse);
    ASSERT_EQ(reply->id, id) << "login refused";
  }
  std::optional<RconPacket> Run(RconSocket& s, const std::string& command, std::int32_t id = 7) {
    if (!s.SendPacket(id, kExecCommand, command)) {
      return std::nullopt;
    }
    return Receive(s);
  }
  // A fresh client still logs in and gets the plugin's answer: whatever an
  // earlier test step did to its own connection did not hurt the server.
  void ExpectServerStillAnswers() {
    auto s = Connect();
    Login(*s, 99);
    auto reply = Run(*s, kStatsCommand, 100);
    ASSERT_TRUE(reply.has_value()) << "the server stopped answering";
    EXPECT_EQ(reply->id, 100);
    EXPECT_EQ(reply->body, kStatsReply);
  }
  // Waits, pumping, for a host log message of the host's own logger that
  // contains `text`.
  bool HostLogged(const std::string& text, std::chrono::milliseconds timeout = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      for (const auto& message : host().log().Messages("AsaApi")) {
        if (message.find(text) != std::string::npos) {
          return true;
        }
      }
      Pump();
      std::this_thread::sleep_for(1ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  // Registers a command of the test's own, as a plugin would.
  void Register(const wchar_t* name, AsaApi::RconHandler handler) {
    host().commands().RegisterRconCommand(FString(name), handler);
  }

  std::unique_ptr<RconServer> server_;
};

// --- login ---

TEST_F(RconServerTest, RightPasswordGetsExactlyOneAuthResponseWithTheRequestId) {
  auto s = Connect();
  ASSERT_TRUE(s->SendPacket(31337, kAuth, kPassword));
  auto reply = Receive(*s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->type, kAuthResponse);
  EXPECT_EQ(reply->id, 31337);
  EXPECT_EQ(reply->size, 10);
  EXPECT_TRUE(reply->body.empty());
  EXPECT_TRUE(reply->terminated);
  // Common clients fail to log in when an empty RESPONSE_VALUE comes too.
  EXPECT_TRUE(NothingMoreWithin(*s));
}

TEST_F(RconServerTest, WrongPasswordGetsMinusOneAndTheClientMayTryAgain) {
  auto s = Connect();
  ASSERT_TRUE(s->SendPacket(5, kAuth, "guess"));
  auto reply = Receive(*s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->type, kAuthResponse);
  EXPECT_EQ(reply->id, -1);
  EXPECT_TRUE(NothingMoreWithin(*s));
  EXPECT_TRUE(HostLogged("wrong password (1 of 3)"));
  // A password that is a prefix of the right one is wrong too.
  ASSERT_TRUE(s->SendPacket(6, kAuth, "s3cre"));
  EXPECT_EQ(Receive(*s)->id, -1);
  Login(*s, 7);
  EXPECT_EQ(Run(*s, kStatsCommand)->body, kStatsReply);
}

TEST_F(RconServerTest, CommandBeforeLoginIsRefusedAndTheConnectionClosed) {
  auto s = Connect();
  ASSERT_TRUE(s->SendPacket(12, kExecCommand, kForceGcCommand));
  auto reply = Receive(*s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->type, kAuthResponse);
  EXPECT_EQ(reply->id, -1);
  EXPECT_TRUE(ClosedWithin(*s));
  EXPECT_TRUE(HostLogged("command before authentication; closing"));
  EXPECT_EQ(host().engine().ForcedCollections(), 0u) << "the command ran without a login";
  ExpectServerStillAnswers();
}

class RconBlockTest : public RconServerTest {
 protected:
  void Tune(RconOptions& options) override { options.block_duration = 700ms; }
};

TEST_F(RconBlockTest, ThirdWrongPasswordClosesAndRefusesTheAddressForAWhile) {
  auto other = Connect();  // open before the block: must not go on guessing
  auto s = Connect();
  for (int i = 1; i <= 2; ++i) {
    ASSERT_TRUE(s->SendPacket(i, kAuth, "guess"));
    EXPECT_EQ(Receive(*s)->id, -1);
  }
  ASSERT_TRUE(s->SendPacket(3, kAuth, "guess"));
  auto third = Receive(*s);
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(third->id, -1);
  EXPECT_TRUE(ClosedWithin(*s));
  EXPECT_TRUE(HostLogged("wrong password (3 in a row); closing and refusing 127.0.0.1"));

  auto refused = Connect();
  EXPECT_TRUE(ClosedWithin(*refused));
  EXPECT_EQ(refused->Buffered(), 0u);
  EXPECT_TRUE(HostLogged("address blocked for another"));

  ASSERT_TRUE(other->SendPacket(4, kAuth, kPassword));
  EXPECT_EQ(Receive(*other)->id, -1) << "the right password let a blocked address in";
  EXPECT_TRUE(ClosedWithin(*other));

  std::this_thread::sleep_for(800ms);
  ExpectServerStillAnswers();
}

TEST_F(RconServerTest, RightPasswordClearsEarlierWrongOnes) {
  auto s = Connect();
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(s->SendPacket(1, kAuth, "guess"));
      ASSERT_EQ(Receive(*s)->id, -1);
    }
    Login(*s, 2);
  }
  EXPECT_FALSE(s->closed());
}

// --- framing of bad packets ---

class RconDeclaredSizeTest : public RconServerTest,
                             public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(RconDeclaredSizeTest, SizeOutsideTenTo4096ClosesTheConnection) {
  auto s = Connect();
  Login(*s);
  ASSERT_TRUE(s->Send(quillmoor_test::Int32Bytes(GetParam()) + std::string(12, '\0')));
  EXPECT_TRUE(ClosedWithin(*s));
  EXPECT_EQ(s->Buffered(), 0u);
  EXPECT_TRUE(HostLogged("declared packet size " + std::to_string(GetParam()) +
                         " is outside 10..4096; closing"));
  ExpectServerStillAnswers();
}

INSTANTIATE_TEST_SUITE_P(BelowAndAbove, RconDeclaredSizeTest,
                         ::testing::Values(9, 0, -1, 4097, std::numeric_limits<std::int32_t>::max(),
                                           std::numeric_limits<std::int32_t>::min()));

TEST_F(RconServerTest, SizesTenAnd4096AreAccepted) {
  Register(L"Echo", [](RCONClientConnection* c, RCONPacket* p, UWorld*) {
    c->Deliver({p->Id, kResponseValue, *p->Body});
  });
  auto s = Connect();
  Login(*s);
  // Size 10: an empty body, which is an empty command.
  ASSERT_TRUE(s->Send(quillmoor_test::Int32Bytes(10) + quillmoor_test::Int32Bytes(3) +
                      quillmoor_test::Int32Bytes(kExecCommand) + std::string(2, '\0')));
  auto empty = Receive(*s);
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->id, 3);
  // Size 4096: the longest body there is.
  const std::string body = "Echo " + std::string(4086 - 5, 'x');
  ASSERT_EQ(quillmoor_test::EncodeRcon(4, kExecCommand, body).size(), 4100u);
  auto echoed = Run(*s, body, 4);
  ASSERT_TRUE(echoed.has_value());
  EXPECT_EQ(echoed->body, body);
}

TEST_F(RconServerTest, BodyWithoutItsTerminatorsClosesTheConnection) {
  auto s = Connect();
  Login(*s);
  // Declares 12 bytes: id, type and "stat" with no NUL after it.
  ASSERT_TRUE(s->Send(quillmoor_test::Int32Bytes(12) + quillmoor_test::Int32Bytes(8) +
                      quillmoor_test::Int32Bytes(kExecCommand) + "stat"));
  EXPECT_TRUE(ClosedWithin(*s));
  EXPECT_EQ(s->Buffered(), 0u);
  EXPECT_TRUE(HostLogged("packet 8 (type 2) lacks the two NULs that end its body; closing"));
  ExpectServerStillAnswers();
}

TEST_F(RconServerTest, OneTerminatorIsNotEnough) {
  auto s = Connect();
  Login(*s);
  ASSERT_TRUE(s->Send(quillmoor_test::Int32Bytes(15) + quillmoor_test::Int32Bytes(8) +
                      quillmoor_test::Int32Bytes(kExecCommand) + "status" + '\0'));
  EXPECT_TRUE(ClosedWithin(*s));
  EXPECT_TRUE(HostLogged("lacks the two NULs"));
}

TEST_F(RconServerTest, UnknownPacketTypeClosesTheConnection) {
  auto s = Connect();
  Login(*s);
  ASSERT_TRUE(s->SendPacket(9, 77, "status"));
  EXPECT_TRUE(ClosedWithin(*s));
  EXPECT_TRUE(HostLogged("packet 9 has unknown type 77; closing"));
  ExpectServerStillAnswers();
}

TEST_F(RconServerTest, PacketSplitAcrossManyWritesIsReassembled) {
  auto s = Connect();
  Login(*s);
  const std::string packet = quillmoor_test::EncodeRcon(21, kExecCommand, kStatsCommand);
  for (char byte : packet) {
    ASSERT_TRUE(s->Send(std::string(1, byte)));
    std::this_thread::sleep_for(1ms);
  }
  auto reply = Receive(*s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->id, 21);
  EXPECT_EQ(reply->body, kStatsReply);
}

// --- commands ---

TEST_F(RconServerTest, GetServerStatsReplyIsOnePacketByteForByte) {
  auto s = Connect();
  Login(*s);
  ASSERT_TRUE(s->SendPacket(424242, kExecCommand, kStatsCommand));
  auto reply = Receive(*s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->size, static_cast<std::int32_t>(kStatsReply.size()) + 10);
  EXPECT_EQ(reply->id, 424242);
  EXPECT_EQ(reply->type, kResponseValue);
  EXPECT_EQ(reply->body, kStatsReply);
  EXPECT_TRUE(reply->terminated);
  EXPECT_TRUE(NothingMoreWithin(*s));
}

TEST_F(RconServerTest, CommandNamesMatchWithoutRegardToCase) {
  auto s = Connect();
  Login(*s);
  ASSERT_NE(OtherCase(kStatsCommand, false), kStatsCommand);
  ASSERT_NE(OtherCase(kForceGcCommand, true), kForceGcCommand);
  EXPECT_EQ(Run(*s, OtherCase(kStatsCommand, false))->body, kStatsReply);
  auto forced = Run(*s, OtherCase(kForceGcCommand, true));
  ASSERT_TRUE(forced.has_value());
  EXPECT_EQ(forced->body, formats::ForceGcReply(formats::ForceGcOutcome::kForced));
  EXPECT_EQ(host().engine().ForcedCollections(), 1u);
}

TEST_F(RconServerTest, HandlerGetsTheRequestIdAtOffsetFourTheWholeBodyAndTheWorld) {
  std::int32_t seen_id = 0;
  std::wstring seen_body;
  UWorld* seen_world = nullptr;
  Register(L"Inspect", [&](RCONClientConnection* c, RCONPacket* p, UWorld* world) {
    std::int32_t at_four = 0;
    std::memcpy(&at_four, reinterpret_cast<const char*>(p) + 4, sizeof at_four);
    seen_id = at_four;
    seen_body = *p->Body;
    seen_world = world;
    c->Deliver({p->Id, kResponseValue, L"ok"});
  });
  auto s = Connect();
  Login(*s);
  auto reply = Run(*s, "inspect  some args here", 5150);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->body, "ok");
  EXPECT_EQ(seen_id, 5150);
  EXPECT_EQ(seen_body, L"inspect  some args here");
  EXPECT_EQ(seen_world, host().engine().world());
}

TEST_F(RconServerTest, UnknownAndEmptyCommandsGetOneReplySayingSoWithTheirId) {
  auto s = Connect();
  Login(*s);
  auto unknown = Run(*s, "Frobnicate now", 61);
  ASSERT_TRUE(unknown.has_value());
  EXPECT_EQ(unknown->id, 61);
  EXPECT_EQ(unknown->type, kResponseValue);
  EXPECT_EQ(unknown->body, "Unknown command: Frobnicate");
  EXPECT_TRUE(NothingMoreWithin(*s));
  for (const std::string empty : {"", "   "}) {
    auto reply = Run(*s, empty, 62);
    ASSERT_TRUE(reply.has_value()) << "'" << empty << "'";
    EXPECT_EQ(reply->id, 62);
    EXPECT_NE(reply->body.find("Empty command"), std::string::npos) << reply->body;
    EXPECT_TRUE(NothingMoreWithin(*s));
  }
}

TEST_F(RconServerTest, HandlerThatSendsNothingOrThrowsStillAnswersOnce) {
  Register(L"Mute", [](RCONClientConnection*, RCONPacket*, UWorld*) {});
  Register(L"Throws", [](RCONClientConnection*, RCONPacket*, UWorld*) {
    throw std::runtime_error("handler failed");
  });
  auto s = Connect();
  Login(*s);
  for (const char* command : {"Mute", "Throws"}) {
    auto reply = Run(*s, command, 70);
    ASSERT_TRUE(reply.has_value()) << command;
    EXPECT_EQ(reply->id, 70);
    EXPECT_TRUE(reply->body.empty());
    EXPECT_TRUE(NothingMoreWithin(*s));
  }
  EXPECT_EQ(host().EscapedExceptions(), 1u);
}

TEST_F(RconServerTest, LongReplyIsCutInto4096ByteBodiesAndTheEmptyProbeIsAnswered) {
  const std::wstring text = std::wstring(4096 * 2, L'a') + L"tail";
  Register(L"Long", [&](RCONClientConnection* c, RCONPacket* p, UWorld*) {
    c->Deliver({p->Id, kResponseValue, text});
  });
  auto s = Connect();
  Login(*s);
  // What common clients do: the command, then an empty one once a full-size
  // packet arrived, reading until a packet with the other id comes.
  ASSERT_TRUE(s->SendPacket(80, kExecCommand, "Long"));
  ASSERT_TRUE(s->SendPacket(81, kExecCommand, ""));
  std::vector<std::size_t> sizes;
  std::string joined;
  for (;;) {
    auto p = Receive(*s);
    ASSERT_TRUE(p.has_value());
    if (p->id != 80) {
      EXPECT_EQ(p->id, 81);
      break;
    }
    sizes.push_back(p->body.size());
    joined += p->body;
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{4096, 4096, 4}));
  EXPECT_EQ(joined, devhost::Utf8Encode(text));
}

TEST_F(RconServerTest, BodiesTravelAsUtf8BothWays) {
  Register(L"Echo", [](RCONClientConnection* c, RCONPacket* p, UWorld*) {
    c->Deliver({p->Id, kResponseValue, *p->Body});
  });
  auto s = Connect();
  Login(*s);
  const std::string text = "Echo gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80";
  auto reply = Run(*s, text);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->body, text);
}

TEST_F(RconServerTest, PipelinedCommandsAreAnsweredInOrder) {
  auto s = Connect();
  std::string burst = quillmoor_test::EncodeRcon(1, kAuth, kPassword);
  for (std::int32_t id = 2; id <= 6; ++id) {
    burst += quillmoor_test::EncodeRcon(id, kExecCommand, id % 2 ? "status" : kStatsCommand);
  }
  ASSERT_TRUE(s->Send(burst));
  for (std::int32_t id = 1; id <= 6; ++id) {
    auto p = Receive(*s);
    ASSERT_TRUE(p.has_value()) << id;
    EXPECT_EQ(p->id, id);
  }
}

TEST_F(RconServerTest, FrameworkCommandsReloadThePluginOverTheWire) {
  auto s = Connect();
  Login(*s);
  EXPECT_EQ(Run(*s, "plugins.unload Quillmoor")->body, "Successfully unloaded plugin Quillmoor");
  EXPECT_EQ(Run(*s, kStatsCommand)->body, "Unknown command: " + std::string(kStatsCommand));
  EXPECT_EQ(Run(*s, "plugins.load Quillmoor")->body, "Successfully loaded plugin Quillmoor");
  EXPECT_EQ(Run(*s, kStatsCommand)->body, kStatsReply);
  auto status = Run(*s, "status");
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(status->body.find("Objects: 123456\n"), std::string::npos) << status->body;
  EXPECT_NE(status->body.find("Plugins: Quillmoor"), std::string::npos) << status->body;
}

// --- limits ---

// Every test connection comes from 127.0.0.1: the per-address cap must not
// be what refuses them here.
class RconGlobalCapTest : public RconServerTest {
 protected:
  void Tune(RconOptions& options) override { options.max_per_address = 64; }
};

TEST_F(RconGlobalCapTest, The65thConnectionIsRefusedAndTheOthersCarryOn) {
  std::vector<std::unique_ptr<RconSocket>> open;
  for (int i = 0; i < 64; ++i) {
    open.push_back(Connect());
  }
  // All logged in: a newcomer would take the slot of one that is not.
  for (auto& s : open) {
    Login(*s);
  }
  auto extra = Connect();
  EXPECT_TRUE(ClosedWithin(*extra));
  EXPECT_TRUE(HostLogged("64 connections are open, the most allowed"));
  Login(*open.front());
  EXPECT_EQ(Run(*open.front(), kStatsCommand)->body, kStatsReply);

  open.pop_back();
  // The server notices the close on its own time: retry for a while.
  bool admitted = false;
  for (int attempt = 0; attempt < 100 && !admitted; ++attempt) {
    auto again = Connect();
    if (again->SendPacket(1, kAuth, kPassword)) {
      auto reply = Receive(*again, 1s);
      admitted = reply.has_value() && reply->id == 1;
    }
  }
  EXPECT_TRUE(admitted) << "a freed slot was not given out again";
}

TEST_F(RconServerTest, TheNinthConnectionFromOneAddressIsRefused) {
  std::vector<std::unique_ptr<RconSocket>> open;
  for (int i = 0; i < 8; ++i) {
    open.push_back(Connect());
  }
  Login(*open.back());  // accepted in order: all eight are in
  auto ninth = Connect();
  EXPECT_TRUE(ClosedWithin(*ninth));
  EXPECT_EQ(ninth->Buffered(), 0u);
  EXPECT_TRUE(
      HostLogged("8 connections from 127.0.0.1 are open, the most allowed from one address"));
  EXPECT_EQ(Run(*open.back(), kStatsCommand)->body, kStatsReply);
}

// Eight other machines (127.0.0.2 to .9, eight connections each, the most one
// address may hold) take every slot and re-take each one the moment it frees
// up, never logging in. The operator still gets in, at the first attempt.
TEST_F(RconServerTest, AnOperatorLogsInWhileEightAddressesRetakeEverySlot) {
  constexpr int kAddresses = 8, kPerAddress = 8;
  std::atomic<bool> attacking{true};
  std::atomic<int> connects{0};
  std::thread attacker([&] {
    std::vector<std::unique_ptr<RconSocket>> slots(kAddresses * kPerAddress);
    while (attacking) {
      for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] == nullptr || !slots[i]->Poll(0ms)) {
          const std::string from = "127.0.0." + std::to_string(2 + i / kPerAddress);
          try {
            slots[i] = std::make_unique<RconSocket>(server_->port(), 0, from);
            ++connects;
          } catch (const std::runtime_error&) {
            slots[i].reset();  // the backlog is full: try again on the next round
          }
        }
      }
      std::this_thread::sleep_for(1ms);
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (connects < kAddresses * kPerAddress && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(200ms);  // for the server to accept the last of them

  auto op = Connect();
  Login(*op);
  auto reply = Run(*op, kStatsCommand);
  const int connects_at_login = connects;
  // The slot the operator took was re-taken in turn: every slot was held.
  while (connects == connects_at_login && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  attacking = false;
  attacker.join();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->body, kStatsReply);
  EXPECT_GT(connects, connects_at_login) << "the attack never filled the slots";
  EXPECT_TRUE(HostLogged("not logged in; closed to give its slot to a new connection"));
}

// Sixty-four other machines (127.0.0.2 to .65), one connection each, hold
// every slot and re-take each one the moment it is closed, never logging in:
// however fast they come, an operator whose password follows its connection
// by 150 ms logs in at the first attempt, every time.
TEST_F(RconServerTest, AnOperatorLogsInWhileSixtyFourAddressesRetakeEverySlot) {
  constexpr std::size_t kAddresses = 64;
  std::atomic<bool> attacking{true};
  std::atomic<int> connects{0};
  std::thread attacker([&] {
    std::vector<std::unique_ptr<RconSocket>> slots(kAddresses);
    while (attacking) {
      for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] == nullptr || !slots[i]->Poll(0ms)) {
          try {
            slots[i] = std::make_unique<RconSocket>(server_->port(), 0,
                                                    "127.0.0." + std::to_string(2 + i));
            ++connects;
          } catch (const std::runtime_error&) {
            slots[i].reset();
          }
        }
      }
      std::this_thread::sleep_for(1ms);
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (connects < static_cast<int>(kAddresses) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  int first_attempts = 0;
  for (int i = 0; i < 10; ++i) {
    auto op = Connect();
    std::this_thread::sleep_for(150ms);
    if (op->SendPacket(1, kAuth, kPassword)) {
      auto reply = Receive(*op);
      first_attempts += reply.has_value() && reply->type == kAuthResponse && reply->id == 1;
    }
  }
  const int connects_at_end = connects;
  attacking = false;
  attacker.join();
  EXPECT_EQ(first_attempts, 10);
  EXPECT_GT(connects_at_end, 2 * static_cast<int>(kAddresses)) << "the attack never re-took a slot";
  EXPECT_TRUE(HostLogged("not logged in; closed to give its slot to a new connection"));
}

// Sixty-three connections that never log in, and one that does, fill every
// slot; the deadline must empty the idle ones long before the idle timeout.
class RconLoginDeadlineTest : public RconServerTest {
 protected:
  void Tune(RconOptions& options) override {
    options.max_per_address = 64;
    options.auth_timeout = 2s;
  }
};

TEST_F(RconLoginDeadlineTest, ConnectionsThatNeverLogInNoLongerKeepAClientOut) {
  auto keeper = Connect();
  Login(*keeper);
  std::vector<std::unique_ptr<RconSocket>> idle;
  for (int i = 0; i < 63; ++i) {
    idle.push_back(Connect());
  }
  for (auto& s : idle) {
    ASSERT_TRUE(ClosedWithin(*s, 30s)) << "a connection that never logged in stayed open";
    EXPECT_EQ(s->Buffered(), 0u);
  }
  EXPECT_TRUE(HostLogged("not authenticated within 2 s; closing"));
  ExpectServerStillAnswers();
  EXPECT_EQ(Run(*keeper, kStatsCommand)->body, kStatsReply)
      << "the deadline closed a connection that had logged in";
}

// Two connections per address are logged one by one in a period; the rest
// are counted and summed up when it ends, except for what a login says.
class RconConnectionLinesTest : public RconServerTest {
 protected:
  void Tune(RconOptions& options) override {
    options.log_lines_per_address = 2;
    options.log_summary_period = 2s;
    options.max_auth_failures = 100;  // guesses here are counted, not blocked
  }
  long Count(const std::string& text) {
    long n = 0;
    for (const auto& message : host().log().Messages("AsaApi")) {
      n += message.find(text) != std::string::npos ? 1 : 0;
    }
    return n;
  }
};

TEST_F(RconConnectionLinesTest, ConnectionsBeyondTheFirstFewAreSummedUp) {
  for (int i = 0; i < 6; ++i) {
    auto s = Connect();
    ASSERT_TRUE(s->SendPacket(1, kExecCommand, "status"));
    ASSERT_TRUE(ClosedWithin(*s));
  }
  auto s = Connect();
  Login(*s);
  ASSERT_TRUE(HostLogged("RCON: ... and 5 more connections from 127.0.0.1 in the last "));
  EXPECT_EQ(Count(": connected"), 2);
  EXPECT_EQ(Count("command before authentication; closing"), 2);
  EXPECT_EQ(Count(": authenticated"), 1) << "a login is written whatever the count";
}

// Guesses from many addresses: each address has its few lines a period, the
// rest are counted, and the operator's login is written all the same.
TEST_F(RconConnectionLinesTest, WrongPasswordsBeyondTheFirstFewAreSummedUp) {
  struct Case {
    const char* from;
    int guesses;  // one connection each, closed by the client
  };
  const Case cases[] = {{"127.0.0.2", 6}, {"127.0.0.3", 2}, {"127.0.0.4", 5}};
  for (const auto& c : cases) {
    for (int i = 0; i < c.guesses; ++i) {
      RconSocket s(server_->port(), 0, c.from);
      ASSERT_TRUE(s.SendPacket(1, kAuth, "wrong"));
      auto reply = Receive(s);
      ASSERT_TRUE(reply.has_value());
      ASSERT_EQ(reply->id, -1);
    }
  }
  auto s = Connect();
  Login(*s);
  ASSERT_TRUE(HostLogged("RCON: ... and 4 more wrong passwords from 127.0.0.2 in the last "));
  ASSERT_TRUE(HostLogged("RCON: ... and 3 more wrong passwords from 127.0.0.4 in the last "));
  EXPECT_EQ(Count("more wrong passwords from 127.0.0.3"), 0);
  EXPECT_EQ(Count(": wrong password ("), 6) << "two for each address";
  EXPECT_EQ(Count(": authenticated"), 1);
}

// The server's constructor over a host without plugins.
class RconServerOptionsTest : public ::testing::Test {
 protected:
  static devhost::HostOptions In(const std::filesystem::path& dir) {
    devhost::HostOptions options;
    options.server_dir = dir;
    return options;
  }
  quillmoor_test::TempDir dir_;
  devhost::Host host{In(dir_.path())};
};

TEST_F(RconServerOptionsTest, ZeroPerAddressCapAndNonPositiveDeadlineAreRefused) {
  RconOptions options;
  options.port = 0;
  options.password = "pw";
  options.max_per_address = 0;
  EXPECT_THROW(RconServer(host, options), std::invalid_argument);
  options.max_per_address = 1;
  for (auto deadline : {std::chrono::milliseconds(0), std::chrono::milliseconds(-5)}) {
    options.auth_timeout = deadline;
    EXPECT_THROW(RconServer(host, options), std::invalid_argument) << deadline.count();
  }
}

TEST_F(RconServerOptionsTest, APasswordIsRefusedUnlessAPacketCanCarryIt) {
  RconOptions options;
  options.port = 0;
  // Over the 4086 bytes of the largest packet's body, or cut at a NUL.
  for (const std::string& refused : {std::string(4087, 'p'), std::string("pass\0word", 9)}) {
    options.password = refused;
    EXPECT_THROW(RconServer(host, options), std::invalid_argument) << refused.size();
  }
  options.password = std::string(4086, 'p');
  RconServer server(host, options);
  RconSocket s(server.port());
  ASSERT_TRUE(s.SendPacket(5, kAuth, options.password));
  std::optional<RconPacket> reply;
  for (int i = 0; i < 2500 && !reply && s.Poll(2ms); ++i) {
    reply = s.TakePacket();
  }
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->id, 5) << "the longest password there may be did not log in";
}

class RconIdleTest : public RconServerTest {
 protected:
  void Tune(RconOptions& options) override { options.idle_timeout = 400ms; }
};

TEST_F(RconIdleTest, IdleConnectionsAreClosedAndBusyOnesAreNot) {
  auto idle = Connect();
  Login(*idle);
  auto half = Connect();
  ASSERT_TRUE(half->Send(quillmoor_test::Int32Bytes(20) + "abc"));  // and never the rest
  auto busy = Connect();
  Login(*busy);

  const auto until = std::chrono::steady_clock::now() + 1200ms;
  while (std::chrono::steady_clock::now() < until) {
    auto reply = Run(*busy, kStatsCommand);
    ASSERT_TRUE(reply.has_value()) << "a busy connection was closed";
    idle->Poll(0ms);
    half->Poll(0ms);
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(ClosedWithin(*idle));
  EXPECT_TRUE(ClosedWithin(*half));
  EXPECT_TRUE(HostLogged("idle for 0.4 s; closing"));
}

TEST_F(RconIdleTest, ACommandWaitingForTheGameThreadIsNotIdle) {
  auto s = Connect();
  Login(*s);
  ASSERT_TRUE(s->SendPacket(40, kExecCommand, kStatsCommand));
  // No frame runs for three idle timeouts: the command is owed all along.
  std::this_thread::sleep_for(1200ms);
  auto reply = Receive(*s);
  ASSERT_TRUE(reply.has_value()) << "closed as idle while its command waited";
  EXPECT_EQ(reply->id, 40);
  EXPECT_TRUE(ClosedWithin(*s, 2s)) << "answered, it is idle again";
}

TEST_F(RconServerTest, ClientVanishingMidReplyLeavesTheServerServingOthers) {
  // Bigger than what the socket buffers of both ends hold, so the server is
  // still writing when the client goes.
  const std::wstring chunk(1 << 20, L'z');
  Register(L"Flood", [&](RCONClientConnection* c, RCONPacket* p, UWorld*) {
    for (int i = 0; i < 8; ++i) {
      c->Deliver({p->Id, kResponseValue, chunk});
    }
  });
  auto s = Connect(/*receive_buffer=*/4096);
  Login(*s);
  ASSERT_TRUE(s->SendPacket(90, kExecCommand, "Flood"));
  auto first = Receive(*s);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->id, 90);
  s->Abort();
  EXPECT_TRUE(HostLogged("the client is gone, closing"));
  ExpectServerStillAnswers();
}

// --- stopping ---

TEST_F(RconServerTest, StopWithOpenConnectionsAndACommandInFlightReturns) {
  auto s = Connect();
  Login(*s);
  ASSERT_TRUE(s->SendPacket(3, kExecCommand, kForceGcCommand));
  // Give the network thread time to hand the command to the game thread,
  // then stop before any frame runs it.
  std::this_thread::sleep_for(100ms);
  server_->Stop();
  server_->Stop();
  EXPECT_TRUE(ClosedWithin(*s));
  EXPECT_EQ(s->Buffered(), 0u) << "a reply was sent after the server stopped";
  // The command still runs on the next frame; only its reply goes nowhere.
  Pump();
  EXPECT_EQ(host().engine().ForcedCollections(), 1u);
  EXPECT_THROW(RconSocket{server_->port()}, std::runtime_error);
}

TEST_F(RconServerOptionsTest, BadAddressesAndEmptyPasswordsAreRefusedAtConstruction) {
  RconOptions options;
  options.port = 0;
  options.password = "";
  EXPECT_THROW(RconServer(host, options), std::invalid_argument);
  options.password = "pw";
  options.bind_address = "localhost:1";
  EXPECT_THROW(RconServer(host, options), std::system_error);
  options.bind_address = "127.0.0.1";
  RconServer first(host, options);
  options.port = first.port();
  EXPECT_THROW(RconServer(host, options), std::system_error) << "a port in use was bound twice";
}

}  // namespace
