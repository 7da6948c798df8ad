// The watcher's polling loop and its outputs, with fake sinks: every sink
// gets every observation and one finish; a sink that fails is dropped,
// reported, and costs the exit code, while the others go on. Then the loop
// against servers that misbehave: a resolver that never answers, replies
// that are not counts, text meant for a terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "fake_rcon_server.h"
#include "formats/replies.h"
#include "watch/sink.h"
#include "watch/sinks.h"
#include "watch/watcher.h"

namespace watch {
namespace {

using namespace std::chrono_literals;

// Records its calls; throws on the call named `fail_on`, the first time.
class FakeSink final : public Sink {
 public:
  FakeSink(std::vector<std::string>& calls, std::string fail_on)
      : calls_(calls), fail_on_(std::move(fail_on)) {}
  void Start() override { Call("start"); }
  void Add(const Sample& sample) override {
    Call(sample.server + " " + std::string(StatusName(sample.status)));
  }
  void Interrupted() override { Call("interrupted"); }
  void Finish() override { Call("finish"); }

 private:
  void Call(const std::string& what) {
    calls_.push_back(what);
    if (what == fail_on_) {
      throw std::runtime_error("broken at " + what);
    }
  }
  std::vector<std::string>& calls_;
  std::string fail_on_;
};

TEST(WatchOutputsTest, EverySinkGetsEveryObservationAndOneFinishUnlessItFailed) {
  // A port held bound but not listening: every poll is refused at once.
  asio::io_context io;
  asio::ip::tcp::socket held(io);
  held.open(asio::ip::tcp::v4());
  held.bind({asio::ip::address_v4::loopback(), 0});
  WatchOptions options;
  options.servers = {{"a", "127.0.0.1", held.local_endpoint().port(), "pw"}};
  options.interval = 20ms;
  options.timeout = 1000ms;
  options.duration = 400ms;

  const struct {
    const char* fail_on;  // the first sink's failing call; "" for none
    int exit_code;
    const char* err;
  } cases[] = {
      {"", kExitOk, ""},
      {"a down", kExitFailure, "quillmoor-watch: broken at a down\n"},
      {"finish", kExitFailure, "quillmoor-watch: broken at finish\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fail_on);
    std::vector<std::string> first, second;
    std::ostringstream err;
    Outputs outputs(err);
    outputs.Attach(std::make_unique<FakeSink>(first, c.fail_on));
    outputs.Attach(std::make_unique<FakeSink>(second, ""));
    EXPECT_EQ(RunWatch(options, outputs), c.exit_code);
    EXPECT_EQ(err.str(), c.err);

    // The second sink: started, every poll, one finish; told of the first
    // sink's failure by an interruption just after it happened.
    const std::string fail_on = c.fail_on;
    const auto polls = std::count(second.begin(), second.end(), "a down");
    EXPECT_GE(polls, 1);
    const auto expect = [&](bool interrupted_first, bool interrupted_last) {
      std::vector<std::string> calls{"start"};
      if (interrupted_first) {
        calls.push_back("interrupted");
      }
      calls.insert(calls.end(), static_cast<std::size_t>(polls), "a down");
      if (interrupted_last) {
        calls.push_back("interrupted");
      }
      calls.push_back("finish");
      return calls;
    };
    EXPECT_EQ(second, expect(fail_on == "a down", fail_on == "finish"));
    if (fail_on == "a down") {
      EXPECT_EQ(first, (std::vector<std::string>{"start", "a down"}));  // never called again
    } else {
      EXPECT_EQ(first, expect(false, false));
    }
  }
}

}  // namespace
}  // namespace watch

namespace watch {
namespace {

using namespace std::chrono_literals;
using testing::FakeRconServer;

// Keeps every observation.
class Recorder final : public Sink {
 public:
  explicit Recorder(std::vector<Sample>& samples) : samples_(samples) {}
  void Add(const Sample& sample) override { samples_.push_back(sample); }

 private:
  std::vector<Sample>& samples_;
};

// A resolver that never answers until the test lets it go.
struct StuckResolver {
  std::mutex mutex;
  std::condition_variable released;
  bool open = false;
  std::vector<std::string> asked;

