// PluginConfig.guide.json: the same bytes after every kind of load, built-in
// defaults whatever was loaded, and silence when it cannot be written.
#include <gtest/gtest.h>
#include <filesystem>
#include <functional>
#include <string>

#include "config/loader.h"
#include "config_test.h"

namespace {

using quillmoor_test::ConfigTest;
using quillmoor_test::DefaultsWith;
using quillmoor_test::GuideText;
using quillmoor_test::ReadFile;
using quillmoor_test::RowName;
using quillmoor_test::WriteFile;

struct LoadCase {
  const char* name;
  std::function<void(const std::filesystem::path& config)> prepare;
};

class ConfigGuideTest : public ConfigTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(ConfigGuideTest, GuideIsRewrittenWithTheBuiltInDefaults) {
  // An operator's edit, longer than the guide: it must be truncated away.
  WriteFile(GuidePath(), std::string(20000, 'x'));
  GetParam().prepare(ConfigPath());
  Load();
  EXPECT_EQ(ReadFile(GuidePath()), GuideText());
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutcomeOfALoad, ConfigGuideTest,
    ::testing::Values(
        LoadCase{"FileMissing", [](const auto&) {}},
        LoadCase{"FileCurrentWithOtherValues",
                 [](const auto& config) {
                   WriteFile(config, DefaultsWith({{"AutoGC", {{"IntervalMinutes", 30}}},
                                                   {"Rcon", {{"CommandName", "Gc"}}}}));
                 }},
        LoadCase{"FileOutdated",
                 [](const auto& config) { WriteFile(config, R"({"ConfigVersion": 2})"); }},
        LoadCase{"FileBroken", [](const auto& config) { WriteFile(config, "{\"AutoGC\": "); }},
        LoadCase{"FileUnreadable",
                 [](const auto& config) { std::filesystem::create_directory(config); }}),
    RowName<LoadCase>);

TEST_F(ConfigTest, GuideThatCannotBeOpenedIsLeftAloneSilently) {
  // Tests run as root, for whom a read-only file is writable: a directory in
  // the guide's place is what cannot be opened for writing here.
  std::filesystem::create_directory(GuidePath());
  WriteFile(GuidePath() / "kept", "operator's");

  Load();
  EXPECT_TRUE(std::filesystem::is_directory(GuidePath()));
  EXPECT_EQ(ReadFile(GuidePath() / "kept"), "operator's");
  EXPECT_TRUE(MessagesAt("warning").empty());
  EXPECT_TRUE(MessagesAt("error").empty());
  EXPECT_EQ(Messages().size(), 1u);  // the file's creation only
}

}  // namespace
