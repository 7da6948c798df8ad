// PluginConfig.json and its guide as the plugin writes them: byte for byte
// against the hand-typed golden files, and read back without a correction.
#include <gtest/gtest.h>
#include <filesystem>
#include <string>
#include <vector>

#include "config/loader.h"
#include "config_test.h"

namespace {

using quillmoor_test::ConfigTest;
using quillmoor_test::Golden;
using quillmoor_test::ReadFile;
using quillmoor_test::TextMode;

TEST_F(ConfigTest, FirstStartWritesTheDefaultsDocumentByteForByte) {
  const auto config = Load();
  EXPECT_EQ(ReadFile(ConfigPath()), TextMode(Golden("PluginConfig.json")));
  EXPECT_EQ(config, Quillmoor::Config{});
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{
                "[Quillmoor] PluginConfig.json not found — generated with defaults at: " +
                ConfigPathText()}));
  EXPECT_EQ(MessagesAt("info").size(), 1u);
}

TEST_F(ConfigTest, FirstStartWritesTheGuideByteForByte) {
  Load();
  EXPECT_EQ(ReadFile(GuidePath()), TextMode(Golden("PluginConfig.guide.json")));
}

TEST_F(ConfigTest, WrittenDefaultsReadBackAsTheDefaultConfigWithoutACorrection) {
  Load();
  host().log().ClearCapture();

  const auto config = Load();
  EXPECT_EQ(config, Quillmoor::Config{});
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  EXPECT_EQ(ReadFile(ConfigPath()), quillmoor_test::DefaultsText());
}

TEST_F(ConfigTest, MissingPluginFolderIsReportedAndNothingIsCreated) {
  std::filesystem::remove_all(PluginDir());
  const auto config = Load();
  EXPECT_EQ(config, Quillmoor::Config{});
  EXPECT_EQ(MessagesAt("warning"),
            (std::vector<std::string>{"[Quillmoor] PluginConfig.json not found but could not be "
                                      "created at: " +
                                      ConfigPathText() + ". Using defaults."}));
  EXPECT_EQ(Messages().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(PluginDir()));
}

}  // namespace