  LookupFunction Function(const std::shared_ptr<StuckResolver>& self) {
    return [self](const std::string& host, std::uint16_t) -> Endpoints {
      std::unique_lock lock(self->mutex);
      self->asked.push_back(host);
      self->released.wait(lock, [&] { return self->open; });
      throw std::runtime_error("released");
    };
  }
  void Release() {
    const std::lock_guard lock(mutex);
    open = true;
    released.notify_all();
  }
};

TEST(WatchLookupTest, AHostNameThatNeverResolvesHoldsUpNeitherAnotherServerNorTheStop) {
  FakeRconServer healthy([](const std::string&) { return formats::StatsReply(1000); });
  const struct {
    std::chrono::milliseconds timeout;
    bool stuck_reported;  // within the run, the lookup ran out of time
  } cases[] = {{300ms, true}, {20000ms, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timeout.count());
    auto resolver = std::make_shared<StuckResolver>();
    WatchOptions options;
    options.servers = {{"stuck", "never.invalid", 27020, "pw"},
                       {"healthy", "127.0.0.1", healthy.port(), "pw"}};
    options.interval = 50ms;
    options.timeout = c.timeout;
    options.duration = 1000ms;
    std::vector<Sample> samples;
    std::ostringstream err;
    Outputs outputs(err);
    outputs.Attach(std::make_unique<Recorder>(samples));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunWatch(options, outputs, resolver->Function(resolver)), kExitOk);
    // The stop cancels the wait for the lookup: no 20 s timeout runs out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    resolver->Release();

    std::size_t ok = 0, stuck = 0;
    for (const auto& s : samples) {
      if (s.server == "healthy") {
        ok += s.status == Status::kOk ? 1 : 0;
      } else {
        ++stuck;
        EXPECT_EQ(s.status, Status::kDown);
        EXPECT_EQ(s.detail, fmt::format("name lookup of never.invalid: no answer within {} ms",
                                        c.timeout.count()));
      }
    }
    EXPECT_GE(ok, 5u);
    EXPECT_EQ(stuck > 0, c.stuck_reported);
    // One lookup at a time, however many polls wait for it; an address is
    // never looked up.
    const std::lock_guard lock(resolver->mutex);
    EXPECT_EQ(resolver->asked, std::vector<std::string>{"never.invalid"});
  }
}

TEST(WatchRepliesTest, OnlyACountThatFitsIsOkAndServerTextReachesTheTerminalEscaped) {
  const std::string count = R"({"data":{"uobjects":N},"status":"success"})";
  const auto with = [&](const char* n) {
    return count.substr(0, count.find('N')) + n + count.substr(count.find('N') + 1);
  };
  const struct {
    std::string reply;
    const char* line;  // the server's first line after the time
  } cases[] = {
      {with("42"), "s0 42 - ok"},
      {with("9223372036854775807"), "s1 9223372036854775807 - ok"},
      {with("18446744073709551615"),
       R"(s2 - - error: reply: {"data":{"uobjects":18446744073709551615},"status":"success"})"},
      {with("9223372036854775808"),
       R"(s3 - - error: reply: {"data":{"uobjects":9223372036854775808},"status":"success"})"},
      {with("-5"), R"(s4 - - error: reply: {"data":{"uobjects":-5},"status":"success"})"},
      {R"({"status":1})", R"(s5 - - error: reply: {"status":1})"},
      {"\x1b]0;owned\x07\xc2\x9b", R"(s6 - - error: reply:  ]0;owned \xc2\x9b)"},
  };
  std::vector<std::unique_ptr<FakeRconServer>> servers;
  WatchOptions options;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string reply = cases[i].reply;
    servers.push_back(std::make_unique<FakeRconServer>([reply](const std::string& command) {
      // The force-GC reply tries to retitle the terminal and clear it.
      return command == formats::kForceGcCommand ? std::string("\x1b]0;x\x07\x1b[2Jdone") : reply;
    }));
    options.servers.push_back({fmt::format("s{}", i), "127.0.0.1", servers.back()->port(), "pw"});
  }
  options.interval = 100ms;
  options.timeout = 2000ms;
  options.duration = 600ms;
  options.force_gc_every = 50ms;
  std::ostringstream out, err;
  Outputs outputs(err);
  ASSERT_EQ(AttachSinks(options, out, /*terminal=*/false, outputs), kExitOk);
  EXPECT_EQ(RunWatch(options, outputs), kExitOk);

  const std::string text = out.str();
  EXPECT_EQ(std::count_if(text.begin(), text.end(),
                          [](char ch) { return ch != '\n' && (ch < 0x20 || ch == 0x7f); }),
            0);
  EXPECT_NE(text.find(" - - forced-gc: \\x1b]0;x\\x07\\x1b[2Jdone\n"), std::string::npos);
  for (const auto& c : cases) {
    const std::string server = std::string(c.line).substr(0, 3);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line) &&
           (line.find(server) != 25 || line.find("forced-gc") != std::string::npos)) {
    }
    EXPECT_EQ(line.substr(std::min<std::size_t>(25, line.size())), c.line);
  }
}

// Exit statuses a service manager acts on: a refused password everywhere is
// not worth a restart, one among working servers is an incomplete run. A
// server that takes the connection and never answers is down after its
// timeout, never left pending.
TEST(WatchExitTest, RefusedPasswordsAndSilentServersEachEndTheirWay) {
  const auto count = [](const std::string&) -> std::optional<std::string> {
    return formats::StatsReply(1000);
  };
  const auto silent = [](const std::string&) -> std::optional<std::string> {
    return FakeRconServer::kNoReply;
  };
  FakeRconServer refusing(count, "other"), accepting(count), mute(silent);
  const struct {
    std::vector<const FakeRconServer*> servers;
    int exit_code;
    std::vector<Status> statuses;  // of each server's first observation
  } cases[] = {
      {{&refusing}, kExitAuth, {Status::kAuthFailed}},
      {{&refusing, &refusing}, kExitAuth, {Status::kAuthFailed, Status::kAuthFailed}},
      {{&refusing, &accepting}, kExitFailure, {Status::kAuthFailed, Status::kOk}},
      {{&mute}, kExitOk, {Status::kDown}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exit_code);
    WatchOptions options;
    for (std::size_t i = 0; i < c.servers.size(); ++i) {
      options.servers.push_back({fmt::format("s{}", i), "127.0.0.1", c.servers[i]->port(), "pw"});
    }
    options.interval = 100ms;
    options.timeout = 200ms;
    options.duration = 1500ms;
    std::vector<Sample> samples;
    std::ostringstream err;
    Outputs outputs(err);
    outputs.Attach(std::make_unique<Recorder>(samples));
    EXPECT_EQ(RunWatch(options, outputs), c.exit_code);
    std::vector<Status> first(c.servers.size(), Status::kStart);
    for (const auto& s : samples) {
      auto& f = first.at(static_cast<std::size_t>(s.server[1] - '0'));
      if (f == Status::kStart) {
        f = s.status;
      }
    }
    EXPECT_EQ(first, c.statuses);
    EXPECT_EQ(err.str().find("pw"), std::string::npos);
  }
}

}  // namespace
}  // namespace watch
