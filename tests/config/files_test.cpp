// The operator's files against a hostile file system: a full disk, a huge
// file, planted links, taken backup names, a folder whose contents cannot be
// told; Linux only. The full disk and the failing rename are real mounts, so those tests
// need root in a mount namespace that allows it, and skip otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "config_test.h"
#include "support/unprivileged.h"

namespace {

namespace fs = std::filesystem;
using Quillmoor::Config;
using quillmoor_test::ConfigTest;
using quillmoor_test::DefaultsText;
using quillmoor_test::DefaultsWith;
using quillmoor_test::GuideText;
using quillmoor_test::ReadFile;
using quillmoor_test::RowName;
using quillmoor_test::WriteFile;
using Strings = std::vector<std::string>;

class ConfigFilesTest : public ConfigTest {
 protected:
  void TearDown() override {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
      umount2(it->c_str(), MNT_DETACH);
    }
    ConfigTest::TearDown();
  }

  // Returns false when mounting is not allowed here.
  bool Mount(const char* source, const fs::path& target, const char* type, unsigned long flags,
             const char* options) {
    if (mount(source, target.c_str(), type, flags, options) != 0) {
      return false;
    }
    mounts_.push_back(target);
    return true;
  }

  // Writes to `path` until the file system is full.
  static void FillUp(const fs::path& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
  }

  std::set<std::string> FolderEntries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(PluginDir())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::vector<fs::path> mounts_;
};

TEST_F(ConfigFilesTest, FullDiskLeavesNoEmptyConfigAndKeepsTheLastGuide) {
  if (!Mount("tmpfs", PluginDir(), "tmpfs", 0, "size=64k")) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  WriteFile(GuidePath(), "the guide of the last start");
  FillUp(PluginDir() / "filler");

  EXPECT_EQ(Load(), Config{});
  EXPECT_EQ(Messages(), (Strings{"[Quillmoor] PluginConfig.json not found but could not be "
                                 "created at: " +
                                 ConfigPath().string() + ". Using defaults."}));
  EXPECT_EQ(ReadFile(GuidePath()), "the guide of the last start");
  EXPECT_EQ(FolderEntries(), (std::set<std::string>{"PluginConfig.guide.json", "filler"}));
}

TEST_F(ConfigFilesTest, FifoIsReportedWithoutBeingOpened) {
  // Opening one for reading would block start-up for ever.
  ASSERT_EQ(mkfifo(ConfigPath().c_str(), 0600), 0);
  EXPECT_EQ(Load(), Config{});
  EXPECT_EQ(
      Messages(),
      (Strings{"[Quillmoor] PluginConfig.json exists but cannot be read: " + ConfigPath().string() +
               " (a FIFO). Using defaults; the file is left "
               "unchanged."}));
  EXPECT_EQ(fs::symlink_status(ConfigPath()).type(), fs::file_type::fifo);
  EXPECT_EQ(ReadFile(GuidePath()), GuideText());
}

// The line says what the reader found, as the server's user sees it; the
// file stays as it is. A socket is not called a FIFO.
TEST_F(ConfigFilesTest, TheUnreadableLineCarriesTheReason) {
  struct Row {
    const char* name;
    std::function<int()> make;  // returns a descriptor to close afterwards, or -1
    const char* reason;
  };
  const Row rows[] = {
      {"a file its user may not read",
       [&] {
         WriteFile(ConfigPath(), "the operator's own");
         fs::permissions(ConfigPath(), fs::perms::owner_write);
         return -1;
       },
       "Permission denied"},
      {"a socket",
       [&] {
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         EXPECT_LT(ConfigPath().native().size(), sizeof address.sun_path);
         ConfigPath().native().copy(address.sun_path, sizeof address.sun_path - 1);
         EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         return fd;
       },
       "a socket"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const int fd = row.make();
    const auto kind = fs::symlink_status(ConfigPath()).type();
    const Strings expected = {
        "[Quillmoor] PluginConfig.json exists but cannot be read: " + ConfigPath().string() + " (" +
        row.reason + "). Using defaults; the file is left unchanged."};
    // The child's lines come back as its exit code: 0 when they were the
    // expected ones on the defaults.
    EXPECT_EQ(quillmoor_test::RunUnprivileged(
                  [&] { return Load() == Config{} && Messages() == expected ? 0 : 1; }),
              0);
    EXPECT_EQ(fs::symlink_status(ConfigPath()).type(), kind);
    if (fd >= 0) {
      close(fd);
    }
    fs::remove(ConfigPath());
  }
}

TEST_F(ConfigFilesTest, LinkInTheGuidesPlaceIsReplacedNotWrittenThrough) {
  WriteFile(ServerDir() / "victim", "not the plugin's");
  fs::create_symlink(ServerDir() / "victim", GuidePath());
  Load();
  EXPECT_EQ(ReadFile(ServerDir() / "victim"), "not the plugin's");
  EXPECT_EQ(fs::symlink_status(GuidePath()).type(), fs::file_type::regular);
  EXPECT_EQ(ReadFile(GuidePath()), GuideText());
}

TEST_F(ConfigFilesTest, FileAtTheSizeLimitIsReadOneByteMoreIsNot) {
  const std::string text = DefaultsWith({{"AutoGC", {{"IntervalMinutes", 30}}}});
  WriteConfig(text + std::string((1 << 20) - text.size(), ' '));
  EXPECT_EQ(Load().AutoGC.IntervalMinutes, 30);
  EXPECT_TRUE(Messages().empty()) << Messages().front();

  const std::string larger = text + std::string((1 << 20) + 1 - text.size(), ' ');
  WriteConfig(larger);
  EXPECT_EQ(Load(), Config{});
  EXPECT_EQ(
      Messages(),
      (Strings{"[Quillmoor] PluginConfig.json exists but cannot be read: " + ConfigPath().string() +
               " is larger than 1 MiB. Using defaults; the file is left unchanged."}));
  EXPECT_EQ(ReadFile(ConfigPath()), larger);
}

TEST_F(ConfigFilesTest, FolderWhoseContentsCannotBeToldIsSaidSoAndNothingIsWritten) {
  // Resolving a path through a link to itself fails before the file's name
  // is even looked at.
  const fs::path folder = PluginDir() / "loop";
  fs::create_symlink("loop", folder);
  const std::string path = (folder / "PluginConfig.json").string();

  EXPECT_EQ(Quillmoor::LoadConfig(folder.string()), Config{});
  const auto m = Messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0],
            "[Quillmoor] PluginConfig.json cannot be read, and whether it exists cannot be told: " +
                path +
                " (Too many levels of symbolic links). Using defaults; the file is left "
                "unchanged.");
  EXPECT_EQ(MessagesAt("error").size(), 1u);
  EXPECT_EQ(FolderEntries(), (std::set<std::string>{"loop"}));
}

