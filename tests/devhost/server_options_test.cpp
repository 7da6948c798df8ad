// The dev server's command line as far as RCON and the host log go:
// defaults, and the values it refuses before anything starts.
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
  EXPECT_EQ(p.options.rcon.auth_timeout, std::chrono::seconds(10));
  EXPECT_EQ(p.options.rcon.max_per_address, 8u);
}

TEST(ServerOptionsTest, RconOptionsAreTakenAsGiven) {
  auto p = Parse({"--rcon-port", "0", "--rcon-bind", "::1", "--rcon-password", "pw word",
                  "--rcon-idle-timeout", "2.5", "--rcon-auth-timeout", "0.5",
                  "--rcon-max-per-address", "3"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.rcon.port, 0);
  EXPECT_EQ(p.options.rcon.bind_address, "::1");
  EXPECT_EQ(p.options.rcon.password, "pw word");
  EXPECT_EQ(p.options.rcon.idle_timeout, std::chrono::milliseconds(2500));
  EXPECT_EQ(p.options.rcon.auth_timeout, std::chrono::milliseconds(500));
  EXPECT_EQ(p.options.rcon.max_per_address, 3u);
}

TEST(ServerOptionsTest, BadRconValuesExitWithStatusTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {"--rcon-password", ""},         {"--rcon-password="},
      {"--rcon-port", "65536"},        {"--rcon-port", "-1"},
      {"--rcon-bind", "localhost"},    {"--rcon-bind", "1.2.3"},
      {"--rcon-idle-timeout", "0"},    {"--rcon-port", "http"},
      {"--rcon-auth-timeout", "0"},    {"--rcon-auth-timeout", "-1"},
      {"--rcon-max-per-address", "0"}, {"--rcon-max-per-address", "many"},
  };
  for (const auto& args : bad) {
    auto p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0];
    EXPECT_EQ(p.exit_code, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}

TEST(ServerOptionsTest, HostLogRotatesAt10MiBKeepsThreeAndCapturesNothing) {
  auto p = Parse({});
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(p.options.host.log.to_stdout);
  EXPECT_FALSE(p.options.host.log.capture) << "a long-running server would keep every line";
  EXPECT_EQ(p.options.host.log.file_max_size, 10u * 1024 * 1024);
  EXPECT_EQ(p.options.host.log.file_max_files, 3u);
}

TEST(ServerOptionsTest, LogLimitsAreTakenInMiBAndFiles) {
  struct Case {
    std::vector<std::string> args;
    std::size_t size;
    std::size_t files;
  };
  const Case cases[] = {
      {{"--log-max-size", "0.5", "--log-max-files", "0"}, 512u * 1024, 0},
      {{"--log-max-size", "0.001"}, 1049, 3},
      {{"--log-max-size", "2048", "--log-max-files", "1000"}, 2048u * 1024 * 1024, 1000},
  };
  for (const auto& c : cases) {
    auto p = Parse(c.args);
    ASSERT_TRUE(p.ok) << c.args[1];
    EXPECT_EQ(p.options.host.log.file_max_size, c.size) << c.args[1];
    EXPECT_EQ(p.options.host.log.file_max_files, c.files) << c.args[1];
  }
  const std::vector<std::vector<std::string>> bad = {
      {"--log-max-size", "0"},   {"--log-max-size", "-1"},    {"--log-max-size", "ten"},
      {"--log-max-files", "-1"}, {"--log-max-files", "1001"}, {"--log-max-files", "2.5"},
  };
  for (const auto& args : bad) {
    auto p = Parse(args);
    EXPECT_FALSE(p.ok) << args[0] << " " << args[1];
    EXPECT_EQ(p.exit_code, 2) << args[0] << " " << args[1];
  }
}

TEST(ServerOptionsTest, DurationsTakeUnitsAndABareNumberIsInSeconds) {
  auto p = Parse({"--rcon-idle-timeout", "5m", "--rcon-auth-timeout", "500ms", "--run-for", "1h",
                  "--world-delay", "90"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.rcon.idle_timeout, std::chrono::minutes(5));
  EXPECT_EQ(p.options.rcon.auth_timeout, std::chrono::milliseconds(500));
  EXPECT_EQ(p.options.run_for, 3600);
  EXPECT_EQ(p.options.host.world_delay, 90);
}

TEST(ServerOptionsTest, NonFiniteValuesAreUsageErrorsThatNameTheOptionAndTheValue) {
  struct Case {
    std::string option, value, says;  // the start of the usage message
  };
  std::vector<Case> cases = {{"--rcon-password", std::string(4087, 'p'),
                              "--rcon-password: 4087 bytes is longer than any packet can carry"}};
  for (const char* option : {"--time-scale", "--log-max-size", "--rcon-idle-timeout",
                             "--rcon-auth-timeout", "--run-for", "--world-delay"}) {
    for (const char* value : {"nan", "inf", "-inf", "1e999"}) {
      cases.push_back({option, value, std::string(option) + ": '" + value + "'"});
    }
  }
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    auto p = Parse({c.option, c.value});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(p.ok) << c.says;
    EXPECT_EQ(p.exit_code, 2) << c.says;
    EXPECT_EQ(err.rfind(c.says, 0), 0u) << err;
  }
}

TEST(ServerOptionsTest, HelpShowsEveryDefault) {
  testing::internal::CaptureStdout();
  auto p = Parse({"--help"});
  std::string help = testing::internal::GetCapturedStdout();
  std::erase(help, '\r');
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.exit_code, 0);
  for (const char* shown : {"=27020\n", "=127.0.0.1\n", "=1000\n", "=100000\n", "=300s\n", "=10s\n",
                            "=8\n", "=10\n", "=3\n", "=0s\n", "Quillmoor"}) {
    EXPECT_NE(help.find(shown), std::string::npos) << shown << " missing from:\n" << help;
  }
}

}  // namespace
