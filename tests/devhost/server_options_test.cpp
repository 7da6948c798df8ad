// The dev server's command line as far as RCON goes: defaults, and the
// values it refuses before anything starts.
#include <gtest/gtest.h>
#include <chrono>
#include <string>
#include <vector>

#include "devhost/server.h"

namespace {

struct Parsed {
  bool ok = false;
  int exit_code = -1;
  devhost::ServerOptions options;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), {"quillmoor-devserver", "--server-dir", "/tmp"});
  std::vector<char*> argv;
  for (auto& a : args) {
    argv.push_back(a.data());
  }
  Parsed p;
  p.ok = devhost::ParseServerOptions(static_cast<int>(argv.size()), argv.data(), p.options,
                                     p.exit_code);
  return p;
}

TEST(ServerOptionsTest, RconDefaultsToLoopbackPort27020WithAPasswordToGenerate) {
  auto p = Parse({});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.rcon.port, 27020);
  EXPECT_EQ(p.options.rcon.bind_address, "127.0.0.1");
  EXPECT_TRUE(p.options.rcon.password.empty());
  EXPECT_EQ(p.options.rcon.idle_timeout, std::chrono::seconds(300));
}

TEST(ServerOptionsTest, RconOptionsAreTakenAsGiven) {
  auto p = Parse({"--rcon-port", "0", "--rcon-bind", "::1", "--rcon-password", "pw word",
                  "--rcon-idle-timeout", "2.5"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.rcon.port, 0);
  EXPECT_EQ(p.options.rcon.bind_address, "::1");
  EXPECT_EQ(p.options.rcon.password, "pw word");
  EXPECT_EQ(p.options.rcon.idle_timeout, std::chrono::milliseconds(2500));
}

TEST(ServerOptionsTest, BadRconValuesExitWithStatusTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {"--rcon-password", ""},      {"--rcon-password="},         {"--rcon-port", "65536"},
      {"--rcon-port", "-1"},        {"--rcon-bind", "localhost"}, {"--rcon-bind", "1.2.3"},
      {"--rcon-idle-timeout", "0"}, {"--rcon-port", "http"},
  };
  for (const auto& args : bad) {
    auto p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0];
    EXPECT_EQ(p.exit_code, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}

}  // namespace
