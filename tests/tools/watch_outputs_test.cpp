// The watcher's polling loop and its outputs, with fake sinks: every sink
// gets every observation and one finish; a sink that fails is dropped,
// reported, and costs the exit code, while the others go on.
#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "watch/sink.h"
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