// --- the guide as the server's own user finds it ------------------------------

struct GuideCase {
  const char* name;
  std::string before;  // the guide's bytes before the start; empty: no guide
  fs::perms mode;      // the guide's
  bool folder_writable;
  bool refreshed;  // the guide ends as the golden file; otherwise as before
};

class GuidePermissionsTest : public ConfigFilesTest,
                             public ::testing::WithParamInterface<GuideCase> {};

// As the server's user, not as root, whose rights would hide every case:
// a read-only guide stays byte for byte, a writable one is refreshed even
// where the folder takes no new file, and none of it is reported.
TEST_P(GuidePermissionsTest, ReadOnlyStaysWritableIsRefreshedNothingIsReported) {
  const GuideCase& c = GetParam();
  WriteFile(ConfigPath(), DefaultsText());
  if (!c.before.empty()) {
    WriteFile(GuidePath(), c.before);
    quillmoor_test::GiveToUnprivileged(GuidePath());
    fs::permissions(GuidePath(), c.mode);
  }
  if (c.folder_writable) {
    quillmoor_test::GiveToUnprivileged(PluginDir());
  } else {
    fs::permissions(PluginDir(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
  }

  // What the child saw comes back as its exit code: the number of host log
  // lines, or 100 when it did not run on the defaults.
  const int lines = quillmoor_test::RunUnprivileged(
      [&] { return Load() == Config{} ? static_cast<int>(Messages().size()) : 100; });
  EXPECT_EQ(lines, 0);
  if (c.refreshed) {
    EXPECT_EQ(ReadFile(GuidePath()), GuideText());
  } else if (c.before.empty()) {
    EXPECT_FALSE(fs::exists(GuidePath()));
  } else {
    EXPECT_EQ(ReadFile(GuidePath()), c.before);
    EXPECT_EQ(fs::status(GuidePath()).permissions(), c.mode);
  }
  std::set<std::string> expected = {"PluginConfig.json"};
  if (c.refreshed || !c.before.empty()) {
    expected.insert("PluginConfig.guide.json");
  }
  EXPECT_EQ(FolderEntries(), expected) << "a temporary file was left behind";
}

constexpr fs::perms kReadOnly =
    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms kWritable = kReadOnly | fs::perms::owner_write;

INSTANTIATE_TEST_SUITE_P(
    Permissions, GuidePermissionsTest,
    ::testing::Values(
        GuideCase{"ReadOnly", "the operator's own notes", kReadOnly, true, false},
        GuideCase{"ReadOnlyInAReadOnlyFolder", "the operator's own notes", kReadOnly, false, false},
        GuideCase{"Writable", "an older guide", kWritable, true, true},
        // No temporary file can be made there, so it is rewritten in place:
        // grown when shorter, cut when longer.
        GuideCase{"WritableInAReadOnlyFolder", "an older guide", kWritable, false, true},
        GuideCase{"LongerInAReadOnlyFolder", std::string(20000, 'x'), kWritable, false, true},
        GuideCase{"MissingInAReadOnlyFolder", "", kWritable, false, false}),
    RowName<GuideCase>);

// Root, or an administrator on Windows, may write anything; the operator who
// made the guide read-only still wins.
TEST_F(ConfigFilesTest, AReadOnlyGuideStaysForAServerThatMayWriteAnything) {
  WriteFile(ConfigPath(), DefaultsText());
  WriteFile(GuidePath(), "the operator's own notes");
  fs::permissions(GuidePath(), kReadOnly);
  EXPECT_EQ(Load(), Config{});
  EXPECT_EQ(ReadFile(GuidePath()), "the operator's own notes");
  EXPECT_TRUE(Messages().empty());
}

// --- backups of outdated files -------------------------------------------------

struct Backups {
  const char* name;
  Strings taken;     // backup names present before the load
  const char* used;  // the name the outdated file must get
};

class ConfigBackupTest : public ConfigFilesTest, public ::testing::WithParamInterface<Backups> {};

TEST_P(ConfigBackupTest, OutdatedFileTakesTheFirstFreeNameAndNoBackupIsReplaced) {
  for (const auto& name : GetParam().taken) {
    WriteFile(PluginDir() / name, "older backup " + name);
  }
  WriteConfig(R"({"ConfigVersion": 2})");

  Load();
  const fs::path used = PluginDir() / GetParam().used;
  EXPECT_EQ(ReadFile(used), R"({"ConfigVersion": 2})");
  for (const auto& name : GetParam().taken) {
    EXPECT_EQ(ReadFile(PluginDir() / name), "older backup " + name);
  }
  EXPECT_EQ(ReadFile(ConfigPath()), DefaultsText());
  EXPECT_TRUE(Logged("[Quillmoor] Outdated PluginConfig.json kept as: " + used.string()));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ConfigBackupTest,
    ::testing::Values(Backups{"NoneTaken", {}, "PluginConfig.json.bak"},
                      Backups{"FirstTaken", {"PluginConfig.json.bak"}, "PluginConfig.json.1.bak"},
                      Backups{"TwoTaken",
                              {"PluginConfig.json.bak", "PluginConfig.json.1.bak"},
                              "PluginConfig.json.2.bak"},
                      Backups{"GapIsFilled", {"PluginConfig.json.1.bak"}, "PluginConfig.json.bak"}),
    RowName<Backups>);

// A full disk: the backup is a rename and takes no room, the new file does.
TEST_F(ConfigFilesTest, OutdatedFileOnAFullDiskStaysInPlace) {
  if (!Mount("tmpfs", PluginDir(), "tmpfs", 0, "size=64k")) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  const std::string outdated = R"({"ConfigVersion": 2, "AutoGC": {"IntervalMinutes": 30}})";
  WriteConfig(outdated);
  WriteFile(GuidePath(), "the guide of the last start");
  FillUp(PluginDir() / "filler");

  EXPECT_EQ(Load(), Config{});
  EXPECT_EQ(ReadFile(ConfigPath()), outdated);
  EXPECT_EQ(FolderEntries(),
            (std::set<std::string>{"PluginConfig.json", "PluginConfig.guide.json", "filler"}));
  EXPECT_EQ(Messages(),
            (Strings{"[Quillmoor] PluginConfig.json version mismatch (found: 2, expected: 3) — "
                     "keeping it unchanged and using the defaults.",
                     "[Quillmoor] PluginConfig.json could not be regenerated at: " +
                         ConfigPath().string() +
                         " (is the disk full?); the outdated file is left unchanged and the "
                         "defaults are used."}));
}

TEST_F(ConfigFilesTest, OutdatedFileThatCannotBeBackedUpIsLeftInPlace) {
  // A taken name is passed over, so the failure must come from the rename
  // itself: a mount point cannot be renamed.
  fs::create_directory(BackupPath());
  WriteFile(BackupPath() / "kept", "x");
  WriteConfig(R"({"ConfigVersion": 2, "AutoGC": {"IntervalMinutes": 30}})");
  if (!Mount(ConfigPath().c_str(), ConfigPath(), nullptr, MS_BIND, nullptr)) {
    GTEST_SKIP() << "cannot bind-mount here";
  }
  const fs::path used = PluginDir() / "PluginConfig.json.1.bak";

  const auto config = Load();
  EXPECT_EQ(config, Config{});
  EXPECT_EQ(ReadFile(ConfigPath()), R"({"ConfigVersion": 2, "AutoGC": {"IntervalMinutes": 30}})");
  EXPECT_EQ(ReadFile(BackupPath() / "kept"), "x");
  EXPECT_FALSE(fs::exists(used));
  EXPECT_EQ(ReadFile(GuidePath()), GuideText());

  const auto m = Messages();
  ASSERT_EQ(m.size(), 2u);
  // Nothing is regenerated, so the warning must not say so.
  EXPECT_EQ(m[0],
            "[Quillmoor] PluginConfig.json version mismatch (found: 2, expected: 3) — keeping it "
            "unchanged and using the defaults.");
  const auto errors = MessagesAt("error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].starts_with("[Quillmoor] PluginConfig.json could not be kept as " +
                                    used.string() + " ("))
      << errors[0];
  EXPECT_TRUE(
      errors[0].ends_with("); the outdated file is left unchanged and the defaults are used."))
      << errors[0];
}

}  // namespace
