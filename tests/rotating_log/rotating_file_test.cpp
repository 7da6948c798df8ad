// The rotating log file as its owners rely on it: a rotation that cannot
// happen keeps every line and is reported once, and nothing but a regular
// file is ever opened, without following a link or waiting on a FIFO.
#include "rotating_log/rotating_file.h"

#include <gtest/gtest.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/host_test.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using quillmoor_test::ReadFile;
using quillmoor_test::TempDir;
using quillmoor_test::WriteFile;
using rotating_log::RotatingFile;

constexpr std::size_t kLimit = 100;
const std::string kHistory(90, 'h');
const std::string kLine = "a line of twenty B.\n";  // each one takes the file past kLimit

fs::path Live(const TempDir& dir) {
  return dir.path() / "a.log";
}
fs::path Numbered(const TempDir& dir, int n) {
  return dir.path() / ("a." + std::to_string(n) + ".log");
}

// Reports seen while three lines are written with the rotation blocked and
// one more after it is lifted, as failures * 10 + recoveries.
int WriteAcrossABlock(const fs::path& live, const std::function<void()>& block,
                      const std::function<void()>& lift) {
  RotatingFile file(live, kLimit, 3);
  int reports = 0;
  auto write = [&] {
    file.Write(kLine);
    if (auto news = file.TakeNews()) {
      reports += news->failed ? 10 : 1;
    }
  };
  block();
  write();
  write();
  write();
  lift();
  write();
  return reports;
}

struct BlockCase {
  const char* name;
  // Sets up the block in `dir`; returns the code that blocks and lifts it,
  // run where the log is written.
  std::function<std::pair<std::function<void()>, std::function<void()>>(const TempDir& dir)> make;
  bool unprivileged = false;  // written by a user that root's rights do not mask
};

class RotationBlockedTest : public ::testing::TestWithParam<BlockCase> {};

// a.2.log must move to a.3.log first; until it can, a.log takes every line.
TEST_P(RotationBlockedTest, EveryLineStaysAndEachChangeIsReportedOnce) {
  TempDir dir;
  WriteFile(Live(dir), kHistory);
  WriteFile(Numbered(dir, 2), "older");
  auto [block, lift] = GetParam().make(dir);
  int reports = -1;
#if !defined(_WIN32)
  if (GetParam().unprivileged && geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    const group* nogroup = getgrnam("nogroup");
    ASSERT_TRUE(nobody != nullptr && nogroup != nullptr);
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      ASSERT_EQ(chown(entry.path().c_str(), nobody->pw_uid, nogroup->gr_gid), 0);
    }
    ASSERT_EQ(chown(dir.path().c_str(), nobody->pw_uid, nogroup->gr_gid), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const bool dropped =
          setgroups(0, nullptr) == 0 && setgid(nogroup->gr_gid) == 0 && setuid(nobody->pw_uid) == 0;
      int code = 99;
      try {
        code = dropped ? WriteAcrossABlock(Live(dir), block, lift) : 98;
      } catch (...) {
      }
      _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    reports = WEXITSTATUS(status);
  }
#endif
  if (reports < 0) {
    reports = WriteAcrossABlock(Live(dir), block, lift);
  }
  EXPECT_EQ(reports, 11) << "one failure for three lines, then one recovery";
  EXPECT_EQ(ReadFile(Numbered(dir, 1)), kHistory + kLine + kLine + kLine);
  EXPECT_EQ(ReadFile(Numbered(dir, 3)), "older");
  EXPECT_EQ(ReadFile(Live(dir)), kLine);
}

std::function<void()> Nothing() {
  return [] {};
}

