// Quillmoor.dll as the Windows loader sees it: the path under which it
// registers its timers is its own full path (wide, so letters outside the
// code page survive; up to 260 characters with the terminator), the timers
// go when it is unloaded, and FreeLibrary really unloads it, twenty times
// over in one process.
#include <gtest/gtest.h>
#include <filesystem>
#include <string>

#include "devhost/dynamic_library.h"
#include "installed_plugin.h"

namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

struct FolderCase {
  const char* name;
  const char8_t* folder;  // below the test's folder
  // Pads the folder so that the library's full path has exactly this many
  // characters; 0 leaves it as it is.
  std::size_t path_length;
};

class ModulePathTest : public quillmoor_test::InstalledPluginTest,
                       public ::testing::WithParamInterface<FolderCase> {
 protected:
  fs::path Folder() const {
    fs::path folder = fs::weakly_canonical(ServerDir()) / GetParam().folder;
    if (const std::size_t want = GetParam().path_length; want > 0) {
      const std::size_t now = (folder / "x" / "Quillmoor.dll").native().size();
      folder /= std::wstring(want > now ? want - now + 1 : 1, L'p');
    }
    // One kind of separator, as the loader writes the path back.
    return folder.make_preferred();
  }
};

TEST_P(ModulePathTest, TimersCarryTheFullLibraryPathAndGoWithTheModule) {
  const fs::path library = Install(Folder());
  if (GetParam().path_length > 0) {
    ASSERT_EQ(library.native().size(), GetParam().path_length);
  }
  LoadFrom(library);
  const auto timers = host().timers().List();
  ASSERT_EQ(timers.size(), 2u);  // Auto-GC and the structure pass
  for (const auto& timer : timers) {
    EXPECT_EQ(timer.module, Utf8(library));
  }
  EXPECT_EQ(host().Plugins().front().path, Utf8(library));
  Unload();
  EXPECT_EQ(host().timers().Count(), 0u);
  EXPECT_FALSE(devhost::IsLibraryMapped(library));
  // A timer left behind would run code that is no longer mapped.
  host().Advance(3600);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Folders, ModulePathTest,
                         ::testing::Values(FolderCase{"Plain", u8"plugins", 0},
                                           FolderCase{"SpacesAndAccents", u8"Données/My Server", 0},
                                           FolderCase{"OutsideTheCodePage", u8"Ωμέγα Сервер 服务器",
                                                      0},
                                           FolderCase{"LongestPathThatFits", u8"long", 259}),
                         quillmoor_test::CaseName<FolderCase>);

class ReloadTest : public quillmoor_test::InstalledPluginTest {};

TEST_F(ReloadTest, TwentyLoadsAndUnloadsLeaveNothingBehind) {
  const fs::path library = Install(PluginFolder());
  constexpr int kRounds = 20;
  for (int round = 1; round <= kRounds; ++round) {
    LoadFrom(library);
    ASSERT_TRUE(devhost::IsLibraryMapped(library)) << "round " << round;
    // A little game time: the callbacks run and the timers allocate.
    host().Advance(2);
    Unload();
    ASSERT_FALSE(devhost::IsLibraryMapped(library)) << "round " << round;
    EXPECT_EQ(host().timers().Count(), 0u) << "round " << round;
    EXPECT_TRUE(host().commands().RconCommandNames().empty()) << "round " << round;
    EXPECT_EQ(host().commands().UpdateCallbackCount(), 0u) << "round " << round;
    EXPECT_EQ(host().allocator().OutstandingBlocks(), 0u) << "round " << round;
  }
  // Each load starts from fresh static state: no "already exists" errors.
  EXPECT_EQ(Count("[Quillmoor] Plugin initialized."), kRounds);
  EXPECT_EQ(Count("[Quillmoor] Plugin unloaded."), kRounds);
  EXPECT_TRUE(MessagesAt("error").empty()) << MessagesAt("error").front();
  EXPECT_EQ(host().allocator().BadFrees(), 0u);
  EXPECT_EQ(host().EscapedExceptions(), 0u);
}

}  // namespace
