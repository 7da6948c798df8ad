// The RCON port under load, and the plugin unloaded and loaded again over it
// while other clients keep asking it questions. Every client runs on a thread
// of its own with a raw socket; the test thread is the game thread and ticks
// until they are all done. Each prints what it measured (requests, time,
// resident memory, engine blocks) for the README's reliability figures.
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devhost/host.h"
#include "devhost/rcon_server.h"
#include "formats/replies.h"
#include "support/host_test.h"
#include "support/rcon_client.h"

namespace {

using namespace std::chrono_literals;
using quillmoor_test::kAuth;
using quillmoor_test::kExecCommand;
using quillmoor_test::RconSocket;
using Clock = std::chrono::steady_clock;

constexpr const char* kPassword = "l0ad";
constexpr std::int32_t kLoginId = 1'000'000;
constexpr std::int32_t kSentinelId = 2'000'000;
// A client gives up when nothing has arrived for this long while it waits
// for a reply: only a hang or a lost reply gets near it, however slow the
// machine (a sanitizer, Wine, a loaded CI host) makes the whole run.
constexpr auto kStallLimit = 20s;
// The statistics reply around its count, which changes from frame to frame.
constexpr char kSampleCount[] = "987654321";
const std::string kStatsSample = formats::StatsReply(std::stoll(kSampleCount));
const std::string kStatsPrefix = kStatsSample.substr(0, kStatsSample.find(kSampleCount));
const std::string kStatsSuffix = kStatsSample.substr(kStatsPrefix.size() + sizeof kSampleCount - 1);

// A reply body is right for its request if it starts with `prefix` and ends
// with `suffix` (the counts inside a reply change from frame to frame).
struct Kind {
  std::string command;
  std::string prefix;
  std::string suffix;
};

const std::vector<Kind>& Mix() {
  static const std::vector<Kind> mix = {
      {formats::kStatsCommand, kStatsPrefix, kStatsSuffix},
      {formats::kForceGcCommand, formats::ForceGcReply(formats::ForceGcOutcome::kForced), ""},
      {"status", "Game time: ", "Plugins: Quillmoor"},
      {"Frobnicate now", "Unknown command: Frobnicate", ""},
      {"", "Empty command: send a command name, for example status", ""},
  };
  return mix;
}

bool Matches(const std::string& body, const Kind& kind) {
  return body.size() >= kind.prefix.size() + kind.suffix.size() &&
         body.compare(0, kind.prefix.size(), kind.prefix) == 0 &&
         body.compare(body.size() - kind.suffix.size(), kind.suffix.size(), kind.suffix) == 0;
}

// The sanitizer runs ask for fewer requests per client through the
// environment; the plain run keeps the full count.
int RequestsPerClient() {
  const char* text = std::getenv("QUILLMOOR_RCON_LOAD_REQUESTS");
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : 500;
}

// Resident set size in KiB, or 0 where /proc is not there.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(4096, '\n');
  }
  return 0;
}

std::size_t OpenDescriptors() {
#ifdef __linux__
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++n;
  }
  return n;
#else
  return 0;
#endif
}

// One client connection that pipelines requests and checks every reply
// against the request it answers. Errors are collected, not asserted, so
// that a client thread never touches GoogleTest's state.
class Client {
 public:
  explicit Client(std::uint16_t port) : socket_(port) {}

  bool Login() {
    socket_.SendPacket(kLoginId, kAuth, kPassword);
    auto reply = Next();
    if (!reply || reply->id != kLoginId) {
      return Fail("login refused or unanswered");
    }
    return true;
  }
  // Sends `command` with the next id; `accepts` judges the reply's body.
  bool Send(const std::string& command, std::function<bool(const std::string&)> accepts) {
    const std::int32_t id = ++last_id_;
    pending_.push_back({id, command, std::move(accepts)});
    return socket_.SendPacket(id, kExecCommand, command) || Fail("send failed");
  }
  // Takes and checks the reply to the oldest pending request.
  bool Receive() {
    auto reply = Next();
    if (!reply) {
      return Fail("no reply to request " + std::to_string(pending_.front().id) + " within " +
                  std::to_string(kStallLimit.count()) + " s (" + std::to_string(replies_) +
                  " replies so far)");
    }
    const Pending due = std::move(pending_.front());
    pending_.pop_front();
    if (reply->id != due.id) {
      return Fail("reply id " + std::to_string(reply->id) + " where " + std::to_string(due.id) +
                  " was due");
    }
    if (!due.accepts(reply->body)) {
      return Fail("request '" + due.command + "' got '" + reply->body.substr(0, 80) + "'");
    }
    ++replies_;
    return true;
  }
  // Nothing may come after the last reply but the answer to one more
  // request: a duplicate would arrive first.
  bool ExpectNoMore() {
    socket_.SendPacket(kSentinelId, kExecCommand, formats::kStatsCommand);
    auto reply = Next();
    if (!reply || reply->id != kSentinelId) {
      return Fail("a packet with id " + (reply ? std::to_string(reply->id) : "none") +
                  " came after the last reply");
    }
    return true;
  }

