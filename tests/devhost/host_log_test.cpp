// The host log's sinks as LogOptions choose them: the in-memory capture only
// when asked for, the host's own time stamps whatever a plugin sets, and a
// file rotation that fails. (The file's rotation is checked end to end,
// through the dev server's options.)
#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>

#include "devhost/log.h"
#include "support/host_test.h"

namespace {

namespace fs = std::filesystem;

TEST(HostLogTest, WithoutCaptureNothingIsKeptAndReadingItIsRefused) {
  quillmoor_test::TempDir dir;
  devhost::LogOptions options;
  options.file = dir.path() / "ArkApi.log";
  devhost::HostLog log(options);
  log.Host().info("kept in the file only");
  EXPECT_THROW(log.Lines(), std::logic_error);
  EXPECT_THROW(log.Messages("AsaApi"), std::logic_error);
  EXPECT_THROW(log.Contains("kept in the file only"), std::logic_error);
  log.ClearCapture();
  EXPECT_NE(quillmoor_test::ReadFile(options.file).find("[AsaApi][info] kept in the file only"),
            std::string::npos);
}

// A plugin sets its pattern on the shared sinks, as on a real server: it
// shapes the plugin's lines, and the host's keep ISO 8601 with seconds.
TEST(HostLogTest, TheHostsLinesKeepIsoTimeStampsWhateverPatternAPluginSets) {
  quillmoor_test::TempDir dir;
  devhost::LogOptions options;
  options.file = dir.path() / "ArkApi.log";
  options.capture = true;
  devhost::HostLog log(options);
  spdlog::logger plugin("Quillmoor", log.Sinks().begin(), log.Sinks().end());
  plugin.set_formatter(std::make_unique<spdlog::pattern_formatter>("%D %R [%n][%l] %v"));
  log.Host().info("host");
  plugin.info("plugin");
  log.ResetFormatters();
  plugin.info("plugin after its unload");
  const std::string iso = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d )";
  const std::regex expected(iso + R"(\[AsaApi\]\[info\] host\r?\n)" +
                            R"(\d\d/\d\d/\d\d \d\d:\d\d \[Quillmoor\]\[info\] plugin\r?\n)" + iso +
                            R"(\[Quillmoor\]\[info\] plugin after its unload\r?\n)");
  const std::string file = quillmoor_test::ReadFile(options.file);
  EXPECT_TRUE(std::regex_match(file, expected)) << file;
  std::string captured;
  for (const auto& line : log.Lines()) {
    captured += line.text + "\n";
  }
  EXPECT_TRUE(std::regex_match(captured, expected)) << captured;
}

// The report goes through the very sink that failed: it must neither
// deadlock nor repeat, and no line may be lost.
TEST(HostLogTest, AFailedRotationIsReportedOnceAndTheFileKeepsEveryLine) {
  quillmoor_test::TempDir dir;
  devhost::LogOptions options;
  options.file = dir.path() / "Logs" / "ArkApi.log";  // the folder is made
  options.file_max_size = 200;
  options.file_max_files = 1;
  options.capture = true;
  devhost::HostLog log(options);
  const fs::path rotated = dir.path() / "Logs" / "ArkApi.1.log";
  fs::create_directories(rotated / "in the way");
  for (int i = 0; i < 10; ++i) {
    log.Host().info("line {}", i);
  }
  int reports = 0;
  for (const auto& message : log.Messages("AsaApi")) {
    reports += message.rfind("Cannot rotate the host log: cannot rename ", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(reports, 1);
  const std::string kept = quillmoor_test::ReadFile(options.file);
  for (int i = 0; i < 10; ++i) {
    EXPECT_NE(kept.find("] line " + std::to_string(i)), std::string::npos) << i;
  }
  fs::remove_all(rotated);
  log.Host().info("after");
  EXPECT_TRUE(log.Contains("The host log rotates again"));
  EXPECT_EQ(quillmoor_test::ReadFile(rotated), kept);
}

}  // namespace
