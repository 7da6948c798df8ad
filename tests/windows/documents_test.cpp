// The plugin's files on Windows, written by the built Quillmoor.dll: the two
// documents as text-mode streams store them (CR LF), the statistics log with one
// CR LF per line across a rotation, a server directory with spaces and
// letters outside ASCII, and an outdated configuration or a guide that
// Windows will not let anyone replace.
#include <gtest/gtest.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "devhost/rcon_dispatch.h"
#include "installed_plugin.h"

namespace {

namespace fs = std::filesystem;
using quillmoor_test::HeldOpen;
using quillmoor_test::ReadFile;
using quillmoor_test::TextMode;
using quillmoor_test::WriteFile;

std::string Golden(const std::string& name) {
  return ReadFile(fs::path(QUILLMOOR_GOLDEN_DIR) / name);
}

// An operator's file from an older version, with values of their own.
const std::string kOutdated =
    "{\r\n  \"ConfigVersion\": 2,\r\n  \"AutoGC\": { \"IntervalMinutes\": 42 }\r\n}\r\n";

// Every line break in `text` is one CR LF: no bare LF, no CR doubled.
::testing::AssertionResult EachLineEndsInOneCrLf(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
      return ::testing::AssertionFailure() << "bare LF at byte " << i;
    }
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
      return ::testing::AssertionFailure() << "CR without LF at byte " << i;
    }
  }
  return ::testing::AssertionSuccess();
}

struct ServerDirCase {
  const char* name;
  const char8_t* relative;  // below the test's folder
};

class DocumentsTest : public quillmoor_test::InstalledPluginTest,
                      public ::testing::WithParamInterface<ServerDirCase> {
 protected:
  void SetUp() override {
    InstalledPluginTest::SetUp();
    UseServerDir(GetParam().relative);
  }
  void LoadInstalled() { LoadFrom(Install(PluginFolder())); }
};

TEST_P(DocumentsTest, BothDocumentsAreTheGoldenFilesWithCrLf) {
  LoadInstalled();
  for (const char* name : {"PluginConfig.json", "PluginConfig.guide.json"}) {
    const std::string written = ReadFile(PluginFolder() / name);
    EXPECT_EQ(written, TextMode(Golden(name))) << name;
    EXPECT_TRUE(EachLineEndsInOneCrLf(written)) << name;
  }
}

TEST_P(DocumentsTest, AnOutdatedConfigIsKeptAsBakAndReplaced) {
  WriteFile(PluginFolder() / "PluginConfig.json", kOutdated);
  LoadInstalled();
  EXPECT_EQ(ReadFile(PluginFolder() / "PluginConfig.json"), TextMode(Golden("PluginConfig.json")));
  EXPECT_EQ(ReadFile(PluginFolder() / "PluginConfig.json.bak"), kOutdated);
  EXPECT_EQ(Count("[Quillmoor] Plugin initialized."), 1);
}

TEST_P(DocumentsTest, StatisticsLinesEndInOneCrLfAcrossARotation) {
  // Just below the limit: the second forced collection rotates the file.
  constexpr std::size_t kLimit = 5 * 1024 * 1024;
  const std::size_t line = std::string("[2026-01-01 00:00:00] GC forced. Trigger: rcon\r\n").size();
  WriteFile(PluginFolder() / "Quillmoor_stats.log", std::string(kLimit - line, 'L'));
  LoadInstalled();
  for (int id = 1; id <= 2; ++id) {
    const auto replies = devhost::RunRconRequest(host(), {id, 0, "ForceGC", "test"});
    ASSERT_EQ(replies.size(), 1u);
  }
  const std::string rotated = ReadFile(PluginFolder() / "Quillmoor_stats.1.log");
  const std::string live = ReadFile(PluginFolder() / "Quillmoor_stats.log");
  EXPECT_EQ(rotated.size(), kLimit);
  EXPECT_EQ(rotated.substr(rotated.size() - 28), "] GC forced. Trigger: rcon\r\n");
  EXPECT_EQ(live.size(), line);
  EXPECT_EQ(live.substr(20), "] GC forced. Trigger: rcon\r\n");
  EXPECT_TRUE(EachLineEndsInOneCrLf(rotated.substr(kLimit - line)));
  EXPECT_TRUE(EachLineEndsInOneCrLf(live));
}

INSTANTIATE_TEST_SUITE_P(ServerDirs, DocumentsTest,
                         ::testing::Values(ServerDirCase{"Ascii", u8"server"},
                                           ServerDirCase{"SpacesAndAccents", u8"Données/My Server"},
                                           ServerDirCase{"DeeperAndLatin1",
                                                         u8"Serveurs de l'été/Ark Ñandú 1"}),
                         quillmoor_test::CaseName<ServerDirCase>);