const BlockCase kBlocks[] = {
    BlockCase{"AFolderInTheWayOfARotatedName",
              [](const TempDir& dir) {
                fs::create_directories(Numbered(dir, 3) / "kept");
                return std::pair{Nothing(), std::function<void()>([target = Numbered(dir, 3)] {
                                   fs::remove_all(target);
                                 })};
              }},
#if defined(_WIN32)
    // A viewer or an antivirus holding a rotated file without delete
    // sharing.
    BlockCase{"ARotatedFileHeldOpen",
              [](const TempDir& dir) {
                auto held = std::make_shared<HANDLE>(INVALID_HANDLE_VALUE);
                auto path = Numbered(dir, 2);
                return std::pair{std::function<void()>([held, path] {
                                   *held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                       nullptr, OPEN_EXISTING,
                                                       FILE_ATTRIBUTE_NORMAL, nullptr);
                                   ASSERT_NE(*held, INVALID_HANDLE_VALUE);
                                 }),
                                 std::function<void()>([held] { CloseHandle(*held); })};
              }}
#else
    BlockCase{"AFolderTheWriterMayNotChange",
              [](const TempDir& dir) {
                auto mode = [path = dir.path()](fs::perms p) {
                  return std::function<void()>([path, p] { fs::permissions(path, p); });
                };
                return std::pair{mode(fs::perms::owner_read | fs::perms::owner_exec),
                                 mode(fs::perms::owner_all)};
              },
              true}
#endif
};

INSTANTIATE_TEST_SUITE_P(Blocks, RotationBlockedTest, ::testing::ValuesIn(kBlocks),
                         [](const auto& row) { return std::string(row.param.name); });

struct RefusalCase {
  const char* name;
  // Puts something at `live`; what it returns is held while the log opens.
  std::function<std::shared_ptr<void>(const fs::path& live)> plant;
  const char* reason;               // in the error
  const char* file_name = "a.log";  // of the live file
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, OnlyARegularFileIsOpenedAndNothingIsWrittenThrough) {
  TempDir dir;
  const fs::path live = dir.path() / GetParam().file_name;
  const fs::path target = dir.path() / "target";
  WriteFile(target, "someone else's");
  auto held = GetParam().plant(live);
  try {
    RotatingFile file(live, kLimit, 3);
    ADD_FAILURE() << "opened";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().reason), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(target), "someone else's");
  EXPECT_FALSE(fs::exists(dir.path() / "absent"));
}

const RefusalCase kRefusals[] = {
#if defined(_WIN32)
    // The name of a device in every folder.
    RefusalCase{"TheNulDevice", [](const fs::path&) { return nullptr; }, "a device", "NUL"}
#else
    RefusalCase{"ALinkToAFile",
                [](const fs::path& live) {
                  fs::create_symlink(live.parent_path() / "target", live);
                  return nullptr;
                },
                "a symbolic link"},
    RefusalCase{"ADanglingLink",
                [](const fs::path& live) {
                  fs::create_symlink(live.parent_path() / "absent", live);
                  return nullptr;
                },
                "a symbolic link"},
    RefusalCase{"AFifoWithoutAReader",
                [](const fs::path& live) {
                  EXPECT_EQ(mkfifo(live.c_str(), 0600), 0);
                  return nullptr;
                },
                "a FIFO"},
    RefusalCase{"AFifoWithAReader",
                [](const fs::path& live) -> std::shared_ptr<void> {
                  EXPECT_EQ(mkfifo(live.c_str(), 0600), 0);
                  const int fd = open(live.c_str(), O_RDONLY | O_NONBLOCK);
                  EXPECT_GE(fd, 0);
                  return std::shared_ptr<void>(nullptr, [fd](void*) { close(fd); });
                },
                "a FIFO"},
    // Opening one fails as a FIFO without a reader does: it must still be
    // named for what it is.
    RefusalCase{"AListeningSocket",
                [](const fs::path& live) -> std::shared_ptr<void> {
                  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                  sockaddr_un address{};
                  address.sun_family = AF_UNIX;
                  EXPECT_LT(live.native().size(), sizeof address.sun_path);
                  live.native().copy(address.sun_path, sizeof address.sun_path - 1);
                  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
                  return std::shared_ptr<void>(nullptr, [fd](void*) { close(fd); });
                },
                "a socket"},
    RefusalCase{"AFolder",
                [](const fs::path& live) {
                  fs::create_directory(live);
                  return nullptr;
                },
                "cannot open"}
#endif
};

INSTANTIATE_TEST_SUITE_P(Kinds, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
