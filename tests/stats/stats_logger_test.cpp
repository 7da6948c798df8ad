// The statistics log as an operator reads it: line format, verbatim messages,
// appending across restarts, rotation, and silence when it is not open.
#include <gtest/gtest.h>
#include <functional>
#include <regex>
#include <string>

#include "formats/plugin_files.h"
#include "stats/stats_logger.h"
#include "support/host_test.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace {

using quillmoor_test::ReadFile;
using quillmoor_test::WriteFile;
namespace StatsLogger = Quillmoor::StatsLogger;

constexpr std::size_t kLimit = 5 * 1024 * 1024;

class StatsLoggerTest : public quillmoor_test::HostTest {
 protected:
  std::filesystem::path Live() const { return PluginDir() / formats::kStatsLogFile; }
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

TEST_F(StatsLoggerTest, WithNoRotatedFileOnlyTheLiveFileMovesToNumberOne) {
  WriteFile(Live(), std::string(kLimit + 1, 'L'));
  Open();
  StatsLogger::Log("first after rotation");
  EXPECT_EQ(ReadFile(Rotated(1)), std::string(kLimit + 1, 'L'));
  EXPECT_FALSE(std::filesystem::exists(Rotated(2)));
  EXPECT_FALSE(std::filesystem::exists(Rotated(3)));
  EXPECT_NE(ReadFile(Live()).find("] first after rotation\r\n"), std::string::npos);
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

// A rotated file that cannot be replaced (here a folder in the way of
// number 3) must not cost the history: the live file goes on growing.
TEST_F(StatsLoggerTest, ARotationThatFailsKeepsTheHistoryAndIsReportedOnce) {
  const std::string history(kLimit + 1, 'L');
  WriteFile(Live(), history);
  WriteFile(Rotated(2), "two");
  std::filesystem::create_directories(Rotated(3) / "in the way");
  Open();
  for (const char* message : {"first", "second", "third"}) {
    StatsLogger::Log(message);
  }
  const auto errors = MessagesAt("error");
  ASSERT_EQ(errors.size(), 1u) << "reported once, not once per line";
  EXPECT_EQ(errors[0].rfind("[Quillmoor] StatsLogger rotation failed: cannot rename ", 0), 0u)
      << errors[0];
  const std::string live = ReadFile(Live());
  EXPECT_EQ(live.substr(0, history.size()), history);
  EXPECT_NE(live.find("] third\r\n"), std::string::npos);

  std::filesystem::remove_all(Rotated(3));
  StatsLogger::Log("fourth");
  EXPECT_EQ(ReadFile(Rotated(1)), live);
  EXPECT_EQ(ReadFile(Rotated(3)), "two");
  EXPECT_NE(ReadFile(Live()).find("] fourth\r\n"), std::string::npos);
  EXPECT_TRUE(Logged("[Quillmoor] StatsLogger rotation works again."));
}

#if !defined(_WIN32)
struct PlantedCase {
  const char* name;
  std::function<void(const std::filesystem::path& live, const std::filesystem::path& target)> plant;
};

class StatsLoggerPlantedTest : public StatsLoggerTest,
                               public ::testing::WithParamInterface<PlantedCase> {};

// A FIFO would hang the start-up for ever, a link would get the lines written
// into its target: both fail Init with its usual line.
TEST_P(StatsLoggerPlantedTest, InitRefusesItAndWritesNothingThrough) {
  const auto target = PluginDir() / "target";
  WriteFile(target, "untouched");
  GetParam().plant(Live(), target);
  Open();
  const auto errors = MessagesAt("error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("[Quillmoor] StatsLogger::Init exception: ", 0), 0u) << errors[0];
  StatsLogger::Log("lost");
  EXPECT_EQ(ReadFile(target), "untouched");
}

INSTANTIATE_TEST_SUITE_P(Kinds, StatsLoggerPlantedTest,
                         ::testing::Values(PlantedCase{"Fifo",
                                                       [](const auto& live, const auto&) {
                                                         ASSERT_EQ(mkfifo(live.c_str(), 0600), 0);
                                                       }},
                                           PlantedCase{"SymbolicLink",
                                                       [](const auto& live, const auto& target) {
                                                         std::filesystem::create_symlink(target,
                                                                                         live);
                                                       }}),
                         [](const auto& row) { return std::string(row.param.name); });
#endif

}  // namespace