// --- an outdated configuration that cannot be replaced ---

struct GuardedFileCase {
  const char* name;
  // Protects the file in place; the returned object lifts the protection.
  std::function<std::shared_ptr<void>(const fs::path&)> protect;
  bool must_stay_in_place;  // nobody can rename it either
};

class GuardedConfigTest : public quillmoor_test::InstalledPluginTest,
                          public ::testing::WithParamInterface<GuardedFileCase> {};

// Whatever the plugin manages, the operator's bytes survive, the folder
// holds no half-written document, and the plugin starts on the defaults.
TEST_P(GuardedConfigTest, TheOperatorsFileSurvivesAndThePluginRunsOn) {
  UseServerDir(u8"Données/My Server");
  const fs::path config = PluginFolder() / "PluginConfig.json";
  WriteFile(config, kOutdated);
  const fs::path library = Install(PluginFolder());
  {
    auto guard = GetParam().protect(config);
    LoadFrom(library);
  }
  EXPECT_EQ(Count("[Quillmoor] Plugin initialized."), 1);
  EXPECT_EQ(host().EscapedExceptions(), 0u);

  const std::string now = ReadFile(config);
  if (GetParam().must_stay_in_place) {
    EXPECT_EQ(now, kOutdated);
  }
  EXPECT_TRUE(now == kOutdated || now == TextMode(Golden("PluginConfig.json"))) << now;
  bool kept = now == kOutdated;
  const std::set<std::string> expected = {"PluginConfig.json", "PluginConfig.guide.json",
                                          "Quillmoor.dll", "Quillmoor_stats.log"};
  for (const auto& entry : fs::directory_iterator(PluginFolder())) {
    const std::string name = entry.path().filename().string();
    if (expected.count(name) == 0) {
      // Anything else may only be a backup of the operator's file.
      EXPECT_EQ(ReadFile(entry.path()), kOutdated) << "stray file " << name;
      kept = true;
    }
  }
  EXPECT_TRUE(kept) << "the operator's outdated file is gone";
  if (now == kOutdated) {
    bool reported = false;
    for (const auto& line : MessagesAt("error")) {
      reported = reported || line.find("PluginConfig.json") != std::string::npos;
    }
    EXPECT_TRUE(reported) << "a file left unreplaced must be reported";
  }
  for (const auto& entry : fs::directory_iterator(PluginFolder())) {
    SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);  // so that the folder can go
  }
}

const auto kProtections = ::testing::Values(
    GuardedFileCase{"HeldOpenWithoutDeleteSharing",
                    [](const fs::path& path) -> std::shared_ptr<void> {
                      auto held = std::make_shared<HeldOpen>(path);
                      EXPECT_TRUE(held->held());
                      return held;
                    },
                    true},
    GuardedFileCase{"ReadOnly",
                    [](const fs::path& path) -> std::shared_ptr<void> {
                      EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
                      return nullptr;
                    },
                    false});

INSTANTIATE_TEST_SUITE_P(Protections, GuardedConfigTest, kProtections,
                         quillmoor_test::CaseName<GuardedFileCase>);

// --- a guide that the server may not write ---

class GuardedGuideTest : public GuardedConfigTest {};

// The operator's protection wins: the guide stays byte for byte, nothing is
// reported, and no temporary file is left.
TEST_P(GuardedGuideTest, IsLeftAsItIsWithoutAWord) {
  UseServerDir(u8"Données/My Server");
  const fs::path guide = PluginFolder() / "PluginConfig.guide.json";
  const std::string notes = "the operator's own notes\r\n";
  WriteFile(guide, notes);
  const fs::path library = Install(PluginFolder());
  {
    auto guard = GetParam().protect(guide);
    LoadFrom(library);
  }
  EXPECT_EQ(ReadFile(guide), notes);
  EXPECT_EQ(Count("[Quillmoor] Plugin initialized."), 1);
  EXPECT_TRUE(MessagesAt("warning").empty()) << MessagesAt("warning").front();
  EXPECT_TRUE(MessagesAt("error").empty()) << MessagesAt("error").front();
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(PluginFolder())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"PluginConfig.json", "PluginConfig.guide.json",
                                          "Quillmoor.dll", "Quillmoor_stats.log"}));
  SetFileAttributesW(guide.c_str(), FILE_ATTRIBUTE_NORMAL);  // so that the folder can go
}

INSTANTIATE_TEST_SUITE_P(Protections, GuardedGuideTest, kProtections,
                         quillmoor_test::CaseName<GuardedFileCase>);

}  // namespace