  std::size_t Outstanding() const { return pending_.size(); }
  std::size_t Replies() const { return replies_; }
  const std::string& error() const { return error_; }

 private:
  struct Pending {
    std::int32_t id;
    std::string command;
    std::function<bool(const std::string&)> accepts;
  };

  std::optional<quillmoor_test::RconPacket> Next() {
    const auto give_up = Clock::now() + kStallLimit;
    while (Clock::now() < give_up) {
      if (auto p = socket_.TakePacket()) {
        return p;
      }
      if (!socket_.Poll(20ms)) {
        return socket_.TakePacket();
      }
    }
    return std::nullopt;
  }
  bool Fail(std::string what) {
    if (error_.empty()) {
      error_ = std::move(what);
    }
    return false;
  }

  RconSocket socket_;
  std::deque<Pending> pending_;
  std::int32_t last_id_ = 0;
  std::size_t replies_ = 0;
  std::string error_;
};

class RconLoadTest : public quillmoor_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    // Installed in its folder, as the dev server does, so that plugins.load
    // finds it again by name.
    const auto installed = PluginDir() / std::filesystem::path(QUILLMOOR_PLUGIN_PATH).filename();
    std::filesystem::copy_file(QUILLMOOR_PLUGIN_PATH, installed);
    host().LoadPlugin(installed);
    devhost::RconOptions options;
    options.port = 0;
    options.password = kPassword;
    options.max_per_address = 64;  // every client comes from 127.0.0.1
    server_ = std::make_unique<devhost::RconServer>(host(), options);
    Frames(3);  // the start-up callback runs and removes itself
  }
  void TearDown() override {
    server_.reset();
    HostTest::TearDown();
  }

  void Frames(int n) {
    for (int i = 0; i < n; ++i) {
      host().Tick(1.0 / 30);
    }
  }
  // Runs `clients` bodies on threads of their own and ticks the game loop
  // until they have all returned.
  void RunClients(std::vector<std::function<void()>> clients) {
    std::atomic<std::size_t> finished{0};
    std::vector<std::thread> threads;
    for (auto& body : clients) {
      threads.emplace_back([&finished, body = std::move(body)] {
        body();
        ++finished;
      });
    }
    // A client gives up on its own when its server stalls, so this ends.
    while (finished < threads.size()) {
      host().Tick(1.0 / 30);
      std::this_thread::sleep_for(1ms);
    }
    for (auto& t : threads) {
      t.join();
    }
  }
  // Waits, ticking, until the descriptor count falls to `count`: the server
  // closes its end of a connection on its own time.
  std::size_t DescriptorsSettleAt(std::size_t count) {
    const auto give_up = Clock::now() + 10s;
    std::size_t now = OpenDescriptors();
    while (now > count && Clock::now() < give_up) {
      Frames(1);
      std::this_thread::sleep_for(5ms);
      now = OpenDescriptors();
    }
    return now;
  }
  std::uint16_t port() const { return server_->port(); }

  std::unique_ptr<devhost::RconServer> server_;
};

TEST_F(RconLoadTest, SixtyFourClientsPipeliningMixedRequestsEachGetEveryReplyInOrder) {
  constexpr int kClients = 64;
  constexpr std::size_t kDepth = 4;
  const int requests = RequestsPerClient();
  const std::size_t blocks_before = host().allocator().OutstandingBlocks();
  const long rss_before = ResidentKiB();
  const auto started = Clock::now();

  std::vector<std::string> errors(kClients);
  std::vector<std::size_t> replies(kClients);
  std::vector<std::function<void()>> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.push_back([&, c] {
      Client client(port());
      bool ok = client.Login();
      int sent = 0;
      while (ok && (sent < requests || client.Outstanding() > 0)) {
        while (ok && sent < requests && client.Outstanding() < kDepth) {
          // Each client starts at another place in the mix, so that every
          // kind of request is in flight at every moment.
          const Kind& kind = Mix()[static_cast<std::size_t>(sent + c) % Mix().size()];
          ok =
              client.Send(kind.command, [&kind](const std::string& b) { return Matches(b, kind); });
          ++sent;
        }
        ok = ok && client.Receive();
      }
      ok = ok && client.ExpectNoMore();
      errors[static_cast<std::size_t>(c)] = client.error();
      replies[static_cast<std::size_t>(c)] = client.Replies();
    });
  }
  RunClients(std::move(clients));
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  Frames(3);

  for (int c = 0; c < kClients; ++c) {
    EXPECT_EQ(errors[static_cast<std::size_t>(c)], "") << "client " << c;
    EXPECT_EQ(replies[static_cast<std::size_t>(c)], static_cast<std::size_t>(requests))
        << "client " << c;
  }
  EXPECT_EQ(host().allocator().OutstandingBlocks(), blocks_before);
  EXPECT_EQ(host().allocator().BadFrees(), 0u);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
  std::size_t total = 0;
  for (const std::size_t n : replies) {
    total += n;
  }
  std::printf(
      "load: %d connections x %d requests in %.1f s (%.0f replies/s); RSS %ld -> %ld KiB; "
      "engine blocks %zu -> %zu\n",
      kClients, requests, seconds, static_cast<double>(total) / seconds, rss_before, ResidentKiB(),
      blocks_before, host().allocator().OutstandingBlocks());
}

