// The statistics log as an operator reads it: line format, verbatim messages,
// appending across restarts, rotation, and silence when it is not open.
#include <gtest/gtest.h>
#include <regex>
#include <string>

#include "stats/stats_logger.h"
#include "support/host_test.h"

namespace {

using quillmoor_test::ReadFile;
using quillmoor_test::WriteFile;
namespace StatsLogger = Quillmoor::StatsLogger;

constexpr std::size_t kLimit = 5 * 1024 * 1024;

class StatsLoggerTest : public quillmoor_test::HostTest {
 protected:
  std::filesystem::path Live() const { return PluginDir() / "Quillmoor_stats.log"; }
  std::filesystem::path Rotated(int n) const {
    return PluginDir() / ("Quillmoor_stats." + std::to_string(n) + ".log");
  }
  void Open() { StatsLogger::Init(PluginDir().string()); }
};

TEST_F(StatsLoggerTest, LinesAreTimeStampedVerbatimAndEndInCrLf) {
  Open();
  StatsLogger::Log("GC forced. Trigger: rcon");
  StatsLogger::Log("braces {} and {0} and percent %d %s stay");
  StatsLogger::Log("two\nlines");
  const std::string text = ReadFile(Live());
  const std::regex line(
      R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] GC forced\. Trigger: rcon\r\n)"
      R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] braces \{\} and \{0\} and percent %d %s stay\r\n)"
      R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] two\nlines\r\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(StatsLoggerTest, NothingIsWrittenBeforeInitOrAfterShutdown) {
  StatsLogger::Log("before");
  EXPECT_FALSE(std::filesystem::exists(Live()));
  Open();
  StatsLogger::Shutdown();
  StatsLogger::Log("after");
  StatsLogger::Shutdown();  // a second shutdown is harmless
  EXPECT_EQ(ReadFile(Live()), "");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StatsLoggerTest, AMissingFolderFailsInitWithOneLineAndNoFile) {
  std::filesystem::remove_all(PluginDir());
  Open();
  const auto errors = MessagesAt("error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("[Quillmoor] StatsLogger::Init exception: ", 0), 0u) << errors[0];
  StatsLogger::Log("lost");
  EXPECT_FALSE(std::filesystem::exists(PluginDir())) << "the folder must not be created";
}

TEST_F(StatsLoggerTest, ASecondInitKeepsTheFirstLogInUse) {
  Open();
  Open();
  EXPECT_EQ(MessagesAt("error").size(), 1u);
  StatsLogger::Log("still here");
  EXPECT_NE(ReadFile(Live()).find("] still here\r\n"), std::string::npos);
}

TEST_F(StatsLoggerTest, ARestartAppendsToTheExistingFile) {
  WriteFile(Live(), "[2026-01-01 00:00:00] from last run\r\n");
  Open();
  StatsLogger::Log("this run");
  const std::string text = ReadFile(Live());
  EXPECT_EQ(text.rfind("[2026-01-01 00:00:00] from last run\r\n", 0), 0u);
  EXPECT_NE(text.find("] this run\r\n"), std::string::npos);
}

TEST_F(StatsLoggerTest, AnOversizedLiveFileRotatesOnTheFirstLineWithThreeRotatedFilesKept) {
  WriteFile(Live(), std::string(kLimit + 1, 'L'));
  WriteFile(Rotated(1), "one");
  WriteFile(Rotated(2), "two");
  WriteFile(Rotated(3), "three");
  Open();
  StatsLogger::Log("first after rotation");
  EXPECT_EQ(ReadFile(Rotated(3)), "two");
  EXPECT_EQ(ReadFile(Rotated(2)), "one");
  EXPECT_EQ(ReadFile(Rotated(1)).size(), kLimit + 1);
  const std::string live = ReadFile(Live());
  EXPECT_EQ(live.find("] first after rotation\r\n"), std::string("[2026-01-01 00:00:00").size());
  EXPECT_FALSE(std::filesystem::exists(PluginDir() / "Quillmoor_stats.4.log"));
}

TEST_F(StatsLoggerTest, ALineThatFillsTheFileExactlyStaysAndTheNextOneRotates) {
  // Each line is "[YYYY-MM-DD HH:MM:SS] " (22 bytes) + message + CR LF.
  const std::string message = "x";
  const std::size_t line = 22 + message.size() + 2;
  WriteFile(Live(), std::string(kLimit - line, 'L'));
  Open();
  StatsLogger::Log(message);
  EXPECT_EQ(std::filesystem::file_size(Live()), kLimit);
  EXPECT_FALSE(std::filesystem::exists(Rotated(1)));
  StatsLogger::Log(message);
  EXPECT_EQ(std::filesystem::file_size(Rotated(1)), kLimit);
  EXPECT_EQ(std::filesystem::file_size(Live()), line);
}

}  // namespace