TEST_F(RconLoadTest, TwoHundredReloadsUnderPollingLeaveNothingBehind) {
  constexpr int kCycles = 200;
  constexpr int kPollers = 8;
  const std::size_t timers_before = host().timers().Count();
  const auto commands_before = host().commands().RconCommandNames();
  const std::size_t callbacks_before = host().commands().UpdateCallbackCount();
  const std::size_t blocks_before = host().allocator().OutstandingBlocks();
  const std::size_t fds_before = OpenDescriptors();
  const long rss_before = ResidentKiB();
  const auto started = Clock::now();

  std::atomic<bool> reloading{true};
  std::string admin_error;
  std::vector<std::string> errors(kPollers);
  std::vector<std::size_t> polls(kPollers);
  std::vector<std::function<void()>> clients;
  clients.push_back([&] {
    Client admin(port());
    bool ok = admin.Login();
    for (int cycle = 0; ok && cycle < kCycles; ++cycle) {
      for (const char* verb : {"unload", "load"}) {
        const std::string want = std::string("Successfully ") + verb + "ed plugin Quillmoor";
        ok = ok &&
             admin.Send(std::string("plugins.") + verb + " Quillmoor",
                        [want](const std::string& b) { return b == want; }) &&
             admin.Receive();
      }
    }
    admin_error = admin.error();
    reloading = false;
  });
  for (int p = 0; p < kPollers; ++p) {
    clients.push_back([&, p] {
      Client poller(port());
      // Between an unload and the next load the command does not exist:
      // that answer is expected, any other is not, and so is silence.
      auto accepts = [](const std::string& b) {
        return b == "Unknown command: " + std::string(formats::kStatsCommand) ||
               b.rfind(kStatsPrefix, 0) == 0;
      };
      bool ok = poller.Login();
      while (ok && (reloading || poller.Outstanding() > 0)) {
        while (ok && reloading && poller.Outstanding() < 2) {
          ok = poller.Send(formats::kStatsCommand, accepts);
        }
        ok = ok && poller.Receive();
      }
      ok = ok && poller.ExpectNoMore();
      errors[static_cast<std::size_t>(p)] = poller.error();
      polls[static_cast<std::size_t>(p)] = poller.Replies();
    });
  }
  RunClients(std::move(clients));
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  Frames(3);  // the reloaded plugin's start-up callback runs and removes itself

  EXPECT_EQ(admin_error, "");
  std::size_t total_polls = 0;
  for (int p = 0; p < kPollers; ++p) {
    EXPECT_EQ(errors[static_cast<std::size_t>(p)], "") << "poller " << p;
    total_polls += polls[static_cast<std::size_t>(p)];
  }
  EXPECT_EQ(host().timers().Count(), timers_before);
  // Each load sends its console commands; the engine keeps only the last few.
  EXPECT_GT(host().engine().ConsoleCommandCount(), devhost::kConsoleHistoryKept);
  EXPECT_EQ(host().engine().ConsoleHistory().size(), devhost::kConsoleHistoryKept);
  EXPECT_EQ(host().commands().RconCommandNames(), commands_before);
  EXPECT_EQ(host().commands().UpdateCallbackCount(), callbacks_before);
  EXPECT_EQ(host().allocator().OutstandingBlocks(), blocks_before);
  EXPECT_EQ(host().allocator().BadFrees(), 0u);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
#ifdef __linux__
  EXPECT_EQ(DescriptorsSettleAt(fds_before), fds_before);
#endif
  std::printf(
      "reload: %d cycles, %zu polls on %d connections in %.1f s; RSS %ld -> %ld KiB; "
      "engine blocks %zu -> %zu; descriptors %zu -> %zu\n",
      kCycles, total_polls, kPollers, seconds, rss_before, ResidentKiB(), blocks_before,
      host().allocator().OutstandingBlocks(), fds_before, OpenDescriptors());
}

}  // namespace
